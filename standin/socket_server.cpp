#include "socket_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "adapters/linux/local_socket.hpp"
#include "adapters/linux/standin_link.hpp"
#include "requests.hpp"

namespace scribbet::standin {

namespace {
constexpr std::size_t maxRequestBytes = 64u << 20;
constexpr auto requestTimeout = std::chrono::seconds(10); // a client that connects and says nothing is dropped
// How long a client may keep a connection quiet between two requests: well past the time a
// client keeps an idle connection for reuse, so that it never sends on one being closed here.
constexpr auto keptTimeout = std::chrono::seconds(60);
constexpr auto sendTimeout = std::chrono::seconds(10);

// Whether the client has something to say within `limit`; false when it stays quiet, or when
// the stand-in stops (the stop's byte stays in the pipe, so every connection sees it).
bool awaitRequest(int fd, int stopFd, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int n = ::poll(p, 2, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left, 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || p[1].revents != 0) return false;
        return true; // data, the end of the client's stream or an error: the read tells which
    }
}

// The connection's next request line, from what came before and what arrives now. `ended`
// turns true when no line can follow it: the client ended its stream, went quiet in the middle
// of a line, broke off or sent too much.
std::optional<std::string> nextLine(linuxhost::LocalSocket& client, std::string& pending, bool& ended) {
    if (pending.find('\n') == std::string::npos) {
        std::size_t searched = pending.size(); // each piece of a long request is looked at once
        client.receive(pending, std::chrono::steady_clock::now() + requestTimeout, [&searched](const std::string& so) {
            if (so.find('\n', searched) != std::string::npos) return true;
            searched = so.size();
            return so.size() >= maxRequestBytes;
        });
        if (pending.find('\n') == std::string::npos) {
            // A last request without its line end, as a one-shot client may send before it
            // ends its stream, is still read; a part of a line that stops coming is answered
            // as what it is, and the connection ends.
            ended = true;
            if (pending.empty()) return std::nullopt;
            return std::exchange(pending, {});
        }
    }
    const auto end = pending.find('\n');
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    return line;
}

bool fileId(const std::filesystem::path& path, dev_t& dev, ino_t& ino) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    dev = st.st_dev;
    ino = st.st_ino;
    return true;
}

// A socket left behind by a stand-in that died is taken over; a live one is not.
bool clearStale(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (!std::filesystem::exists(status)) return true;
    if (status.type() != std::filesystem::file_type::socket) {
        error = path.string() + " exists and is not a socket.";
        return false;
    }
    const Answer probe = call({{"op", "running"}}, std::chrono::seconds(2), path);
    if (probe.failure != Answer::Failure::noStandIn) {
        error = "Another stand-in is already listening on " + path.string() + ".";
        return false;
    }
    ::unlink(path.c_str());
    return true;
}
} // namespace

std::unique_ptr<SocketServer> SocketServer::open(const std::filesystem::path& path, std::string& error) {
    if (!linuxhost::fitsSocketAddress(path)) {
        error = "The socket path is too long: " + path.string();
        return nullptr;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.native().size() + 1);
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    if (!clearStale(path, error)) return nullptr;

    std::unique_ptr<SocketServer> server(new SocketServer());
    server->path_ = path;
    server->listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int wake[2] = {-1, -1};
    if (server->listenFd_ < 0 || ::bind(server->listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        !fileId(path, server->dev_, server->ino_) || ::listen(server->listenFd_, 64) != 0 ||
        ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "Could not listen on " + path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    server->wakeRead_ = wake[0];
    server->wakeWrite_ = wake[1];
    return server;
}

SocketServer::~SocketServer() {
    reap(true);
    dev_t dev = 0;
    ino_t ino = 0;
    if (ino_ != 0 && fileId(path_, dev, ino) && dev == dev_ && ino == ino_) ::unlink(path_.c_str());
    for (int fd : {listenFd_, wakeRead_, wakeWrite_}) {
        if (fd >= 0) ::close(fd);
    }
}

void SocketServer::stop() {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wakeWrite_, &byte, 1);
}

void SocketServer::run(SharedModel& model) {
    for (;;) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[1].revents != 0) break;
        if ((p[0].revents & POLLIN) == 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        reap(false);
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([this, fd, &model, done] {
                                serve(fd, model);
                                done->store(true);
                            }),
                            done});
    }
    model.end();
    reap(true);
}

void SocketServer::reap(bool all) {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (all || it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

// One request after the other, each answered before the next is read, until the client ends
// the connection or goes quiet: a one-shot client and one that keeps its connection alike.
void SocketServer::serve(int fd, SharedModel& model) {
    bool quit = false;
    {
        linuxhost::LocalSocket client;
        if (client.adopt(fd)) {
            ::close(fd);
            return;
        }
        std::string pending;
        bool ended = false;
        for (bool first = true; !ended && !quit; first = false) {
            const auto quiet = first ? requestTimeout : keptTimeout;
            if (pending.find('\n') == std::string::npos && !awaitRequest(fd, wakeRead_, quiet)) break;
            const auto line = nextLine(client, pending, ended);
            if (!line) break;
            const auto request = nlohmann::json::parse(*line, nullptr, false);
            const Handled handled = request.is_discarded() ? Handled{{{"error", "The request is not JSON."}}}
                                                           : handleRequest(model, request);
            if (!handled.answered) break;
            quit = handled.quit;
            // A client that has gone or stopped reading goes without, and the connection ends.
            const auto sent =
                client.send(handled.answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
                            std::chrono::steady_clock::now() + sendTimeout);
            if (!sent.ok()) break;
        }
    } // closes the connection
    if (quit) stop();
}

} // namespace scribbet::standin
