#pragma once
// The notice on macOS: a borderless, non-activating floating panel with a translucent dark
// background and a label, which never takes the keyboard from PowerPoint and answers the
// first click even while PowerPoint is the active application.
#include <functional>
#include <memory>
#include <string>

#include "ports/status_ui.hpp"
#include "runtime/queues.hpp"

namespace scribbet::mac {

class MacNoticeUI final : public NoticeUI {
public:
    // Main thread. A click's action runs on `main` once AppKit is done with the click, as
    // the action takes the very panel that got it away.
    explicit MacNoticeUI(MainQueue& main);
    ~MacNoticeUI() override;
    MacNoticeUI(const MacNoticeUI&) = delete;
    MacNoticeUI& operator=(const MacNoticeUI&) = delete;

    Size measure(const std::string& text) override;
    void show(const std::string& text, const Rect& frame, const Rect& label, std::function<void()> clicked) override;
    void hide() override;

private:
    struct Impl;
    MainQueue& main_;
    std::unique_ptr<Impl> impl_;
};

} // namespace scribbet::mac
