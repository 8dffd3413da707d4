#include "platform/linux/instance_channel.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace scribbet::linuxhost {

namespace {
constexpr std::size_t maxMessageBytes = 1 << 20;
constexpr int ioTimeoutMs = 2000;

bool address(const std::filesystem::path& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string& s = path.native();
    if (s.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, s.c_str(), s.size() + 1);
    return true;
}

// A connected socket, or -1 with errno telling why.
int connectTo(const std::filesystem::path& path) {
    sockaddr_un addr;
    if (!address(path, addr)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

void setTimeouts(int fd) {
    timeval tv{ioTimeoutMs / 1000, (ioTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace

std::filesystem::path InstanceChannel::defaultPath() {
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/') {
        return std::filesystem::path(run) / "scribbet.sock";
    }
    std::error_code ec;
    auto temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    return temp / ("scribbet-" + std::to_string(::getuid()) + ".sock");
}

bool InstanceChannel::handOff(const std::filesystem::path& path, const std::vector<std::string>& messages) {
    const int fd = connectTo(path);
    if (fd < 0) return false;
    setTimeouts(fd);
    std::string bytes;
    for (const auto& m : messages) {
        bytes += m;
        bytes.push_back('\0');
    }
    bool ok = sendAll(fd, bytes);
    ::shutdown(fd, SHUT_WR);
    // The instance closes its end once it has taken the messages.
    char buf[64];
    while (ok) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
    }
    ::close(fd);
    return ok;
}

bool InstanceChannel::listen(const std::filesystem::path& path, Handler handler) {
    sockaddr_un addr;
    if (!address(path, addr)) return false;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 16) == 0) {
            listenFd_ = fd;
            break;
        }
        const int why = errno;
        ::close(fd);
        if (why != EADDRINUSE) return false;
        // Someone's socket file is there: alive means another instance, refused means stale.
        const int probe = connectTo(path);
        if (probe >= 0) {
            ::close(probe);
            return false;
        }
        ::unlink(path.c_str());
    }
    if (listenFd_ < 0) return false;
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    path_ = path;
    handler_ = std::move(handler);
    thread_ = std::thread([this] { serve(); });
    return true;
}

void InstanceChannel::serve() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        setTimeouts(fd);
        std::string bytes;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            bytes.append(buf, static_cast<std::size_t>(n));
            if (bytes.size() > maxMessageBytes) break;
        }
        // Only whole messages count; a sender that vanished mid-message loses that one.
        std::size_t start = 0;
        for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
            handler_(bytes.substr(start, end - start));
        }
        ::close(fd);
    }
}

void InstanceChannel::stop() {
    if (!thread_.joinable()) return;
    const char byte = 'q';
    (void)!::write(wakePipe_[1], &byte, 1);
    thread_.join();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    listenFd_ = -1;
    ::unlink(path_.c_str());
}

InstanceChannel::~InstanceChannel() { stop(); }

} // namespace scribbet::linuxhost
