#pragma once
// The real clock: steady time for timers, the system's calendar for time stamps.
#include <thread>

#include "ports/clock.hpp"

namespace scribbet {

class SystemClock final : public Clock {
public:
    Instant now() const override { return std::chrono::steady_clock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }
    void sleepFor(Duration d) const override { std::this_thread::sleep_for(d); }
};

} // namespace scribbet
