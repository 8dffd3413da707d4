#include "server/server.hpp"

#include <asio.hpp>
#include <pthread.h>

#include <array>
#include <cstdint>
#include <list>
#include <unordered_set>

#include "log/app_state.hpp"
#include "server/descriptors.hpp"

namespace scribbet {

using asio::ip::tcp;

namespace {

constexpr std::string_view continueLine = "HTTP/1.1 100 Continue\r\n\r\n";
// How long accepting rests when the process is short of memory, or of descriptors with no
// waiting connection to give one back.
constexpr auto acceptRest = std::chrono::milliseconds(50);
// Descriptors left free when the process turned out to have fewer than the budget allowed
// for: a file to read, the log, a call to the program.
constexpr std::size_t spareDescriptors = 16;
// How long the server holds fewer connections after that.
constexpr auto squeezeTime = std::chrono::seconds(10);
// How long a stop gives the replies it makes itself to be written.
constexpr auto stopReplyLimit = std::chrono::milliseconds(500);
// How often, at most, the main thread hears of requests.
constexpr auto noteInterval = std::chrono::milliseconds(50);

void nameThread(const char* name) {
#if defined(__APPLE__)
    pthread_setname_np(name);
#else
    pthread_setname_np(pthread_self(), name);
#endif
}

bool outOfDescriptorsError(const std::error_code& ec) {
    return ec == asio::error::no_descriptors || ec == std::errc::too_many_files_open_in_system;
}

// Accept errors that say nothing about the listener itself: the client gave up before
// it was taken, or the process is short of something for a moment.
bool passing(const std::error_code& ec) {
    return ec == asio::error::connection_aborted || ec == asio::error::connection_reset ||
           ec == asio::error::interrupted || ec == asio::error::would_block ||
           ec == asio::error::try_again || ec == asio::error::no_buffer_space ||
           ec == asio::error::no_memory || ec == std::errc::protocol_error;
}

std::size_t budgetFor(const ServerOptions& options) {
    if (options.maxConnections > 0) return options.maxConnections;
    const auto soft = options.raiseDescriptorLimit ? Descriptors::raise()
                                                   : Descriptors::current().value_or(Descriptors::Limit{256, 256}).soft;
    return Descriptors::connectionBudget(soft);
}

} // namespace

struct Server::Net {
    explicit Net(std::size_t most) : budget(most) {}
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning = asio::make_work_guard(io);
    std::optional<tcp::acceptor> listener;
    asio::steady_timer retryTimer{io};
    asio::steady_timer acceptTimer{io};
    int attempts = 0;
    std::unordered_set<ConnPtr> conns;
    // The connections whose request has not come whole, the one silent longest first.
    std::list<ConnPtr> waiting;
    std::size_t budget; // the most connections held at once
    // Fewer, for a while after the process ran out of descriptors.
    std::size_t squeezed = SIZE_MAX;
    std::chrono::steady_clock::time_point squeezedUntil{};
    std::size_t room() {
        if (squeezed != SIZE_MAX && std::chrono::steady_clock::now() >= squeezedUntil) squeezed = SIZE_MAX;
        return std::min(budget, squeezed);
    }
    // When the main thread was last told of a request, and a later note is due.
    std::chrono::steady_clock::time_point lastNoted{};
    asio::steady_timer noteTimer{io};
    bool noteArmed = false;
    // One read buffer serves every connection: reads happen one at a time on this thread,
    // and an idle connection then costs no buffer at all.
    std::unique_ptr<char[]> scratch = std::make_unique<char[]>(maxRead);
    std::thread thread;
};

struct Server::Conn {
    explicit Conn(tcp::socket s) : socket(std::move(s)), timer(socket.get_executor()) {}
    tcp::socket socket;
    // The limit on receiving the request, then the limit on lingering after the reply.
    asio::steady_timer timer;
    std::chrono::steady_clock::time_point lastByte; // accepted, or the last byte came
    std::list<ConnPtr>::iterator place;             // in Net::waiting, while `waits`
    bool waits = false;
    std::string buf; // everything received so far
    Request::Progress progress;
    bool sentContinue = false;
    bool answered = false;
    bool refused = false;                   // by the parser: the client may still be sending
    bool busy = false;                      // answered, and the reply not yet written
    bool writing = false;                   // a write is under way
    std::shared_ptr<const Outgoing> queued; // the reply, waiting for "100 Continue" to go out
    std::optional<Answer> answer;           // an API request's, while it waits
};

// Answers come from any thread and may come after the server has stopped; they reach net
// through here, or nowhere once the door is closed.
struct Server::Door {
    std::mutex mutex;
    asio::io_context* io = nullptr;
    std::weak_ptr<Server> server;
    void post(std::weak_ptr<Conn> conn, Reply reply) {
        std::lock_guard lock(mutex);
        if (!io) return;
        asio::post(*io, [server = server, conn = std::move(conn), reply = std::move(reply)]() mutable {
            auto s = server.lock();
            auto c = conn.lock();
            if (s && c) s->send(c, std::move(reply));
        });
    }
};

struct Server::Outgoing {
    std::string head;
    Reply reply;
};

Server::Server(std::filesystem::path web, Options options)
    : files_(web),
      options_(std::move(options)),
      port_(options_.port == 0 ? defaultPort : options_.port),
      net_(std::make_unique<Net>(budgetFor(options_))),
      door_(std::make_shared<Door>()),
      weak_(factory_.weak()) {
    door_->io = &net_->io;
    door_->server = weak_;
    // No answer holds a worker while it waits, so a few serve any number of requests.
    work_.emplace("com.tarnwell.scribbet.work", 2, 8);
    asio::post(net_->io, weakly(weak_, [](Server& s) { s.start(); }));
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
    asio::post(net_->io, weakly(weak_, [](Server& s) { s.quit(); }));
    // A reply that is being made (an insert the program is placing, say) still reaches its
    // page, unless it takes longer than the limit; then each client still waiting hears what
    // its answer holds for a stop, and has a moment to read it. Nobody's work is waited for.
    auto settled = [this](Duration limit) {
        std::unique_lock lock(busyLock_);
        busyDone_.wait_for(lock, limit, [this] { return quit_ && busy_ == 0; });
        return busy_ == 0;
    };
    if (!settled(options_.stopLimit)) {
        asio::post(net_->io, weakly(weak_, [](Server& s) { s.tellWaiting(); }));
        settled(stopReplyLimit);
    }
    factory_.invalidate(); // from here on every callback finds the server gone
    asio::post(net_->io, [this] {
        closeAll();
        net_->keepRunning.reset();
    });
    if (net_->thread.joinable()) net_->thread.join();
    {
        std::lock_guard lock(door_->mutex);
        door_->io = nullptr; // answers still to come go nowhere
    }
    work_.reset(); // dispatching only: it ends at once; queued ones find the server gone
}

std::function<void(Server&, const Request&, Answer)> Server::sync(std::function<Reply(Server&, const Request&)> f) {
    return [f = std::move(f)](Server& server, const Request& request, Answer answer) { answer(f(server, request)); };
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
    net.retryTimer.async_wait(weakly(weak_, [](Server& s, std::error_code ec) {
        if (!ec) s.start();
    }));
}

void Server::acceptNext() {
    if (!net_->listener) return;
    net_->listener->async_accept(weakly(weak_, [](Server& s, std::error_code ec, tcp::socket socket) {
        if (!ec) {
            s.accepted(std::make_shared<Conn>(std::move(socket)));
            s.acceptNext();
        } else if (ec == asio::error::operation_aborted || !s.net_->listener) {
            // closed on purpose
        } else if (outOfDescriptorsError(ec)) {
            s.outOfDescriptors();
        } else if (passing(ec)) {
            s.restAccepting();
        } else {
            s.failed(ec);
        }
    }));
}

void Server::restAccepting() {
    net_->acceptTimer.expires_after(acceptRest);
    net_->acceptTimer.async_wait(weakly(weak_, [](Server& s, std::error_code e) {
        if (!e) s.acceptNext();
    }));
}

// The process has fewer descriptors than the budget allowed for (other parts hold some, or
// the limit could not be raised): for a while the server holds fewer connections, leaving a
// few spare, and the ones that waited longest make room for the client at the door.
void Server::outOfDescriptors() {
    auto& net = *net_;
    const auto held = net.conns.size();
    net.squeezed = held > spareDescriptors ? held - spareDescriptors : 1;
    net.squeezedUntil = std::chrono::steady_clock::now() + squeezeTime;
    bool freed = false;
    while (net.conns.size() > net.room() && closeLongestSilent()) freed = true;
    if (freed) {
        acceptNext();
    } else {
        restAccepting(); // every connection is being answered: they end soon by themselves
    }
}

// A connection being answered is never taken, nor one whose request is coming in (it sent a
// byte a moment ago): only one that waits for its request, the one silent longest first.
bool Server::closeLongestSilent() {
    const auto now = std::chrono::steady_clock::now();
    for (const ConnPtr& c : net_->waiting) {
        if (!c->buf.empty() && now - c->lastByte < options_.activeRead) continue;
        // Bytes that came and are not read yet (this thread was busy) count as just sent.
        std::error_code ec;
        if (c->socket.available(ec) > 0 && !ec) continue;
        const ConnPtr silent = c;
        close(silent);
        return true;
    }
    return false;
}

// ---- Connections ----

void Server::accepted(ConnPtr conn) {
    auto& net = *net_;
    if (net.conns.size() >= net.room()) closeLongestSilent();
    std::error_code ec;
    conn->socket.non_blocking(true, ec);
    conn->lastByte = std::chrono::steady_clock::now();
    net.conns.insert(conn);
    conn->place = net.waiting.insert(net.waiting.end(), conn);
    conn->waits = true;
    // The limit is on receiving a whole request; answering may take longer.
    conn->timer.expires_after(options_.requestLimit);
    conn->timer.async_wait(weakly(weak_, [conn](Server& s, std::error_code e) {
        if (!e && conn->waits) s.close(conn);
    }));
    received(conn); // the request has often arrived with the connection
}

void Server::receive(const ConnPtr& conn) {
    conn->socket.async_wait(tcp::socket::wait_read, weakly(weak_, [conn](Server& s, std::error_code ec) {
        if (ec) {
            s.close(conn);
        } else {
            s.received(conn);
        }
    }));
}

void Server::received(const ConnPtr& conn) {
    if (conn->answered || !conn->socket.is_open()) return;
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
    conn->lastByte = std::chrono::steady_clock::now();
    net_->waiting.splice(net_->waiting.end(), net_->waiting, conn->place); // now the least silent

    auto result = Request::parse(conn->buf, conn->progress);
    if (std::holds_alternative<Request::Partial>(result)) {
        if (std::get<Request::Partial>(result).expectContinue && !conn->sentContinue) sendContinue(conn);
        receive(conn);
        return;
    }
    auto& net = *net_;
    net.waiting.erase(conn->place);
    conn->waits = false;
    conn->timer.cancel();
    conn->answered = true;
    std::string().swap(conn->buf);
    setBusy(*conn, true);
    if (const auto* bad = std::get_if<Request::Bad>(&result)) {
        conn->refused = true;
        send(conn, Reply::json(bad->status, {{"ok", false}, {"msg", "Bad request."}}));
        return;
    }
    noteRequest(); // every whole request, refused ones included
    Answer answer = answerFor(conn);
    if (auto& request = std::get<Request>(result); request.path.starts_with("/api/")) {
        conn->answer = answer;
        watch(conn);
        work_->async(weakly(weak_, [answer, request = std::move(request)](Server& s) {
            s.respond(request, answer);
        }));
    } else {
        respond(request, answer); // a file or a refusal: no reason to wait for another thread
    }
}

// While its answer is being made, a client that closes (or whose connection breaks) has
// gone: its Answer says so, and the connection goes at once. Bytes after the request are
// dropped, as they would be after the reply.
void Server::watch(const ConnPtr& conn) {
    conn->socket.async_wait(tcp::socket::wait_read, weakly(weak_, [conn](Server& s, std::error_code ec) {
        if (!conn->busy || !conn->socket.is_open() || !conn->answer) return; // answered meanwhile
        if (!ec) {
            const auto n = conn->socket.read_some(asio::buffer(s.net_->scratch.get(), maxRead), ec);
            if (n > 0 || ec == asio::error::would_block || ec == asio::error::try_again) {
                s.watch(conn);
                return;
            }
        }
        conn->answer->gone();
        s.close(conn);
    }));
}

Answer Server::answerFor(const ConnPtr& conn) {
    return Answer::to([door = door_, weak = std::weak_ptr<Conn>(conn)](Reply reply) mutable {
        door->post(std::move(weak), std::move(reply));
    });
}

void Server::sendContinue(const ConnPtr& conn) {
    conn->sentContinue = true;
    conn->writing = true;
    asio::async_write(conn->socket, asio::buffer(continueLine),
                      weakly(weak_, [conn](Server& s, std::error_code, std::size_t) {
                          conn->writing = false;
                          if (conn->queued) s.write(conn, std::exchange(conn->queued, nullptr));
                      }));
}

void Server::send(const ConnPtr& conn, Reply reply) {
    conn->answer.reset();
    write(conn, std::make_shared<const Outgoing>(Outgoing{reply.head(), std::move(reply)}));
}

void Server::write(const ConnPtr& conn, std::shared_ptr<const Outgoing> out) {
    if (!conn->socket.is_open()) return;
    if (conn->writing) {
        conn->queued = std::move(out); // one write at a time on a socket
        return;
    }
    conn->writing = true;
    const std::array<asio::const_buffer, 2> parts{asio::buffer(out->head), asio::buffer(out->reply.body)};
    asio::async_write(conn->socket, parts, weakly(weak_, [conn, out](Server& s, std::error_code ec, std::size_t) {
        conn->writing = false;
        s.setBusy(*conn, false);
        if (ec) {
            s.close(conn);
        } else {
            s.written(conn);
        }
    }));
}

// Closing a socket while the client's bytes lie unread makes the system reset the
// connection, and a reset can destroy the reply before the client reads it. A whole request
// with nothing behind it leaves nothing unread, so its connection closes at once; after a
// refusal (an upload may still be arriving) or with bytes waiting, it lingers.
void Server::written(const ConnPtr& conn) {
    std::error_code ec;
    const auto unread = conn->socket.available(ec);
    if (!conn->refused && !ec && unread == 0) {
        close(conn);
    } else {
        linger(conn);
    }
}

// The server ends its side first and reads and drops whatever still comes until the
// client closes or the linger limit passes.
void Server::linger(const ConnPtr& conn) {
    std::error_code ec;
    conn->socket.shutdown(tcp::socket::shutdown_send, ec);
    if (ec) {
        close(conn);
        return;
    }
    conn->timer.expires_after(options_.lingerLimit);
    conn->timer.async_wait(weakly(weak_, [conn](Server& s, std::error_code e) {
        if (!e) s.close(conn);
    }));
    drain(conn);
}

void Server::drain(const ConnPtr& conn) {
    conn->socket.async_wait(tcp::socket::wait_read, weakly(weak_, [conn](Server& s, std::error_code ec) {
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
    if (conn->waits) {
        net_->waiting.erase(conn->place);
        conn->waits = false;
    }
    setBusy(*conn, false);
    std::error_code ec;
    conn->timer.cancel();
    conn->socket.close(ec);
    net_->conns.erase(conn);
}

void Server::setBusy(Conn& conn, bool busy) {
    if (conn.busy == busy) return;
    conn.busy = busy;
    std::lock_guard lock(busyLock_);
    busy_ += busy ? 1 : -1;
    if (busy_ == 0 && quit_) busyDone_.notify_all();
}

// Stopping, first step: no new connections, and requests that have not come whole are cut.
void Server::quit() {
    auto& net = *net_;
    std::error_code ec;
    if (net.listener) net.listener->close(ec);
    net.listener.reset();
    net.retryTimer.cancel();
    net.acceptTimer.cancel();
    while (!net.waiting.empty()) {
        const ConnPtr cut = net.waiting.front();
        close(cut);
    }
    std::lock_guard lock(busyLock_);
    quit_ = true;
    busyDone_.notify_all();
}

// Stopping, the answers not made in time: the replies go out on this thread, right after.
void Server::tellWaiting() {
    const Reply quitting = Reply::json(503, {{"ok", false}, {"msg", "Scribbet is quitting."}});
    for (const auto& conn : std::vector<ConnPtr>(net_->conns.begin(), net_->conns.end())) {
        if (conn->answer) conn->answer->stopping(quitting);
    }
}

void Server::closeAll() {
    auto& net = *net_;
    std::error_code ec;
    if (net.listener) net.listener->close(ec);
    net.listener.reset();
    net.retryTimer.cancel();
    net.acceptTimer.cancel();
    net.noteTimer.cancel();
    auto conns = std::move(net.conns);
    net.conns.clear();
    for (const auto& conn : conns) {
        // Bytes already here are read first, so that closing does not reset the connection
        // under a reply that was written a moment ago.
        for (int i = 0; i < 16 && conn->socket.is_open(); ++i) {
            if (conn->socket.read_some(asio::buffer(net.scratch.get(), maxRead), ec) == 0) break;
        }
        close(conn);
    }
}

// ---- Answering ----

void Server::respond(const Request& request, Answer reply) {
    try {
        answer(request, reply);
    } catch (const std::exception&) {
        // An answer that threw could not be written; the client still gets a reply.
        reply(Reply::json(500, nullptr));
    }
}

// The idle rule counts whole minutes, so a busy stretch of requests wakes the main thread
// once per noteInterval instead of once per request; the last request of a stretch is noted
// when the interval ends, a moment late, never early.
void Server::noteRequest() {
    auto& net = *net_;
    if (!options_.main || !options_.requested || net.noteArmed) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - net.lastNoted >= noteInterval) {
        postNote();
        return;
    }
    net.noteArmed = true;
    net.noteTimer.expires_at(net.lastNoted + noteInterval);
    net.noteTimer.async_wait(weakly(weak_, [](Server& s, std::error_code ec) {
        s.net_->noteArmed = false;
        if (!ec) s.postNote();
    }));
}

void Server::postNote() {
    net_->lastNoted = std::chrono::steady_clock::now();
    if (idleQueued_->exchange(true)) return; // the one still waiting takes the time when it runs
    options_.main->async([queued = idleQueued_, requested = options_.requested] {
        queued->store(false);
        requested();
    });
}

} // namespace scribbet
