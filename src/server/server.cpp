#include "server/server.hpp"

#include <asio.hpp>
#include <pthread.h>

#include <array>
#include <unordered_set>

#include "app/idle.hpp"
#include "log/app_state.hpp"

namespace scribbet {

using asio::ip::tcp;

namespace {

constexpr std::string_view continueLine = "HTTP/1.1 100 Continue\r\n\r\n";
// How long accepting rests when the process is short of descriptors or memory.
constexpr auto acceptRest = std::chrono::milliseconds(50);

void nameThread(const char* name) {
#if defined(__APPLE__)
    pthread_setname_np(name);
#else
    pthread_setname_np(pthread_self(), name);
#endif
}

// Accept errors that say nothing about the listener itself: the client gave up before
// it was taken, or the process is short of something for a moment.
bool passing(const std::error_code& ec) {
    return ec == asio::error::connection_aborted || ec == asio::error::connection_reset ||
           ec == asio::error::interrupted || ec == asio::error::would_block ||
           ec == asio::error::try_again || ec == asio::error::no_descriptors ||
           ec == std::errc::too_many_files_open_in_system || ec == asio::error::no_buffer_space ||
           ec == asio::error::no_memory || ec == std::errc::protocol_error;
}

std::filesystem::path standardized(const std::filesystem::path& dir) {
    std::error_code ec;
    auto out = std::filesystem::weakly_canonical(dir, ec);
    if (ec) out = std::filesystem::absolute(dir, ec).lexically_normal();
    return out;
}

std::string withSlash(const std::filesystem::path& dir) {
    auto text = dir.string();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

// A callback that runs only while the server lives. When it does not run, whatever it
// holds (a connection, say) is released, which closes that connection.
template <class F>
auto guarded(const std::weak_ptr<Server>& weak, F f) {
    return [weak, f = std::move(f)](auto&&... args) mutable {
        if (auto server = weak.lock()) f(*server, std::forward<decltype(args)>(args)...);
    };
}

} // namespace

struct Server::Net {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning = asio::make_work_guard(io);
    std::optional<tcp::acceptor> listener;
    asio::steady_timer retryTimer{io};
    asio::steady_timer acceptTimer{io};
    int attempts = 0;
    std::unordered_set<ConnPtr> conns;
    // One read buffer serves every connection: reads happen one at a time on this thread,
    // and an idle connection then costs no buffer at all.
    std::unique_ptr<char[]> scratch = std::make_unique<char[]>(maxRead);
    std::thread thread;
};

struct Server::Conn {
    explicit Conn(tcp::socket s) : socket(std::move(s)), limit(socket.get_executor()) {}
    tcp::socket socket;
    asio::steady_timer limit; // the request limit, later the linger limit
    std::string buf;          // everything received so far
    bool sentContinue = false;
    bool answered = false;
    bool writing = false;                  // a write is under way
    std::shared_ptr<const Outgoing> queued; // the reply, waiting for "100 Continue" to go out
};

struct Server::Outgoing {
    std::string head;
    Reply reply;
};

Server::Server(std::filesystem::path web, Options options)
    : web_(standardized(web)),
      webPrefix_(withSlash(web_)),
      options_(std::move(options)),
      port_(options_.port == 0 ? defaultPort : options_.port),
      net_(std::make_unique<Net>()),
      self_(this, [](Server*) {}),
      weak_(self_) {
    work_.emplace("com.tarnwell.scribbet.work");
    asio::post(net_->io, guarded(weak_, [](Server& s) { s.start(); }));
    net_->thread = std::thread([net = net_.get()] {
        nameThread("scribbet.net"); // com.tarnwell.scribbet.net; the system allows 15 characters
        for (;;) {
            try {
                net->io.run();
                return;
            } catch (const std::exception& e) {
                log(std::string("Server error: ") + e.what());
            }
        }
    });
}

Server::~Server() { stop(); }

void Server::stop() {
    if (stopped_) return;
    stopped_ = true;
    self_.reset(); // from here on every callback finds the server gone
    asio::post(net_->io, [this] {
        closeAll();
        net_->keepRunning.reset();
    });
    if (net_->thread.joinable()) net_->thread.join();
    work_.reset(); // waits for answers under way; queued ones find the server gone
}

// ---- The listener ----

void Server::start() {
    auto& net = *net_;
    const tcp::endpoint at(asio::ip::address_v4::loopback(), port_);
    tcp::acceptor acceptor(net.io);
    std::error_code ec;
    acceptor.open(at.protocol(), ec);
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(at, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        failed(ec);
        return;
    }
    net.listener.emplace(std::move(acceptor));
    listening();
    acceptNext();
}

void Server::listening() {
    net_->attempts = 0;
    log("Web server ready on port " + std::to_string(port_) + ".");
}

void Server::failed(const std::error_code& ec) {
    log("Server stopped: " + ec.message());
    if (net_->listener) {
        std::error_code ignored;
        net_->listener->close(ignored);
        net_->listener.reset();
    }
    retry();
}

void Server::retry() {
    auto& net = *net_;
    net.attempts += 1;
    if (net.attempts > options_.maxRestarts) {
        log("Gave up starting the server: another program is using port " + std::to_string(port_) +
            ". Quit it (or restart the Mac) and open Scribbet again.");
        return;
    }
    net.retryTimer.expires_after(options_.retryDelay);
    net.retryTimer.async_wait(guarded(weak_, [](Server& s, std::error_code ec) {
        if (!ec) s.start();
    }));
}

void Server::acceptNext() {
    if (!net_->listener) return;
    net_->listener->async_accept(guarded(weak_, [](Server& s, std::error_code ec, tcp::socket socket) {
        if (!ec) {
            s.accepted(std::make_shared<Conn>(std::move(socket)));
            s.acceptNext();
        } else if (ec == asio::error::operation_aborted || !s.net_->listener) {
            // closed on purpose
        } else if (passing(ec)) {
            s.net_->acceptTimer.expires_after(acceptRest);
            s.net_->acceptTimer.async_wait(guarded(s.weak_, [](Server& t, std::error_code e) {
                if (!e) t.acceptNext();
            }));
        } else {
            s.failed(ec);
        }
    }));
}

// ---- Connections ----

void Server::accepted(ConnPtr conn) {
    std::error_code ec;
    conn->socket.non_blocking(true, ec);
    net_->conns.insert(conn);
    // The limit is on receiving a whole request; answering may take longer.
    conn->limit.expires_after(options_.requestLimit);
    conn->limit.async_wait(guarded(weak_, [conn](Server& s, std::error_code e) {
        if (!e && !conn->answered) s.close(conn);
    }));
    receive(conn);
}

void Server::receive(const ConnPtr& conn) {
    conn->socket.async_wait(tcp::socket::wait_read, guarded(weak_, [conn](Server& s, std::error_code ec) {
        if (ec) {
            s.close(conn);
        } else {
            s.received(conn);
        }
    }));
}

void Server::received(const ConnPtr& conn) {
    if (conn->answered) return;
    std::error_code ec;
    const auto n = conn->socket.read_some(asio::buffer(net_->scratch.get(), maxRead), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        receive(conn);
        return;
    }
    if (n == 0) {
        // The stream ended or failed; nothing new arrived, so the request stays partial.
        close(conn);
        return;
    }
    conn->buf.append(net_->scratch.get(), n);

    auto result = Request::parse(conn->buf);
    if (const auto* bad = std::get_if<Request::Bad>(&result)) {
        conn->answered = true;
        std::string().swap(conn->buf);
        send(conn, json(bad->status, {{"ok", false}, {"msg", "Bad request."}}));
    } else if (auto* request = std::get_if<Request>(&result)) {
        conn->answered = true;
        std::string().swap(conn->buf);
        work_->async(guarded(weak_, [conn, request = std::move(*request)](Server& s) { s.respond(request, conn); }));
    } else {
        if (std::get<Request::Partial>(result).expectContinue && !conn->sentContinue) sendContinue(conn);
        receive(conn);
    }
}

void Server::sendContinue(const ConnPtr& conn) {
    conn->sentContinue = true;
    conn->writing = true;
    asio::async_write(conn->socket, asio::buffer(continueLine),
                      guarded(weak_, [conn](Server& s, std::error_code, std::size_t) {
                          conn->writing = false;
                          if (conn->queued) s.write(conn, std::exchange(conn->queued, nullptr));
                      }));
}

void Server::send(const ConnPtr& conn, Reply reply) {
    auto out = std::make_shared<const Outgoing>(Outgoing{head(reply), std::move(reply)});
    asio::dispatch(net_->io, guarded(weak_, [conn, out](Server& s) { s.write(conn, out); }));
}

void Server::write(const ConnPtr& conn, std::shared_ptr<const Outgoing> out) {
    if (!conn->socket.is_open()) return;
    if (conn->writing) {
        conn->queued = std::move(out); // one write at a time on a socket
        return;
    }
    conn->writing = true;
    const std::array<asio::const_buffer, 2> parts{asio::buffer(out->head), asio::buffer(out->reply.body)};
    asio::async_write(conn->socket, parts, guarded(weak_, [conn, out](Server& s, std::error_code ec, std::size_t) {
        conn->writing = false;
        if (ec) {
            s.close(conn);
        } else {
            s.linger(conn);
        }
    }));
}

// Closing a socket while the client's bytes lie unread makes the system reset the
// connection, and a reset can destroy the reply before the client reads it (a refused
// upload is still arriving, say). So the server ends its side first and reads and drops
// whatever still comes until the client closes or the linger limit passes.
void Server::linger(const ConnPtr& conn) {
    std::error_code ec;
    conn->socket.shutdown(tcp::socket::shutdown_send, ec);
    if (ec) {
        close(conn);
        return;
    }
    conn->limit.expires_after(options_.lingerLimit);
    conn->limit.async_wait(guarded(weak_, [conn](Server& s, std::error_code e) {
        if (!e) s.close(conn);
    }));
    drain(conn);
}

void Server::drain(const ConnPtr& conn) {
    conn->socket.async_wait(tcp::socket::wait_read, guarded(weak_, [conn](Server& s, std::error_code ec) {
        if (!ec) {
            const auto n = conn->socket.read_some(asio::buffer(s.net_->scratch.get(), maxRead), ec);
            if (n > 0 || ec == asio::error::would_block || ec == asio::error::try_again) {
                s.drain(conn);
                return;
            }
        }
        s.close(conn);
    }));
}

void Server::close(const ConnPtr& conn) {
    std::error_code ec;
    conn->limit.cancel();
    conn->socket.close(ec);
    net_->conns.erase(conn);
}

void Server::closeAll() {
    auto& net = *net_;
    std::error_code ec;
    if (net.listener) net.listener->close(ec);
    net.listener.reset();
    net.retryTimer.cancel();
    net.acceptTimer.cancel();
    auto conns = std::move(net.conns);
    net.conns.clear();
    for (const auto& conn : conns) close(conn);
}

// ---- Answering ----

void Server::respond(const Request& request, const ConnPtr& conn) {
    noteRequest();
    Reply reply;
    try {
        reply = answer(request);
    } catch (const std::exception&) {
        // An answer that threw could not be written; the client still gets a reply.
        reply = json(500, nullptr);
    }
    send(conn, std::move(reply));
}

void Server::noteRequest() {
    if (!MainQueue::installed()) return;
    if (idleQueued_->exchange(true)) return;
    MainQueue::shared().async([queued = idleQueued_] {
        queued->store(false);
        Idle::setLastRequest(clock().now());
    });
}

std::optional<std::string> Server::png() const {
    std::lock_guard guard(lock_);
    return png_;
}

void Server::setPng(std::optional<std::string> bytes) {
    std::lock_guard guard(lock_);
    png_ = std::move(bytes);
}

} // namespace scribbet
