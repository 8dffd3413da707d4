#pragma once
// Talking to a program on this machine: where a user's Unix sockets lie, and one stream
// connection — a Unix socket or a port on the loopback — whose every step has a deadline.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace scribbet::linuxhost {

// Whether a Unix socket can be bound or reached at `path`: its address holds a path of a
// little over a hundred bytes, the final NUL included.
bool fitsSocketAddress(const std::filesystem::path& path);

struct SocketPlace {
    std::filesystem::path path;
    bool inRuntimeFolder = false; // else in the temp folder, which other users may enter
};
// Where the socket `name` lies: in $XDG_RUNTIME_DIR when that is an absolute path, else at
// `inTemp` below the temp folder (/tmp when the system names none).
SocketPlace socketPlace(const std::string& name, const std::filesystem::path& inTemp);

// One connection, used from one thread. Every call returns by its deadline; an operation
// still under way then is cancelled and has ended before the call returns.
class LocalSocket {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    enum class Step {
        done,
        nobody,   // connecting: no socket there, or nobody listening
        timedOut, // the deadline came first
        broken,   // anything else; `error` says what
    };
    struct Outcome {
        Step step = Step::done;
        std::error_code error;
        bool ok() const { return step == Step::done; }
    };

    LocalSocket();
    ~LocalSocket();
    LocalSocket(const LocalSocket&) = delete;
    LocalSocket& operator=(const LocalSocket&) = delete;

    // To the Unix socket at `path` (which must fit, see fitsSocketAddress).
    Outcome connect(const std::filesystem::path& path, Deadline deadline);
    // To `port` on 127.0.0.1.
    Outcome connect(std::uint16_t port, Deadline deadline);
    // Takes over a connected stream socket, such as one a listener accepted.
    std::error_code adopt(int fd);

    // All of `bytes`, or how far it got.
    Outcome send(std::string_view bytes, Deadline deadline);
    // Appends what arrives to `into` until `enough(into)`, or the other end ends its stream
    // (both done), or the deadline passes or the connection breaks; what came stays in `into`.
    Outcome receive(std::string& into, Deadline deadline, const std::function<bool(const std::string&)>& enough);
    // Tells the other end that nothing more will be sent.
    void shutdownSend();
    // For questions the connection cannot answer itself, such as who is at the other end.
    int nativeHandle();

    struct Io;

private:
    Outcome connectTo(const void* address, std::size_t size, int family, Deadline deadline);

    std::unique_ptr<Io> io_;
};

} // namespace scribbet::linuxhost
