#include "adapters/gtk/desktop_flip.hpp"

#include <algorithm>

namespace scribbet::gtkhost {

Desktop desktopFrom(const std::vector<MonitorArea>& monitors) {
    Desktop d;
    if (monitors.empty()) return d;
    auto primary = std::find_if(monitors.begin(), monitors.end(), [](const MonitorArea& m) { return m.primary; });
    if (primary == monitors.end()) {
        primary = std::find_if(monitors.begin(), monitors.end(),
                               [](const MonitorArea& m) { return m.geometry.x == 0 && m.geometry.y == 0; });
    }
    if (primary == monitors.end()) primary = monitors.begin();
    d.flip = {primary->geometry.x, primary->geometry.y, primary->geometry.h};
    auto info = [&](const MonitorArea& m) {
        // A work area outside its monitor (a stale hint) is worth less than none.
        const Rect work = m.geometry.contains(m.workarea) && m.workarea.w > 0 && m.workarea.h > 0 ? m.workarea : m.geometry;
        return ScreenInfo{d.flip.toPlatform(m.geometry), d.flip.toPlatform(work), static_cast<double>(std::max(1, m.scale))};
    };
    d.screens.push_back(info(*primary));
    for (auto it = monitors.begin(); it != monitors.end(); ++it) {
        if (it != primary) d.screens.push_back(info(*it));
    }
    return d;
}

} // namespace scribbet::gtkhost
