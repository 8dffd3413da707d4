#include "adapters/mac/pump_turns.hpp"

#include <chrono>
#include <cmath>

namespace scribbet::mac {

bool PumpTurns::begin() {
    if (working_) {
        heldBack_ = true;
        return false;
    }
    working_ = true;
    heldBack_ = false;
    return true;
}

PumpTurns::After PumpTurns::end(const MainLoop::Pumped& pumped) {
    working_ = false;
    After after;
    after.stop = pumped.stop;
    // A held-back turn may be for a task this turn did not see; it runs even after a stop,
    // as the next run() would otherwise start with it forgotten.
    after.again = heldBack_;
    heldBack_ = false;
    if (!pumped.stop && pumped.wait) after.fireIn = seconds(*pumped.wait);
    return after;
}

double PumpTurns::seconds(Duration wait) {
    if (wait <= Duration::zero()) return 0;
    const double micros = std::ceil(std::chrono::duration<double, std::micro>(wait).count());
    const double s = micros / 1e6;
    return s < farFuture ? s : farFuture;
}

} // namespace scribbet::mac
