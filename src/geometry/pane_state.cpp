#include "geometry/pane_state.hpp"

#include <algorithm>

namespace scribbet {

namespace {
bool intersects(const Rect& a, const Rect& b) {
    const Rect s = a.standardized(), t = b.standardized();
    return s.x < t.x + t.w && t.x < s.x + s.w && s.y < t.y + t.h && t.y < s.y + s.h;
}
} // namespace

Rect PaneState::visible() const {
    Rect out = pane;
    for (const Rect& bar : bars) {
        if (!intersects(bar, pane)) continue;
        if (bar.height() > bar.width()) {
            if (bar.minX() > pane.midX()) out.w = std::min(out.w, bar.minX() - pane.minX());
        } else if (bar.minY() > pane.midY()) {
            out.h = std::min(out.h, bar.minY() - pane.minY());
        }
    }
    return out;
}

Rect PaneState::slideRect(double slideW, double slideH, double scale) const {
    if (slide) return *slide;
    const double w = slideW * scale, h = slideH * scale;
    return {content.midX() - w / 2, content.midY() - h / 2, w, h};
}

std::optional<double> PaneState::scaleFromContent(double slideW, double slideH) const {
    if (slide && slide->width() > 0 && slideW > 0) return slide->width() / slideW;
    if (content.width() > pane.width() + 1 && slideW > 0) return (content.width() - 36) / slideW;
    if (content.height() > pane.height() + 1 && slideH > 0) return (content.height() - 36) / slideH;
    return std::nullopt;
}

Geom Geom::lined(const PaneState& p, std::optional<double> scale) const {
    Geom out = *this;
    out.lineUp(p, scale);
    return out;
}

namespace FitOnOpen {

Step step(const MacroReply& last, const MacroReply& now) {
    if (!now.hasFields()) return Step::failed;
    if (now == last) return Step::settled;
    return Step::again;
}

} // namespace FitOnOpen

} // namespace scribbet
