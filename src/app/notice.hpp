#pragma once
// The one way to tell the user something short: a panel near the top of the screen under
// the pointer that goes away after 9 s or on a click. One at a time. Main thread.
#include <memory>
#include <string>

#include "base/rect.hpp"
#include "ports/clock.hpp"
#include "ports/input_monitors.hpp"
#include "ports/screens.hpp"
#include "ports/status_ui.hpp"
#include "runtime/queues.hpp"
#include "runtime/weak.hpp"

namespace scribbet {

class Notice {
public:
    static constexpr Duration showFor = std::chrono::seconds(9);

    struct Parts {
        std::shared_ptr<NoticeUI> ui; // none: notices are only logged by their callers
        std::shared_ptr<InputMonitors> pointer;
        const Screens& screens;
        MainQueue& main;
    };
    explicit Notice(Parts parts);
    ~Notice();
    Notice(const Notice&) = delete;
    Notice& operator=(const Notice&) = delete;

    void show(const std::string& text);
    void hide();
    bool showing() const { return shown_; }

    struct Placement {
        Rect frame; // platform convention
        Rect label; // inside the panel
    };
    // Where a notice of this fitting size goes, for the pointer at `pointer` (platform
    // convention) on these screens.
    static Placement place(NoticeUI::Size fitting, Point pointer, const Screens& screens);

private:
    Parts parts_;
    Timer timer_;
    bool shown_ = false;
    WeakFactory<Notice> weak_{this}; // last: the first to go
};

} // namespace scribbet
