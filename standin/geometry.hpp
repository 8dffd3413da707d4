#pragma once
// Points and rectangles in the stand-in's coordinates: global screen points with the origin
// at the top left of the primary screen and y growing downward, or slide points with the
// origin at the slide's top-left corner.
#include <algorithm>

namespace scribbet::standin {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;

    double right() const { return x + w; }
    double bottom() const { return y + h; }
    double midX() const { return x + w / 2; }
    double midY() const { return y + h / 2; }
    bool contains(Point p) const { return p.x >= x && p.x < right() && p.y >= y && p.y < bottom(); }
    // The area both rectangles cover; 0 when they do not meet.
    double overlap(const Rect& o) const {
        const double ow = std::min(right(), o.right()) - std::max(x, o.x);
        const double oh = std::min(bottom(), o.bottom()) - std::max(y, o.y);
        return ow > 0 && oh > 0 ? ow * oh : 0;
    }
    bool operator==(const Rect&) const = default;
};

} // namespace scribbet::standin
