#include "adapters/linux/standin_link.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace scribbet::standin {

namespace {
constexpr std::size_t maxAnswerBytes = 256u << 20; // a slide picture at 8192 px fits easily

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

// Waits for `events` on the socket until the deadline; false when time ran out.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, remainingMs(deadline));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return true; // let the following call report the error
    }
}
} // namespace

std::filesystem::path socketPath() {
    if (const char* s = std::getenv("SCRIBBET_STANDIN_SOCKET"); s && *s) return s;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/') {
        return std::filesystem::path(run) / "scribbet-standin.sock";
    }
    std::error_code ec;
    auto temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    return temp / ("scribbet-standin-" + std::to_string(::getuid()) + ".sock");
}

Answer call(const nlohmann::json& request, Duration limit, const std::filesystem::path& socket) {
    using Failure = Answer::Failure;
    const auto deadline = std::chrono::steady_clock::now() + limit;

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket.native().size() >= sizeof addr.sun_path) return {Failure::noStandIn, {}};
    std::memcpy(addr.sun_path, socket.c_str(), socket.native().size() + 1);
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return {Failure::noStandIn, {}};
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS &&
        errno != EAGAIN) {
        return {Failure::noStandIn, {}};
    }

    std::string out = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out.push_back('\n');
    std::size_t sent = 0;
    while (sent < out.size()) {
        if (!waitFor(fd.get(), POLLOUT, deadline)) return {Failure::timedOut, {}};
        const ssize_t n = ::send(fd.get(), out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return {Failure::broken, {}};
        sent += static_cast<std::size_t>(n);
    }

    std::string in;
    char buf[65536];
    for (;;) {
        if (!waitFor(fd.get(), POLLIN, deadline)) return {Failure::timedOut, {}};
        const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return {Failure::broken, {}};
        if (n == 0) break;
        in.append(buf, static_cast<std::size_t>(n));
        if (in.size() > maxAnswerBytes) return {Failure::broken, {}};
        if (in.back() == '\n') break;
    }
    auto body = nlohmann::json::parse(in, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return {Failure::broken, {}};
    return {Failure::none, std::move(body)};
}

} // namespace scribbet::standin
