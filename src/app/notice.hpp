#pragma once
// The one way to tell the user something short: a panel near the top of the screen under
// the pointer that goes away after 9 s or on a click. One at a time. Main thread.
#include <memory>
#include <string>

#include "geometry/rect.hpp"
#include "ports/clock.hpp"
#include "ports/input_monitors.hpp"
#include "ports/status_ui.hpp"

namespace scribbet::Notice {

inline constexpr Duration showFor = std::chrono::seconds(9);

void install(std::shared_ptr<NoticeUI> ui, std::shared_ptr<InputMonitors> pointer);
void show(const std::string& text);
void hide();
bool showing();

struct Placement {
    Rect frame; // platform convention
    Rect label; // inside the panel
};
// Where a notice of this fitting size goes, for the pointer at `pointer` (platform
// convention) on these screens.
Placement place(NoticeUI::Size fitting, Point pointer);

} // namespace scribbet::Notice
