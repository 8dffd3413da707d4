#include "adapters/linux/instance_channel.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <asio.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>
#include <set>
#include <thread>
#include <string_view>

#include "adapters/linux/local_socket.hpp"

namespace scribbet::linuxhost {

using asio::local::stream_protocol;

namespace {

constexpr auto retryPause = std::chrono::milliseconds(50);
constexpr std::size_t maxAnswerBytes = 4096;
// The answer of an instance that is quitting: it took nothing.
constexpr std::string_view ending = "ENDING";
// How long a stop waits for its last answers to go out.
constexpr auto endingLimit = std::chrono::milliseconds(500);

std::string amount(std::size_t bytes) {
    constexpr std::size_t kib = 1024, mib = kib * kib;
    if (bytes >= mib && bytes % mib == 0) return std::to_string(bytes / mib) + " MiB";
    if (bytes >= kib && bytes % kib == 0) return std::to_string(bytes / kib) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string duration(std::chrono::milliseconds t) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(t.count()) / 1000.0);
    return text;
}

std::string tooLong(const std::filesystem::path& path) {
    return "The socket path " + path.string() + " is too long for a Unix socket.";
}

// The user at the other end of a connected socket.
std::optional<uid_t> peerUser(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) return std::nullopt;
    return cred.uid;
}

// The messages of a whole hand-over: each ended by a NUL, then an empty one that ends the
// hand-over, so that a sender cut off between two messages is not taken for one that
// finished. None when it is cut off, goes on after its end or holds a message of no known
// kind: the instance takes all of a hand-over or nothing.
std::optional<std::vector<std::string>> messagesOf(const std::string& bytes) {
    std::vector<std::string> out;
    for (std::size_t start = 0;;) {
        const std::size_t end = bytes.find('\0', start);
        if (end == std::string::npos) return std::nullopt;
        if (end == start) {
            if (end + 1 != bytes.size()) return std::nullopt;
            return out;
        }
        std::string message = bytes.substr(start, end - start);
        if (!(message.starts_with('L') || message == "R")) return std::nullopt;
        out.push_back(std::move(message));
        start = end + 1;
    }
}

std::string joined(const std::vector<std::string>& messages) {
    std::string bytes;
    for (const auto& m : messages) {
        bytes += m;
        bytes.push_back('\0');
    }
    bytes.push_back('\0');
    return bytes;
}

} // namespace

// ---- The instance's side ----

namespace {
class Client;
}

struct InstanceChannel::Net {
    Net(Handler h, const Limits& l) : handler(std::move(h)), limits(l) {}
    void accept();
    void end();

    Handler handler;
    Limits limits;
    // Before `io`: clients still count down while it goes away.
    std::atomic<std::size_t> clients = 0;
    std::set<Client*> live; // on the net thread
    bool ending = false;    // on the net thread: every sender from now on hears "ENDING"
    asio::io_context io{1};
    stream_protocol::acceptor acceptor{io};
    asio::steady_timer pause{io};
};

namespace {

// One sender, served on its own with its own time limit.
class Client : public std::enable_shared_from_this<Client> {
public:
    Client(InstanceChannel::Net& net, stream_protocol::socket socket)
        : net_(net), socket_(std::move(socket)), limit_(net.io) {
        ++net_.clients;
        net_.live.insert(this);
    }
    ~Client() {
        net_.live.erase(this);
        --net_.clients;
    }

    void start() {
        if (net_.ending) return answer(std::string(ending));
        if (peerUser(socket_.native_handle()) != net_.limits.user) {
            answer("ERR This Scribbet belongs to another user.");
            return;
        }
        if (net_.clients > net_.limits.clients) {
            answer("ERR Too many hand-overs at once, so none of these links were taken.");
            return;
        }
        limit_.expires_after(net_.limits.time);
        limit_.async_wait([self = shared_from_this()](std::error_code ec) {
            if (!ec && !self->answered_) {
                self->answer("ERR The hand-over did not arrive within " + duration(self->net_.limits.time) +
                             ", so none of its links were taken.");
            }
        });
        read();
    }

    // The instance ends: a sender whose links were not taken yet hears so.
    void end() {
        if (!answered_) answer(std::string(ending));
    }

private:
    void read() {
        socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](std::error_code ec, std::size_t n) {
            if (self->answered_) return;
            self->bytes_.append(self->buffer_.data(), n);
            if (self->bytes_.size() > self->net_.limits.bytes) {
                self->answer("ERR The hand-over is larger than " + amount(self->net_.limits.bytes) +
                             ", so none of its links were taken.");
            } else if (ec == asio::error::eof) {
                self->finish();
            } else if (ec) {
                self->close(); // the sender went away; it was never told its links were taken
            } else {
                self->read();
            }
        });
    }

    void finish() {
        const auto messages = messagesOf(bytes_);
        if (!messages) {
            answer("ERR The hand-over was cut off or not understood, so none of its links were taken.");
            return;
        }
        answer(net_.handler(*messages) ? "OK " + std::to_string(messages->size()) : std::string(ending));
    }

    // The last word to the sender, itself bounded in time, then the end.
    void answer(std::string text) {
        answered_ = true;
        std::error_code ignored;
        socket_.cancel(ignored);
        answer_ = std::move(text) + "\n";
        limit_.expires_after(net_.limits.time);
        limit_.async_wait([self = shared_from_this()](std::error_code ec) {
            if (!ec) self->close();
        });
        asio::async_write(socket_, asio::buffer(answer_), [self = shared_from_this()](std::error_code, std::size_t) {
            self->close();
        });
    }

    void close() {
        std::error_code ignored;
        limit_.cancel();
        socket_.shutdown(stream_protocol::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

    InstanceChannel::Net& net_;
    stream_protocol::socket socket_;
    asio::steady_timer limit_;
    std::array<char, 16384> buffer_{};
    std::string bytes_;
    std::string answer_;
    bool answered_ = false;
};

} // namespace

void InstanceChannel::Net::accept() {
    acceptor.async_accept([this](std::error_code ec, stream_protocol::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (ec) {
            // Out of descriptors or memory for a moment: try again shortly, never in a spin.
            pause.expires_after(retryPause);
            pause.async_wait([this](std::error_code e) {
                if (!e) accept();
            });
            return;
        }
        std::make_shared<Client>(*this, std::move(socket))->start();
        accept();
    });
}

InstanceChannel::InstanceChannel() = default;

InstanceChannel::~InstanceChannel() { stop(); }

InstanceChannel::Listening InstanceChannel::listen(const std::filesystem::path& path, Handler handler,
                                                   const Limits& limits) {
    if (net_ || lockFd_ >= 0) return {Listening::failed, "This channel already holds " + path_.string() + "."};
    if (!fitsSocketAddress(path)) return {Listening::failed, tooLong(path)};
    // The lock, not the socket, says who the instance is: it goes with the process however
    // it ends, and two starts that both find a stale socket cannot both take it over.
    if (std::error_code ec; !std::filesystem::exists(path.parent_path(), ec)) {
        std::filesystem::create_directories(path.parent_path(), ec);
        std::filesystem::permissions(path.parent_path(), std::filesystem::perms::owner_all, ec);
    }
    const std::filesystem::path lockPath = path.string() + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) {
        return {Listening::failed, "Cannot open the lock file " + lockPath.string() + ": " + std::strerror(errno) + "."};
    }
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        ::close(lock);
        if (why == EWOULDBLOCK) return {Listening::taken, ""};
        return {Listening::failed, "Cannot lock " + lockPath.string() + ": " + std::strerror(why) + "."};
    }
    // A program that answers here while the lock is ours is not an instance of this
    // Scribbet: it is left alone, and the hand-over to it will say what it is.
    if (LocalSocket probe; probe.connect(path, std::chrono::steady_clock::now() + limits.time).ok()) {
        ::close(lock);
        return {Listening::taken, ""};
    }
    ::unlink(path.c_str()); // a crashed instance's socket

    auto net = std::make_unique<Net>(std::move(handler), limits);
    std::error_code ec;
    net->acceptor.open(stream_protocol(), ec);
    if (!ec) net->acceptor.bind(stream_protocol::endpoint(path.string()), ec);
    if (!ec) net->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        ::close(lock);
        return {Listening::failed, "Cannot listen at " + path.string() + ": " + ec.message() + "."};
    }
    net->accept();
    net_ = std::move(net);
    path_ = path;
    lockFd_ = lock;
    thread_ = std::thread([net = net_.get()] { net->io.run(); });
    return {Listening::listening, ""};
}

// On the net thread: senders on the line, and those the system has queued for us, hear that
// this instance is ending, so that they hand their links to whoever starts next instead of
// taking a cut line for links that may have been handled.
void InstanceChannel::Net::end() {
    ending = true;
    std::error_code ec;
    acceptor.non_blocking(true, ec);
    for (;;) {
        stream_protocol::socket socket(io);
        if (acceptor.accept(socket, ec); ec) break;
        std::make_shared<Client>(*this, std::move(socket))->start();
    }
    acceptor.close(ec);
    for (Client* client : std::vector<Client*>(live.begin(), live.end())) client->end();
}

void InstanceChannel::stop() {
    stopServing();
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
}

void InstanceChannel::stopServing() {
    if (!net_) return;
    std::promise<void> ended;
    asio::post(net_->io, [net = net_.get(), &ended] {
        net->end();
        ended.set_value();
    });
    // The answers, those just given and any decided before, are written before the line goes.
    const auto until = std::chrono::steady_clock::now() + endingLimit;
    if (ended.get_future().wait_until(until) == std::future_status::ready) {
        while (net_->clients > 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    net_->io.stop();
    thread_.join();
    ::unlink(path_.c_str());
    net_.reset(); // closes the senders still connected
}

// ---- The sender's side ----

InstanceChannel::HandOff InstanceChannel::handOff(const std::filesystem::path& path,
                                                  const std::vector<std::string>& messages, const Limits& limits) {
    using Step = LocalSocket::Step;
    if (!fitsSocketAddress(path)) return {HandOff::failed, tooLong(path)};
    LocalSocket wire;
    const auto connected = wire.connect(path, std::chrono::steady_clock::now() + limits.time);
    if (connected.step == Step::nobody) return {HandOff::nobody, ""};
    if (connected.step == Step::timedOut) {
        return {HandOff::failed, "The running Scribbet did not answer within " + duration(limits.time) +
                                     ", so the links were not handed over."};
    }
    if (!connected.ok()) {
        return {HandOff::failed,
                "Cannot reach the running Scribbet at " + path.string() + ": " + connected.error.message() + "."};
    }
    if (peerUser(wire.nativeHandle()) != limits.user) {
        return {HandOff::failed,
                "Another user's program listens at " + path.string() + ", so the links were not handed over."};
    }
    const std::string bytes = joined(messages);
    if (bytes.size() > limits.bytes) {
        return {HandOff::failed, "The links are larger than the " + amount(limits.bytes) +
                                     " a running Scribbet takes at once, so none were handed over."};
    }

    const auto deadline = std::chrono::steady_clock::now() + limits.time;
    std::string reply;
    bool ended = false;
    if (wire.send(bytes, deadline).step != Step::timedOut) {
        wire.shutdownSend();
        // Also after a failed write: an instance that stopped reading says why.
        const auto enough = [](const std::string& so) { return so.size() >= maxAnswerBytes; };
        ended = wire.receive(reply, deadline, enough).step != Step::timedOut;
    }
    if (!ended) {
        return {HandOff::failed, "The running Scribbet did not confirm the links within " + duration(limits.time) +
                                     "; they may not have been handled."};
    }
    const std::string line = reply.substr(0, reply.find('\n'));
    if (line == "OK " + std::to_string(messages.size())) return {HandOff::handed, ""};
    if (line.starts_with("ERR ") && line.size() > 4) return {HandOff::failed, line.substr(4)};
    // Quitting: soon nobody listens there, and whoever starts next takes the links.
    if (line == ending) return {HandOff::nobody, ""};
    return {HandOff::failed, "The running Scribbet did not confirm the links; they may not have been handled."};
}

// ---- Start-up ----

InstanceChannel::Place InstanceChannel::place() {
    const auto at = socketPlace("scribbet.sock", std::filesystem::path("scribbet-" + std::to_string(::geteuid())) /
                                                     "scribbet.sock");
    // The runtime folder is the user's own; a folder in the temp folder must be made so.
    return {at.path, at.inRuntimeFolder ? "" : privateFolder(at.path.parent_path())};
}

std::string InstanceChannel::privateFolder(const std::filesystem::path& folder, uid_t user) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return "Cannot make the folder " + folder.string() + ": " + std::strerror(errno) + ".";
    }
    // lstat: a link to a folder someone else chose is not private, wherever it points.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        return "Cannot look at the folder " + folder.string() + ": " + std::strerror(errno) + ".";
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != user || (info.st_mode & 077) != 0) {
        return "The folder " + folder.string() +
               " is not private to this user (it must be a folder of yours with mode 0700), so Scribbet does not "
               "use it.";
    }
    return "";
}

InstanceChannel::Start InstanceChannel::start(const std::filesystem::path& path,
                                              const std::vector<std::string>& messages, Handler handler,
                                              const Limits& limits, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        const auto listening = listen(path, handler, limits);
        if (listening.state == Listening::listening) return {Start::instance, ""};
        if (listening.state == Listening::failed) return {Start::failed, listening.why};
        const auto handed = handOff(path, messages, limits);
        if (handed.outcome == HandOff::handed) return {Start::handedOver, ""};
        if (handed.outcome == HandOff::failed) return {Start::failed, handed.why};
        // The lock is held but nobody listens: an instance between its lock and its socket,
        // or one that is ending (and may have said so).
        if (std::chrono::steady_clock::now() >= deadline) {
            return {Start::failed, "Another Scribbet is starting or ending and did not take the links within " +
                                       duration(patience) + "; try again."};
        }
        std::this_thread::sleep_for(retryPause);
    }
}

} // namespace scribbet::linuxhost
