#pragma once
// The status window in GTK, laid out exactly as the core says: the frames come for a content
// area of a given size with the origin at its bottom left, and each element keeps its
// distance to the top while the window is resized; the explanation also stretches in width,
// the log view in width and height.
#include <memory>

#include "ports/status_ui.hpp"
#include "runtime/queues.hpp"

namespace scribbet::gtkhost {

struct Stretch {
    bool width = false, height = false;
};

// Where an element laid out at `frame` for a content area of `laidOut` lies in a content
// area of `now`: top-left origin, y downwards, never narrower or lower than zero.
Rect placeInContent(const Rect& frame, StatusLayout::Size laidOut, StatusLayout::Size now, Stretch stretch);

class GtkStatusUI final : public StatusUI {
public:
    // The windows' timers run on `main`.
    explicit GtkStatusUI(MainQueue& main) : main_(main) {}
    std::shared_ptr<StatusWindowUI> build(const StatusLayout& layout, std::function<void()> drawNow,
                                          std::function<void()> accessibility) override;

private:
    MainQueue& main_;
};

} // namespace scribbet::gtkhost
