#include "adapters/linux/local_socket.hpp"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <asio.hpp>
#include <cerrno>
#include <cstdlib>

namespace scribbet::linuxhost {

bool fitsSocketAddress(const std::filesystem::path& path) {
    return path.native().size() < sizeof(sockaddr_un::sun_path);
}

SocketPlace socketPlace(const std::string& name, const std::filesystem::path& inTemp) {
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/') {
        return {std::filesystem::path(run) / name, true};
    }
    std::error_code ec;
    auto temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    return {temp / inTemp, false};
}

struct LocalSocket::Io {
    // Runs the operation just started until its handler has run (`called`) or the deadline
    // passes; then it is cancelled, and its handler runs here before this returns, so that
    // nothing the handler refers to is gone by then.
    void run(Deadline deadline, const bool& called) {
        io.restart();
        while (!called && io.run_one_until(deadline) > 0) {
        }
        if (called) return;
        std::error_code ignored;
        socket.cancel(ignored);
        io.restart();
        while (!called && io.run_one() > 0) {
        }
    }

    asio::io_context io{1};
    asio::generic::stream_protocol::socket socket{io};
    std::array<char, 65536> buffer{};
};

namespace {
LocalSocket::Outcome after(const std::error_code& ec) {
    using Step = LocalSocket::Step;
    if (!ec) return {Step::done, ec};
    if (ec == asio::error::operation_aborted) return {Step::timedOut, ec};
    return {Step::broken, ec};
}
} // namespace

LocalSocket::LocalSocket() : io_(std::make_unique<Io>()) {}
LocalSocket::~LocalSocket() = default;

LocalSocket::Outcome LocalSocket::connect(const std::filesystem::path& path, Deadline deadline) {
    if (!fitsSocketAddress(path)) return {Step::broken, std::make_error_code(std::errc::filename_too_long)};
    const asio::generic::stream_protocol::endpoint at(asio::local::stream_protocol::endpoint(path.native()));
    return connectTo(at.data(), at.size(), at.protocol().family(), deadline);
}

LocalSocket::Outcome LocalSocket::connect(std::uint16_t port, Deadline deadline) {
    const asio::generic::stream_protocol::endpoint at(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port));
    return connectTo(at.data(), at.size(), at.protocol().family(), deadline);
}

// A blocking connect bounded by the send time-out. Connecting to a Unix socket whose queue
// of waiting connections is full waits for room, and then fails with EAGAIN; Asio's own
// connect takes that EAGAIN for a connect under way and reports success.
LocalSocket::Outcome LocalSocket::connectTo(const void* address, std::size_t size, int family, Deadline deadline) {
    std::error_code ec;
    io_->socket.open(asio::generic::stream_protocol(family, 0), ec);
    if (ec) return {Step::broken, ec};
    const int fd = io_->socket.native_handle();
    // At least a moment: a time-out of zero would be none at all.
    const auto left = std::max<std::chrono::microseconds>(
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()),
        std::chrono::milliseconds(1));
    timeval tv{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int rc;
    do {
        rc = ::connect(fd, static_cast<const sockaddr*>(address), static_cast<socklen_t>(size));
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return {Step::done, {}};
    const int why = errno;
    io_->socket.close(ec);
    const std::error_code error(why, std::system_category());
    if (why == ENOENT || why == ECONNREFUSED) return {Step::nobody, error};
    if (why == EAGAIN || why == EINPROGRESS) return {Step::timedOut, error};
    return {Step::broken, error};
}

std::error_code LocalSocket::adopt(int fd) {
    std::error_code ec;
    io_->socket.assign(asio::generic::stream_protocol(AF_UNIX, 0), fd, ec);
    return ec;
}

LocalSocket::Outcome LocalSocket::send(std::string_view bytes, Deadline deadline) {
    std::error_code result;
    bool called = false;
    asio::async_write(io_->socket, asio::buffer(bytes.data(), bytes.size()), [&](std::error_code ec, std::size_t) {
        result = ec;
        called = true;
    });
    io_->run(deadline, called);
    return after(result);
}

LocalSocket::Outcome LocalSocket::receive(std::string& into, Deadline deadline,
                                          const std::function<bool(const std::string&)>& enough) {
    for (;;) {
        std::error_code result;
        std::size_t got = 0;
        bool called = false;
        io_->socket.async_read_some(asio::buffer(io_->buffer), [&](std::error_code ec, std::size_t n) {
            result = ec;
            got = n;
            called = true;
        });
        io_->run(deadline, called);
        into.append(io_->buffer.data(), got);
        if (result == asio::error::eof) return {Step::done, {}};
        if (result) return after(result);
        if (enough(into)) return {Step::done, {}};
    }
}

void LocalSocket::shutdownSend() {
    std::error_code ignored;
    io_->socket.shutdown(asio::socket_base::shutdown_send, ignored);
}

int LocalSocket::nativeHandle() { return io_->socket.native_handle(); }

} // namespace scribbet::linuxhost
