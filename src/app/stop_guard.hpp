#pragma once
// Once the terminate action has begun, the process ends within a bound, whatever the
// presentation program does. A thread of ours may sit in the transport's send to the program
// for a minute or more and cannot be interrupted; a teardown that waits for it (a queue that
// joins its workers, a server that drains its connections) would keep the process alive that
// long and refuse every later start. So the guard watches the teardown from a thread of its
// own: when it has not finished by the limit, the guard logs the end, waits a moment for the
// line to reach the file and ends the process at once, without running a destructor against a
// thread still inside a call.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "ports/application.hpp"
#include "ports/clock.hpp"

namespace scribbet {

class AppState;

class StopGuard {
public:
    static constexpr std::string_view endedLine = "Scribbet ended.";

    struct Ports {
        AppState& log;
        // Ends the process at once; the default is _exit(0): a terminate action that had to
        // be cut short still did what was asked.
        std::function<void()> end = {};
        // From the terminate action to the end, leaving room for the last line within 5 s.
        Duration limit = seconds(4.5);
        // How long the last line may take to reach the file once the limit is reached.
        Duration flushLimit = seconds(0.3);
    };
    explicit StopGuard(Ports ports);
    // The teardown got this far: nothing waits any longer, and no end is forced.
    ~StopGuard();
    StopGuard(const StopGuard&) = delete;
    StopGuard& operator=(const StopGuard&) = delete;

    // Any thread, any number of times: the terminate action has begun. The first call starts
    // the count.
    void arm();
    // The teardown's last words are done: logs the end, once, and waits until the line is in
    // the file. From then on the guard still ends a process that does not end by the limit,
    // but logs nothing more (the log may be gone by then). When the guard is already ending
    // the process, this waits for that instead of letting the teardown go on.
    void ended();

private:
    enum class Phase { waiting, armed, logging, logged, ending, gone };
    void watch();
    void logEnd(); // with no lock held
    void flushWithin(Duration limit);

    Ports ports_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Phase phase_ = Phase::waiting;
    bool stopping_ = false; // the guard goes: the watch ends
    Instant deadline_{};
    std::thread watcher_;
};

// The delegate as AppKit or the Linux application calls it, with the guard around its last
// words: the guard is armed when they begin (if the terminate action did not arm it earlier)
// and logs the end once they are done.
class GuardedDelegate final : public ApplicationDelegate {
public:
    GuardedDelegate(ApplicationDelegate& inner, StopGuard& guard) : inner_(inner), guard_(guard) {}
    void willFinishLaunching() override { inner_.willFinishLaunching(); }
    void didFinishLaunching() override { inner_.didFinishLaunching(); }
    bool shouldHandleReopen(bool hasVisibleWindows) override { return inner_.shouldHandleReopen(hasVisibleWindows); }
    void willTerminate() override;

private:
    ApplicationDelegate& inner_;
    StopGuard& guard_;
};

} // namespace scribbet
