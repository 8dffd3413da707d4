#include "adapters/linux/standin_link.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "adapters/linux/local_socket.hpp"

namespace scribbet::standin {

namespace {
using Failure = Answer::Failure;
using linuxhost::LocalSocket;
using Clock = std::chrono::steady_clock;

constexpr std::size_t maxAnswerBytes = 256u << 20; // a slide picture at 8192 px fits easily
// Idle connections kept for the next calls. The stand-in ends a connection that stays quiet for
// a minute; one idle here for longer than this is closed rather than risk sending on it as the
// stand-in closes it.
constexpr std::size_t maxKept = 4;
constexpr auto keptFor = std::chrono::seconds(10);

struct Kept {
    std::filesystem::path socket;
    std::unique_ptr<LocalSocket> wire;
    Clock::time_point since;
};

// The idle connections of this process, shared by every thread that calls; a connection in use
// belongs to its one call alone. Made once and never destroyed, as calls may still run while
// the process ends.
class KeptConnections {
public:
    static KeptConnections& shared() {
        static auto* kept = new KeptConnections();
        return *kept;
    }

    std::unique_ptr<LocalSocket> take(const std::filesystem::path& socket) {
        std::unique_ptr<LocalSocket> out;
        std::vector<Kept> stale;
        {
            std::lock_guard lock(mutex_);
            const auto now = Clock::now();
            for (auto it = idle_.begin(); it != idle_.end();) {
                if (now - it->since > keptFor) {
                    stale.push_back(std::move(*it));
                    it = idle_.erase(it);
                } else {
                    ++it;
                }
            }
            // The one put back last: the likeliest to be alive.
            for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
                if (it->socket == socket) {
                    out = std::move(it->wire);
                    idle_.erase(std::next(it).base());
                    break;
                }
            }
        }
        return out; // the stale ones close here, outside the lock
    }

    void give(const std::filesystem::path& socket, std::unique_ptr<LocalSocket> wire) {
        std::optional<Kept> dropped;
        std::lock_guard lock(mutex_);
        if (idle_.size() >= maxKept) {
            dropped = std::move(idle_.front());
            idle_.pop_front();
        }
        idle_.push_back({socket, std::move(wire), Clock::now()});
    }

private:
    std::mutex mutex_;
    std::deque<Kept> idle_;
};

// Whether a kept connection can carry a request: nothing may be waiting on it, neither the end
// of the stand-in's stream (it ended or restarted) nor bytes nobody asked for.
bool quiet(LocalSocket& wire) {
    pollfd p{wire.nativeHandle(), POLLIN | POLLRDHUP, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n == 0;
}

struct Exchange {
    enum class Step { answered, unsent, timedOut, broken };
    Step step = Step::broken;
    nlohmann::json body = {};
    bool reusable = false; // the answer was one whole line and nothing came after it
};

// One request and its answer on an open connection. `unsent` means the stand-in cannot have
// read the whole request: writing it failed, so its line end never went; or the stand-in closed
// the connection with the request still unread, which the system reports as a reset (one that
// read it all and then closed gives a plain end instead, and that may have run it).
Exchange exchange(LocalSocket& wire, const std::string& request, Clock::time_point deadline) {
    using Step = LocalSocket::Step;
    const auto sent = wire.send(request, deadline);
    if (sent.step == Step::timedOut) return {Exchange::Step::timedOut};
    if (!sent.ok()) return {Exchange::Step::unsent};

    std::string in;
    std::size_t searched = 0; // a picture's answer comes in thousands of pieces: each is looked at once
    const auto got = wire.receive(in, deadline, [&searched](const std::string& so) {
        if (so.find('\n', searched) != std::string::npos) return true;
        searched = so.size();
        return so.size() > maxAnswerBytes;
    });
    if (got.step == Step::timedOut) return {Exchange::Step::timedOut};
    // The socket library reports the system's number in a category of its own: compared by number.
    if (in.empty() && got.step == Step::broken && got.error.value() == ECONNRESET) return {Exchange::Step::unsent};
    if (!got.ok() || in.size() > maxAnswerBytes) return {Exchange::Step::broken};
    const auto end = in.find('\n');
    auto body = nlohmann::json::parse(in.substr(0, end), nullptr, false);
    if (body.is_discarded() || !body.is_object()) return {Exchange::Step::broken};
    return {Exchange::Step::answered, std::move(body), end != std::string::npos && end + 1 == in.size()};
}

Answer finish(Exchange e, const std::filesystem::path& socket, std::unique_ptr<LocalSocket> wire) {
    switch (e.step) {
    case Exchange::Step::answered:
        if (e.reusable) KeptConnections::shared().give(socket, std::move(wire));
        return {Failure::none, std::move(e.body)};
    case Exchange::Step::timedOut: return {Failure::timedOut, {}};
    case Exchange::Step::unsent:
    case Exchange::Step::broken: break;
    }
    return {Failure::broken, {}}; // a connection that timed out or broke is closed, never reused
}
} // namespace

std::filesystem::path socketPath() {
    if (const char* s = std::getenv("SCRIBBET_STANDIN_SOCKET"); s && *s) return s;
    return linuxhost::socketPlace("scribbet-standin.sock", "scribbet-standin-" + std::to_string(::getuid()) + ".sock")
        .path;
}

Answer call(const nlohmann::json& request, Duration limit, const std::filesystem::path& socket) {
    const auto deadline = Clock::now() + limit;
    if (!linuxhost::fitsSocketAddress(socket)) return {Failure::noStandIn, {}};
    std::string out = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out.push_back('\n');

    // A kept connection first. One the stand-in has closed (it ended, or restarted and listens
    // anew) is dropped. One that turns out closed before any byte of the answer came, with the
    // request not read, is tried once more on a fresh connection. Any other failure once the
    // request is written is final: the stand-in may have acted on it, and a macro that places
    // shapes must not run twice.
    while (auto kept = KeptConnections::shared().take(socket)) {
        if (!quiet(*kept)) continue;
        Exchange e = exchange(*kept, out, deadline);
        if (e.step != Exchange::Step::unsent) return finish(std::move(e), socket, std::move(kept));
        break;
    }

    auto wire = std::make_unique<LocalSocket>();
    const auto connected = wire->connect(socket, deadline);
    if (connected.step == LocalSocket::Step::timedOut) return {Failure::timedOut, {}};
    if (!connected.ok()) return {Failure::noStandIn, {}};
    Exchange e = exchange(*wire, out, deadline);
    return finish(std::move(e), socket, std::move(wire));
}

} // namespace scribbet::standin
