#pragma once
// In-memory status window and notice: they record what would be on screen.
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ports/status_ui.hpp"

namespace scribbet::fake {

class FakeLogView final : public LogView {
public:
    void append(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class FakeStatusWindow final : public StatusWindowUI {
public:
    bool isVisible() const override { return visible; }
    void makeKeyAndFront() override { visible = true; }
    void setAccessibilityTitle(const std::string& t) override { layout.accessibilityTitle = t; }
    std::shared_ptr<LogView> logView() override { return log; }

    StatusLayout layout;
    bool visible = false;
    std::shared_ptr<FakeLogView> log = std::make_shared<FakeLogView>();
    std::function<void()> drawNow, accessibility; // the buttons
};

class FakeStatusUI final : public StatusUI {
public:
    std::shared_ptr<StatusWindowUI> build(const StatusLayout& layout, std::function<void()> drawNow,
                                          std::function<void()> accessibility) override {
        window = std::make_shared<FakeStatusWindow>();
        window->layout = layout;
        window->drawNow = std::move(drawNow);
        window->accessibility = std::move(accessibility);
        ++builds;
        return window;
    }
    std::shared_ptr<FakeStatusWindow> window;
    int builds = 0;
};

class FakeNoticeUI final : public NoticeUI {
public:
    struct Shown {
        std::string text;
        Rect frame, label;
    };
    // Roughly 7 points a character on one line, wrapping at 440.
    Size measure(const std::string& text) override {
        const double w = 7.0 * static_cast<double>(text.size());
        const double lines = std::max(1.0, std::ceil(w / 440));
        return {std::min(w, 440.0 + 3), 17 * lines};
    }
    void show(const std::string& text, const Rect& frame, const Rect& label, std::function<void()> clicked) override {
        shown.push_back({text, frame, label});
        click = std::move(clicked);
        visible = true;
    }
    void hide() override {
        visible = false;
        ++hides;
    }
    std::vector<Shown> shown;
    std::function<void()> click;
    bool visible = false;
    int hides = 0;
};

} // namespace scribbet::fake
