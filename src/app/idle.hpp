#pragma once
// The values that decide when the program may quit by itself. All on the main thread.
#include <functional>
#include <optional>

#include "ports/clock.hpp"
#include "runtime/queues.hpp"
#include "runtime/weak.hpp"

namespace scribbet {

class AppState;

class Idle {
public:
    struct Parts {
        MainQueue& main;
        AppState& state;                  // its status window keeps the program alive while shown
        std::function<bool()> layerOpen;  // an open layer does too
        std::function<void()> terminate;  // the application's; none: the rule decides, nothing quits
    };
    explicit Idle(Parts parts);

    // Drawing starts in progress.
    int working = 0;

    // The time of the last request from the drawing page. Like `started`, it has no value at
    // launch and takes the current time when it is first read or written.
    Instant lastRequest();
    void setLastRequest(Instant t) { lastRequestAt_ = t; }
    // A request from the page came just now.
    void requested() { lastRequestAt_ = parts_.main.clock().now(); }
    // The reference time for the minimum lifetime.
    Instant started();

    // Queues the quit decision on the main queue: no layer open, no drawing starting, the
    // status window hidden, and a minute since the last request and since the rule first ran.
    // The decision measures from the moment it runs.
    void check();
    // As check(), measured from `at`: the moment the idle timer's tick was due. Ticks run a
    // little late, each by its own amount, so quiet periods timed between ticks from the
    // moments they ran come out a hair short of whole minutes at random; from the moments they
    // were due, three ticks apart is exactly a minute.
    void check(Instant at);
    // As check(), `delay` from now.
    void checkAfter(Duration delay);
    // The terminate action the decision calls (the application's).
    void setTerminate(std::function<void()> terminate) { parts_.terminate = std::move(terminate); }

    // Forgets both times, as at launch (tests).
    void reset();

    std::weak_ptr<Idle> weak() const { return weak_.weak(); }

private:
    void decide(Instant now);

    Parts parts_;
    std::optional<Instant> lastRequestAt_;
    std::optional<Instant> startedAt_;
    WeakFactory<Idle> weak_{this}; // last: the first to go
};

} // namespace scribbet
