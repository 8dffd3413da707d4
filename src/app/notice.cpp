#include "app/notice.hpp"

#include <algorithm>

namespace scribbet {

Notice::Notice(Parts parts) : parts_(std::move(parts)) {}

Notice::~Notice() { hide(); }

Notice::Placement Notice::place(NoticeUI::Size fitting, Point pointer, const Screens& screens) {
    const double W = (fitting.w <= 200 ? 200 : std::min(fitting.w, 440.0)) + 32;
    const double H = fitting.h + 24;
    Rect visible{0, 0, 1200, 800};
    const auto all = screens.screens();
    const auto under = std::find_if(all.begin(), all.end(), [&](const ScreenInfo& s) {
        return s.frame.containsPoint(pointer.x, pointer.y);
    });
    if (under != all.end()) {
        visible = under->visibleFrame;
    } else if (const auto main = screens.mainScreen()) {
        visible = main->visibleFrame;
    }
    return {{visible.midX() - W / 2, visible.maxY() - H - 24, W, H}, {16, 12, W - 32, fitting.h}};
}

void Notice::show(const std::string& text) {
    hide();
    const auto& ui = parts_.ui;
    if (!ui) return;
    const Placement p = place(ui->measure(text), parts_.pointer ? parts_.pointer->pointer() : Point{}, parts_.screens);
    ui->show(text, p.frame, p.label, weakly(weak_.weak(), [](Notice& n) { n.hide(); }));
    shown_ = true;
    timer_ = parts_.main.oneShot(showFor, weakly(weak_.weak(), [](Notice& n) { n.hide(); }));
}

void Notice::hide() {
    timer_.cancel();
    if (shown_ && parts_.ui) parts_.ui->hide();
    shown_ = false;
}

} // namespace scribbet
