#pragma once
// The Cocoa pump's bookkeeping, apart from Core Foundation: whether the work may run now,
// and what the run loop source and timer are told after it ran. Main thread only.
//
// The work never runs inside itself. A task may spin a nested run loop (a menu being
// tracked, a modal panel, an AppKit call that waits for the window server) and, the source
// and the timer being in the common modes, the run loop would call the work again from
// there; that turn is held back instead and runs as soon as the outer one is over, as GLib
// does with a source that may not recurse.
#include <optional>

#include "ports/main_loop.hpp"

namespace scribbet::mac {

class PumpTurns {
public:
    // A wait of "never": the timer's fire date is moved this far ahead (about 31 years).
    static constexpr double farFuture = 1e9;

    struct After {
        bool stop = false;            // the work answered stop: run() ends its [NSApp run]
        bool again = false;           // a turn was held back meanwhile: signal the source now
        std::optional<double> fireIn; // seconds until the timer fires; none: only a wake runs the work
    };

    // The source or the timer fired: true when the work may run now; false when it already
    // runs further up the stack (the turn is remembered).
    bool begin();
    // The work ran and answered `pumped`.
    After end(const MainLoop::Pumped& pumped);
    bool working() const { return working_; }

    // A wait in seconds for a run loop timer: never below zero, never early (rounded up to
    // whole microseconds), never past farFuture.
    static double seconds(Duration wait);

private:
    bool working_ = false;
    bool heldBack_ = false;
};

} // namespace scribbet::mac
