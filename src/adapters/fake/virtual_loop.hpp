#pragma once
// A main loop on virtual time for tests: nothing runs until the test advances the clock,
// and then everything due runs in order, with the clock set to each task's own time. It
// pumps like any other loop; the tasks are the main queue's.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ports/clock.hpp"
#include "ports/main_loop.hpp"

namespace scribbet::fake {

class VirtualClock final : public Clock {
public:
    Instant now() const override;
    WallTime wallNow() const override;
    // Time passes for the sleeper at once; main-queue timers due meanwhile run when the
    // test next runs the loop.
    void sleepFor(Duration d) const override;
    void set(Instant t);
    // Wall time that corresponds to the steady start; 2026-12-08 12:00:00 UTC by default.
    void setWallStart(WallTime t);

private:
    mutable std::mutex mutex_;
    mutable Instant now_{std::chrono::hours(1000)};
    Instant start_{std::chrono::hours(1000)};
    WallTime wallStart_{std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours(12)};
};

class VirtualMainLoop final : public MainLoop {
public:
    explicit VirtualMainLoop(std::shared_ptr<VirtualClock> clock);

    void attach(Work work) override;
    void wake() override;
    bool onLoopThread() const override;
    // Runs tasks as they come, jumping virtual time to the next timer whenever nothing else
    // is ready, until the work answers stop.
    void run() override;

    // Runs everything due now, including what those tasks post.
    void runPending();
    // Moves virtual time forward by `d`, running every task due on the way, each with the
    // clock at its own time.
    void advance(Duration d);
    // Runs tasks (waiting in real time for posts from other threads) until `done` holds
    // or `realLimit` has passed. Virtual time does not move.
    bool runUntil(const std::function<bool()>& done, Duration realLimit = std::chrono::seconds(5));

private:
    Pumped pump();
    std::shared_ptr<VirtualClock> clock_;
    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable woken_;
    bool wake_ = false;
    Work work_;
};

} // namespace scribbet::fake
