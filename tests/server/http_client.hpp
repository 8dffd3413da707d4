#pragma once
// A plain blocking loopback client for the server tests, with time limits on every wait
// so that a server that never answers fails the test instead of hanging it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/free_port.hpp"

namespace scribbet::test {

#ifdef MSG_NOSIGNAL
inline constexpr int noSigPipe = MSG_NOSIGNAL;
#else
inline constexpr int noSigPipe = 0;
#endif

class Client {
public:
    explicit Client(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
#ifndef MSG_NOSIGNAL
        // Where send() takes no flag against SIGPIPE (macOS), the socket is told once.
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at.sin_port = htons(port);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return fd_ >= 0; }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto n = ::send(fd_, bytes.data(), bytes.size(), noSigPipe);
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    void endWriting() { ::shutdown(fd_, SHUT_WR); }

    struct Got {
        std::string bytes;
        bool closed = false; // the server ended the stream (or reset it)
        bool reset = false;
    };

    // Reads until the server closes the connection or `limit` passes.
    Got readAll(std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        return readWhile([](const std::string&) { return true; }, limit);
    }
    // Reads until `count` bytes have come, the stream ends or `limit` passes.
    Got read(std::size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        return readWhile([count](const std::string& b) { return b.size() < count; }, limit);
    }

private:
    template <class More>
    Got readWhile(More more, std::chrono::milliseconds limit) {
        Got got;
        const auto end = std::chrono::steady_clock::now() + limit;
        char chunk[65536];
        while (more(got.bytes)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const auto n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                got.closed = true;
                got.reset = n < 0;
                break;
            }
            got.bytes.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }

    int fd_ = -1;
};

// The parts of one raw HTTP reply.
struct Response {
    int code = 0;
    std::string head; // status line and header lines, without the blank line
    std::string body;

    static Response from(const std::string& raw) {
        Response r;
        const auto end = raw.find("\r\n\r\n");
        if (end == std::string::npos) return r;
        r.head = raw.substr(0, end);
        r.body = raw.substr(end + 4);
        if (r.head.starts_with("HTTP/1.1 ") && r.head.size() >= 12) r.code = std::stoi(r.head.substr(9, 3));
        return r;
    }
    bool has(std::string_view line) const {
        return ("\r\n" + head + "\r\n").find("\r\n" + std::string(line) + "\r\n") != std::string::npos;
    }
};

} // namespace scribbet::test
