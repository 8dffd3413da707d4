#pragma once
// The platform's run loop on the main thread, as a pump: Cocoa's on macOS, GLib's under GTK,
// a waiting thread headless, virtual time in tests. It keeps no tasks of its own: it sleeps
// until woken or until the time the work asked for, then runs the work, which is the core's
// (runtime/run_loop.hpp) and decides what runs, in what order, and when it wants to run again.
#include <functional>
#include <optional>

#include "ports/clock.hpp"

namespace scribbet {

class MainLoop {
public:
    // What one run of the work answers.
    struct Pumped {
        bool stop = false;            // run() should return now
        std::optional<Duration> wait; // run the work again after this long; none: only when woken
    };
    using Work = std::function<Pumped()>;

    virtual ~MainLoop() = default;
    // The work every wake runs; set once by its owner on the main thread, cleared (empty) by
    // it before it goes. The work may also run while the platform's loop runs outside run().
    virtual void attach(Work work) = 0;
    // Runs the work soon, on the main thread. Any thread.
    virtual void wake() = 0;
    // Pumps on the main thread until the work answers stop; then returns.
    virtual void run() = 0;
    virtual bool onLoopThread() const = 0;
};

} // namespace scribbet
