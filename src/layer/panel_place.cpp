// The panel's placement. Screen frames have their origin at the primary screen's bottom left
// and y growing upwards; the program's coordinates grow downwards from the primary screen's
// top, `H`.
#include "layer/panel_place.hpp"

#include "layer/session.hpp"

namespace scribbet::panel_place {

Rect screenFor(const std::vector<ScreenInfo>& screens, const std::optional<ScreenInfo>& mainScreen, const Rect& probe) {
    const double H = screens.front().frame.maxY();
    for (const auto& s : screens) {
        if (s.frame.containsPoint(probe.midX(), H - probe.midY())) return s.frame;
    }
    return mainScreen ? mainScreen->frame : screens.front().frame;
}

Point originOf(const Rect& frame, double H) { return {frame.minX(), H - frame.maxY()}; }

// The layer covers its screen from the origin, so whether the pane is still on it needs no
// list of screens.
void moveToScreenOf(Session& s, const Rect& probe, const Screens& all) {
    const Rect current = s.panel->frame();
    const double cx = probe.midX(), cy = probe.midY();
    if (Rect{s.origin.x, s.origin.y, current.width(), current.height()}.containsPoint(cx, cy)) return;
    const auto screens = all.screens();
    if (screens.empty()) return;
    const double H = screens.front().frame.maxY();
    const double x = cx, y = H - cy;
    if (current.containsPoint(x, y)) return;
    for (const auto& screen : screens) {
        const Rect f = screen.frame;
        if (f.containsPoint(x, y)) {
            s.panel->setFrame(f);
            s.origin = originOf(f, H);
            s.sentGeom.clear();
            return;
        }
    }
}

} // namespace scribbet::panel_place
