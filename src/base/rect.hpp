#pragma once
// A screen rectangle in points: origin at the top left, y growing downwards.
#include <algorithm>
#include <cmath>

namespace scribbet {

struct Rect {
    double x = 0, y = 0, w = 0, h = 0;

    double minX() const { return std::min(x, x + w); }
    double minY() const { return std::min(y, y + h); }
    double maxX() const { return std::max(x, x + w); }
    double maxY() const { return std::max(y, y + h); }
    double midX() const { return x + w / 2; }
    double midY() const { return y + h / 2; }
    double width() const { return std::abs(w); }
    double height() const { return std::abs(h); }

    // The same area with non-negative width and height.
    Rect standardized() const { return {minX(), minY(), width(), height()}; }
    // Grown by `d` on every side (shrunk when negative).
    Rect grown(double d) const {
        const Rect s = standardized();
        return {s.x - d, s.y - d, s.w + 2 * d, s.h + 2 * d};
    }
    // Touching edges count as inside.
    bool contains(const Rect& r) const {
        const Rect a = standardized(), b = r.standardized();
        return b.x >= a.x && b.y >= a.y && b.x + b.w <= a.x + a.w && b.y + b.h <= a.y + a.h;
    }
    // A point on the left or top edge is inside, one on the right or bottom edge is not, so
    // a point on the line between two touching rectangles lies in exactly one of them.
    bool containsPoint(double px, double py) const {
        return px >= minX() && px < maxX() && py >= minY() && py < maxY();
    }
    // The same for a rectangle in the platform's convention (bottom-left origin, y growing
    // upwards): there its top edge is maxY, so that edge is the one inside.
    bool containsPointYUp(double px, double py) const {
        return px >= minX() && px < maxX() && py > minY() && py <= maxY();
    }
    bool isFinite() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(w) && std::isfinite(h); }

    friend bool operator==(const Rect&, const Rect&) = default;
};

} // namespace scribbet
