#pragma once
// Two ways of saying where something is on the desktop. GDK speaks root-window coordinates:
// logical pixels (points), origin at the top left of the whole desktop, y downwards. The
// Screens port speaks the platform convention the core was written for: origin at the
// bottom left of the primary screen, y upwards. The primary monitor need not start at the
// root's (0, 0), so its top-left corner is carried along.
#include <vector>

#include "base/rect.hpp"
#include "ports/input_monitors.hpp"
#include "ports/screens.hpp"

namespace scribbet::gtkhost {

struct DesktopFlip {
    double originX = 0, originY = 0; // the primary monitor's top-left corner on the root window
    double height = 0;               // the primary monitor's height

    Rect toPlatform(const Rect& root) const {
        return {root.x - originX, height - (root.y - originY) - root.h, root.w, root.h};
    }
    Rect toRoot(const Rect& platform) const {
        return {platform.x + originX, originY + height - platform.y - platform.h, platform.w, platform.h};
    }
    Point pointToPlatform(double x, double y) const { return {x - originX, height - (y - originY)}; }
    Point pointToRoot(Point p) const { return {p.x + originX, originY + height - p.y}; }
};

// One monitor as GDK reports it, in root coordinates.
struct MonitorArea {
    Rect geometry;
    Rect workarea;
    int scale = 1;
    bool primary = false;
};

struct Desktop {
    std::vector<ScreenInfo> screens; // the primary first, then the others in GDK's order
    DesktopFlip flip;
};

// The primary monitor is the one GDK calls primary; without one, the monitor at the root's
// origin; without that, the first.
Desktop desktopFrom(const std::vector<MonitorArea>& monitors);

} // namespace scribbet::gtkhost
