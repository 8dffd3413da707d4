#pragma once
// One Scribbet per user: the running instance holds a lock file beside a Unix socket and
// listens there; a second start hands its links (or a reopen) to it and leaves.
//
// A hand-over is a run of messages, each ended by a NUL ("L" and a link, or "R" for
// opening the application again), then one more NUL, then the end of the sender's stream.
// The instance takes all of them or none and answers "OK <count>" or "ERR <sentence>", so
// the sender knows whether its links were handed over, or "ENDING" when it is quitting and
// would drop them: the sender then waits to become the instance itself. Each end deals
// only with its own user.
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace scribbet::linuxhost {

struct InstanceLimits {
    // One hand-over, all its messages: far more links than a command line can carry.
    std::size_t bytes = std::size_t{8} << 20;
    // For one hand-over, at either end: the instance drops a sender that has not finished
    // by then, and the sender gives up on an instance that has not answered.
    std::chrono::milliseconds time{5000};
    // Hand-overs the instance serves at the same time; more are refused.
    std::size_t clients = 32;
    // The only user either end deals with.
    uid_t user = ::geteuid();
};

class InstanceChannel {
public:
    // Takes one hand-over's messages, all of them, or none (false) when the instance is
    // ending and could no longer handle them.
    using Handler = std::function<bool(const std::vector<std::string>& messages)>;
    using Limits = InstanceLimits;

    // Where the socket lies: $XDG_RUNTIME_DIR/scribbet.sock, else scribbet.sock in the
    // folder scribbet-UID of the temp folder, made private to the user when missing. When
    // that folder is not private, `why` says so and the socket must not be used.
    struct Place {
        std::filesystem::path socket;
        std::string why;
    };
    static Place place();
    // Makes `folder` with mode 0700, or checks that the one there is a folder (not a link)
    // of `user` that nobody else may enter. Empty when it is usable, else a sentence.
    static std::string privateFolder(const std::filesystem::path& folder, uid_t user = ::geteuid());

    static std::string linkMessage(const std::string& link) { return "L" + link; }
    static std::string reopenMessage() { return "R"; }

    struct HandOff {
        enum Outcome { handed, nobody, failed } outcome;
        std::string why; // when failed: one sentence for the user
    };
    // Sends the messages to the instance listening at `path` and waits for its answer:
    // handed once it confirmed every one; nobody when no instance listens there or the one
    // there is ending.
    static HandOff handOff(const std::filesystem::path& path, const std::vector<std::string>& messages,
                           const Limits& limits = {});

    struct Listening {
        enum State { listening, taken, failed } state; // taken: another instance holds the place
        std::string why;                               // when failed
    };
    // Becomes the instance at `path`: takes the lock, replaces a socket left by a crashed
    // instance and serves hand-overs on the channel's own thread, where the handler runs.
    Listening listen(const std::filesystem::path& path, Handler handler, const Limits& limits = {});

    struct Start {
        enum Role { instance, handedOver, failed } role;
        std::string why; // when failed
    };
    // The start-up decision: listens at `path`, or hands the messages to the instance that
    // holds it. An instance that is still starting or already ending gets `patience` to
    // start listening or to be gone; a start never becomes a second instance. The patience
    // outlasts an instance's end, which may take up to 5 s when the presentation program hangs.
    Start start(const std::filesystem::path& path, const std::vector<std::string>& messages, Handler handler,
                const Limits& limits = {}, std::chrono::milliseconds patience = std::chrono::seconds(10));

    // Stops serving (senders on the line hear "ENDING") and removes the socket, but keeps the
    // lock until stop() or the channel's end: a process still ending holds the place, so that
    // no start becomes an instance beside it, and the starts meanwhile wait for it to be gone.
    void stopServing();
    // Stops serving, removes the socket and lets go of the lock.
    void stop();
    InstanceChannel();
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    struct Net;

private:
    std::unique_ptr<Net> net_;
    std::thread thread_;
    std::filesystem::path path_;
    int lockFd_ = -1;
};

} // namespace scribbet::linuxhost
