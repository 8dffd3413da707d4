#include "app/notice.hpp"

#include <algorithm>

#include "ports/screens.hpp"
#include "runtime/queues.hpp"

namespace scribbet::Notice {

namespace {
std::shared_ptr<NoticeUI> ui;
std::shared_ptr<InputMonitors> input;
Timer timer;
bool shown = false;
} // namespace

void install(std::shared_ptr<NoticeUI> u, std::shared_ptr<InputMonitors> pointer) {
    hide();
    ui = std::move(u);
    input = std::move(pointer);
}

Placement place(NoticeUI::Size fitting, Point pointer) {
    const double W = (fitting.w <= 200 ? 200 : std::min(fitting.w, 440.0)) + 32;
    const double H = fitting.h + 24;
    Rect visible{0, 0, 1200, 800};
    const auto screens = Screens::shared().screens();
    const auto under = std::find_if(screens.begin(), screens.end(), [&](const ScreenInfo& s) {
        return s.frame.containsPoint(pointer.x, pointer.y);
    });
    if (under != screens.end()) {
        visible = under->visibleFrame;
    } else if (const auto main = Screens::shared().mainScreen()) {
        visible = main->visibleFrame;
    }
    return {{visible.midX() - W / 2, visible.maxY() - H - 24, W, H}, {16, 12, W - 32, fitting.h}};
}

void show(const std::string& text) {
    hide();
    if (!ui) return;
    const Placement p = place(ui->measure(text), input ? input->pointer() : Point{});
    ui->show(text, p.frame, p.label, [] { hide(); });
    shown = true;
    timer = MainQueue::shared().oneShot(showFor, [] { hide(); });
}

void hide() {
    timer.cancel();
    if (shown && ui) ui->hide();
    shown = false;
}

bool showing() { return shown; }

} // namespace scribbet::Notice
