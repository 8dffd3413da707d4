#include "adapters/mac/notice_panel_plan.hpp"

#include <algorithm>
#include <cmath>

#include "adapters/mac/status_window_plan.hpp"

namespace scribbet::mac {

std::optional<NoticePanelPlan> noticePanelPlan(const Rect& frame, const Rect& label) {
    if (!frame.isFinite()) return std::nullopt;
    NoticePanelPlan plan;
    plan.frame = frame.standardized();
    plan.label = label.isFinite() ? label.standardized() : Rect{};
    // Never the key window, never activating the program: PowerPoint keeps the keyboard.
    plan.styleMask = windowStyle::borderless | windowStyle::nonactivatingPanel;
    // On whichever Space is showing, and beside a full-screen slide show or editor.
    plan.collectionBehavior = collection::canJoinAllSpaces | collection::fullScreenAuxiliary;
    return plan;
}

NoticeUI::Size noticeFittingSize(double width, double height) {
    const auto whole = [](double v) { return std::isfinite(v) && v > 0 ? std::ceil(v) : 0.0; };
    return {whole(width), whole(height)};
}

} // namespace scribbet::mac
