#pragma once
// The platform's run loop on the main thread: Cocoa's on macOS, GLib's under GTK,
// a plain condition-variable loop headless, a virtual-time loop in tests.
#include <cstdint>
#include <functional>

#include "ports/clock.hpp"

namespace scribbet {

class MainLoop {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    virtual ~MainLoop() = default;
    // Runs the task on the main thread soon after, in posting order. Any thread.
    virtual void post(Task task) = 0;
    // Runs the task on the main thread once `delay` has passed. Any thread.
    virtual TimerId schedule(Duration delay, Task task) = 0;
    // Runs the task every `interval` until cancelled, the first time one interval from now.
    // The same timer entry serves every run, so a repeating tick costs no allocation.
    virtual TimerId scheduleRepeating(Duration interval, Task task) = 0;
    // A cancelled timer never runs; cancelling a fired or unknown one does nothing.
    virtual void cancel(TimerId id) = 0;
    virtual bool onLoopThread() const = 0;
    // Runs until quit(); on the main thread.
    virtual void run() = 0;
    // Makes run() return after the task in progress. Any thread.
    virtual void quit() = 0;
};

} // namespace scribbet
