#pragma once
// The notice under X: an override-redirect popup, which no window manager decorates,
// moves or focuses, so it never takes the keyboard from the program in front. Its dark,
// rounded background needs an RGBA visual (a compositing manager); without one it is square.
#include <functional>
#include <memory>
#include <string>

#include "adapters/gtk/monitor_screens.hpp"
#include "ports/status_ui.hpp"
#include "runtime/queues.hpp"

typedef struct _GtkWidget GtkWidget;

namespace scribbet::gtkhost {

class NoticePanel final : public NoticeUI {
public:
    // A click's action runs on `main`, once GTK is done with the event.
    NoticePanel(std::shared_ptr<MonitorScreens> screens, MainQueue& main) : screens_(std::move(screens)), main_(main) {}
    ~NoticePanel() override { hide(); }
    NoticePanel(const NoticePanel&) = delete;
    NoticePanel& operator=(const NoticePanel&) = delete;

    // The text's size in the notice's font (13 px) wrapped at 440.
    Size measure(const std::string& text) override;
    void show(const std::string& text, const Rect& frame, const Rect& label, std::function<void()> clicked) override;
    void hide() override;

    GtkWidget* window() const { return window_; }

private:
    std::shared_ptr<MonitorScreens> screens_;
    MainQueue& main_;
    GtkWidget* window_ = nullptr;
    std::function<void()> clicked_;
};

} // namespace scribbet::gtkhost
