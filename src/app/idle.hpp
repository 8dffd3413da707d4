#pragma once
// The values that decide when the program may quit by itself. All on the main thread.
#include <functional>

#include "ports/clock.hpp"

namespace scribbet::Idle {

// Drawing starts in progress.
extern int working;

// The time of the last request from the drawing page. Like `started`, it has no value at
// launch and takes the current time when it is first read or written.
Instant lastRequest();
void setLastRequest(Instant t);
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
// The terminate action the decision calls (the application's).
void setTerminate(std::function<void()> terminate);

// Forgets both times, as at launch (tests).
void reset();

} // namespace scribbet::Idle
