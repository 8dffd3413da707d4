#pragma once
// The program's own small windows: the status window and the transient notice. The core
// lays them out; the adapters draw what they are told.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/rect.hpp"
#include "ports/log_view.hpp"

namespace scribbet {

// Frames in points from the bottom-left corner of the window's content, y upwards.
struct StatusLayout {
    struct Size {
        double w = 0, h = 0;
        friend bool operator==(const Size&, const Size&) = default;
    };
    std::string title;
    Size content, minimum;
    std::string explanation;
    Rect explanationFrame;  // wraps; stretches in width, keeps its distance to the top
    std::string drawTitle;
    Rect drawFrame;         // the default button (Return)
    std::string accessibilityTitle;
    std::string accessibilityTooltip;
    Rect accessibilityFrame;
    Rect logFrame;          // stretches in width and height; selectable, not editable
};

// The status window as built: the log view inside it, and the one title that changes.
class StatusWindowUI : public StatusWindow {
public:
    virtual void makeKeyAndFront() = 0;
    virtual void setAccessibilityTitle(const std::string& title) = 0;
    virtual std::shared_ptr<LogView> logView() = 0;
};

class StatusUI {
public:
    virtual ~StatusUI() = default;
    // Builds the window (hidden, centred, hiding itself when the program is deactivated,
    // only hidden when closed). The actions run on the main thread.
    virtual std::shared_ptr<StatusWindowUI> build(const StatusLayout& layout, std::function<void()> drawNow,
                                                  std::function<void()> accessibility) = 0;
};

class NoticeUI {
public:
    struct Size {
        double w = 0, h = 0;
    };
    virtual ~NoticeUI() = default;
    // The fitting size of the notice's text: system font 13 pt, wrapping at 440 points.
    virtual Size measure(const std::string& text) = 0;
    // Shows a borderless, non-activating floating panel at `frame` (platform convention) with
    // the text at `label` inside it; a click anywhere on it calls `clicked`.
    virtual void show(const std::string& text, const Rect& frame, const Rect& label, std::function<void()> clicked) = 0;
    virtual void hide() = 0;
};

} // namespace scribbet
