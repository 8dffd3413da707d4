#pragma once
// Time, as the core sees it. Tests swap in a virtual clock so that timers of
// seconds or minutes run in microseconds and land exactly.
#include <chrono>

namespace scribbet {

using Duration = std::chrono::steady_clock::duration;
using Instant = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time for intervals and timers.
    virtual Instant now() const = 0;
    // Calendar time for time stamps people read.
    virtual WallTime wallNow() const = 0;
    // Waits on a background queue (polling, pauses between attempts). A virtual clock
    // lets the time pass at once instead.
    virtual void sleepFor(Duration d) const = 0;
};

// Seconds as a Duration, for constants written the way people say them (0.35 s, 15 s).
constexpr Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

inline double toSeconds(Duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace scribbet
