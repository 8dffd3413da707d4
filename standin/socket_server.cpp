#include "socket_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "adapters/linux/local_socket.hpp"
#include "adapters/linux/standin_link.hpp"
#include "requests.hpp"

namespace scribbet::standin {

namespace {
constexpr std::size_t maxRequestBytes = 64u << 20;
constexpr auto requestTimeout = std::chrono::seconds(10); // a client that connects and says nothing is dropped
constexpr auto sendTimeout = std::chrono::seconds(10);

// The request's line, or as much as came of it before the client stopped, went quiet or
// sent too much.
std::string readLine(linuxhost::LocalSocket& client) {
    std::string in;
    client.receive(in, std::chrono::steady_clock::now() + requestTimeout, [](const std::string& so) {
        return so.size() >= maxRequestBytes || so.find('\n') != std::string::npos;
    });
    return in.substr(0, in.find('\n'));
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

void SocketServer::serve(int fd, SharedModel& model) {
    Handled handled;
    {
        linuxhost::LocalSocket client;
        if (client.adopt(fd)) {
            ::close(fd);
            return;
        }
        const auto request = nlohmann::json::parse(readLine(client), nullptr, false);
        handled = request.is_discarded() ? Handled{{{"error", "The request is not JSON."}}}
                                         : handleRequest(model, request);
        if (handled.answered) {
            // A client that has gone or stopped reading goes without.
            client.send(handled.answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
                        std::chrono::steady_clock::now() + sendTimeout);
        }
    } // closes the connection
    if (handled.quit) stop();
}

} // namespace scribbet::standin
