#include "adapters/mac/window_reading.hpp"

#include <cmath>
#include <limits>

namespace scribbet::mac {

std::optional<int> wholeNumber(std::optional<double> value) {
    if (!value || !std::isfinite(*value) || std::trunc(*value) != *value) return std::nullopt;
    if (*value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(*value);
}

WindowInfo windowInfoOf(const WindowReading& reading) {
    WindowInfo info{wholeNumber(reading.ownerPid), wholeNumber(reading.layer), std::nullopt};
    if (const auto& b = reading.bounds) {
        const Rect r{b->x, b->y, b->w, b->h};
        if (r.isFinite()) info.bounds = r.standardized();
    }
    return info;
}

} // namespace scribbet::mac
