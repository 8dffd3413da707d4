#pragma once
// The values that decide when the program may quit by itself. All on the main thread.
#include "platform/clock.hpp"

namespace scribbet::Idle {

// Drawing starts in progress.
extern int working;

// The time of the last request from the drawing page. Like `started`, it has no value at
// launch and takes the current time when it is first read or written.
Instant lastRequest();
void setLastRequest(Instant t);
// The reference time for the minimum lifetime.
Instant started();

// Forgets both times, as at launch (tests).
void reset();

} // namespace scribbet::Idle
