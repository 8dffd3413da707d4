#include "adapters/mac/screen_list.hpp"

#include <cmath>

namespace scribbet::mac {

std::optional<ScreenInfo> screenInfo(const ScreenReading& reading) {
    if (!reading.frame.isFinite()) return std::nullopt;
    ScreenInfo info;
    info.frame = reading.frame.standardized();
    info.visibleFrame = reading.visibleFrame.isFinite() ? reading.visibleFrame.standardized() : info.frame;
    const double scale = reading.backingScaleFactor;
    info.backingScale = std::isfinite(scale) && scale > 0 ? scale : 1;
    return info;
}

std::optional<ScreenInfo> ScreenSnapshot::mainScreen() const {
    if (screens.empty()) return std::nullopt;
    if (main && *main < screens.size()) return screens[*main];
    return screens.front();
}

ScreenSnapshot snapshotOf(const std::vector<ScreenReading>& readings, std::optional<std::size_t> mainIndex) {
    ScreenSnapshot snapshot;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const auto info = screenInfo(readings[i]);
        if (!info) continue;
        if (mainIndex && *mainIndex == i) snapshot.main = snapshot.screens.size();
        snapshot.screens.push_back(*info);
    }
    return snapshot;
}

void ScreenCache::store(ScreenSnapshot snapshot) {
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(snapshot);
}

ScreenSnapshot ScreenCache::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

} // namespace scribbet::mac
