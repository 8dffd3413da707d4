#pragma once
// The headless main loop and the system clock, for the Linux program without a display.
#include <thread>

#include "ports/clock.hpp"
#include "ports/main_loop.hpp"
#include "runtime/run_loop.hpp"

namespace scribbet::linuxhost {

class SystemClock final : public Clock {
public:
    Instant now() const override { return std::chrono::steady_clock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }
    void sleepFor(Duration d) const override { std::this_thread::sleep_for(d); }
};

class PlainMainLoop final : public MainLoop {
public:
    PlainMainLoop() : owner_(std::this_thread::get_id()) {}
    void post(Task task) override { loop_.post(std::move(task)); }
    TimerId schedule(Duration delay, Task task) override { return loop_.schedule(delay, std::move(task)); }
    TimerId scheduleRepeating(Duration interval, Task task) override {
        return loop_.scheduleRepeating(interval, std::move(task));
    }
    void cancel(TimerId id) override { loop_.cancel(id); }
    bool onLoopThread() const override { return std::this_thread::get_id() == owner_; }
    void run() override { loop_.run(); }
    void quit() override { loop_.quit(); }

private:
    std::thread::id owner_;
    RunLoop loop_;
};

} // namespace scribbet::linuxhost
