#include "adapters/mac/status_window_plan.hpp"

#include <algorithm>
#include <cmath>

namespace scribbet::mac {

namespace {
double length(double v) { return std::isfinite(v) ? std::max(v, 0.0) : 0; }

StatusLayout::Size size(StatusLayout::Size s) { return {length(s.w), length(s.h)}; }

ElementPlan element(const Rect& frame, unsigned long mask) {
    return {frame.isFinite() ? frame.standardized() : Rect{}, mask};
}

// One axis: the margin before the view, the view's length and the margin after it.
struct Axis {
    double before, length, after;
};

Axis resizedAxis(Axis a, bool flexBefore, bool flexLength, bool flexAfter, double delta) {
    const int flexible = int(flexBefore) + int(flexLength) + int(flexAfter);
    if (flexible == 0) return a;
    const double share = delta / flexible;
    if (flexBefore) a.before += share;
    if (flexLength) a.length = std::max(0.0, a.length + share);
    return a;
}
} // namespace

StatusWindowPlan statusWindowPlan(const StatusLayout& layout) {
    using namespace autoresizing;
    StatusWindowPlan plan;
    plan.styleMask = windowStyle::titled | windowStyle::closable | windowStyle::miniaturizable | windowStyle::resizable;
    plan.minimum = size(layout.minimum);
    const StatusLayout::Size content = size(layout.content);
    plan.content = {std::max(content.w, plan.minimum.w), std::max(content.h, plan.minimum.h)};
    // The buttons keep their place at the top left; the right margin takes a wider window.
    plan.explanation = element(layout.explanationFrame, widthSizable | minYMargin);
    plan.draw = element(layout.drawFrame, maxXMargin | minYMargin);
    plan.accessibility = element(layout.accessibilityFrame, maxXMargin | minYMargin);
    plan.log = element(layout.logFrame, widthSizable | heightSizable);
    return plan;
}

Rect autoresized(const Rect& frame, unsigned long mask, StatusLayout::Size before, StatusLayout::Size after) {
    using namespace autoresizing;
    const Rect f = frame.standardized();
    const Axis x = resizedAxis({f.x, f.w, before.w - f.maxX()}, mask & minXMargin, mask & widthSizable,
                               mask & maxXMargin, after.w - before.w);
    const Axis y = resizedAxis({f.y, f.h, before.h - f.maxY()}, mask & minYMargin, mask & heightSizable,
                               mask & maxYMargin, after.h - before.h);
    return {x.before, y.before, x.length, y.length};
}

} // namespace scribbet::mac
