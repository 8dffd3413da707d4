#include <gtest/gtest.h>

#include "app/status_layout.hpp"
#include "support/core_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class NoticeTest : public test::CoreTest {
protected:
    NoticeTest() {
        // Two screens side by side (top-left 0,0 1440x900 and 1440,0 1920x1080), with a menu bar.
        screens->set({{0, 0, 1440, 900}, {1440, 0, 1920, 1080}});
        for (auto& s : screens->list) s.visibleFrame = {s.frame.x, s.frame.y, s.frame.w, s.frame.h - 25};
    }
    std::shared_ptr<fake::FakeNoticeUI> ui = notices;
};

TEST_F(NoticeTest, WidthFollowsTheTextBetween232And472Points) {
    EXPECT_EQ(Notice::place({120, 17}, {}, *screens).frame.w, 232);
    EXPECT_EQ(Notice::place({200, 17}, {}, *screens).frame.w, 232);
    EXPECT_EQ(Notice::place({300, 17}, {}, *screens).frame.w, 332);
    const auto wide = Notice::place({443, 34}, {}, *screens);
    EXPECT_EQ(wide.frame.w, 472);
    EXPECT_EQ(wide.frame.h, 58);
    EXPECT_EQ(wide.label, (Rect{16, 12, 440, 34}));
}

TEST_F(NoticeTest, GoesToTheTopCentreOfTheScreenUnderThePointer) {
    const auto& second = screens->list[1];
    input->at = {second.frame.x + 10, second.frame.y + 10};
    notice.show("Short.");
    ASSERT_EQ(ui->shown.size(), 1u);
    const Rect f = ui->shown[0].frame;
    EXPECT_DOUBLE_EQ(f.midX(), second.visibleFrame.midX());
    EXPECT_DOUBLE_EQ(f.maxY(), second.visibleFrame.maxY() - 24);

    input->at = {-5000, -5000}; // under no screen: the main one
    notice.show("Short.");
    EXPECT_DOUBLE_EQ(ui->shown[1].frame.midX(), screens->list[0].visibleFrame.midX());
    screens->list.clear();
    screens->mainIndex.reset();
    notice.show("Short.");
    EXPECT_EQ(ui->shown[2].frame, (Rect{600 - 116, 800 - 41 - 24, 232, 41}));
}

TEST_F(NoticeTest, ANewNoticeReplacesTheOldOneAndGetsItsOwnNineSeconds) {
    notice.show("First.");
    loop->advance(5s);
    notice.show("Second.");
    EXPECT_EQ(ui->hides, 1);
    loop->advance(8s);
    EXPECT_TRUE(ui->visible);
    loop->advance(1s);
    EXPECT_FALSE(ui->visible);
    EXPECT_FALSE(notice.showing());

    notice.show("Clicked.");
    ui->click();
    EXPECT_FALSE(ui->visible);
    loop->advance(10s);
    EXPECT_EQ(ui->hides, 3); // the timer went with the click
}

class StatusWindowTest : public test::DelegateTest {};

TEST_F(StatusWindowTest, LayoutTextsAndNumbers) {
    const auto l = statusLayout(false);
    EXPECT_EQ(l.title, "Scribbet");
    EXPECT_EQ(l.content, (StatusLayout::Size{600, 480}));
    EXPECT_EQ(l.minimum, (StatusLayout::Size{460, 380}));
    EXPECT_EQ(l.accessibilityTitle, "Allow Accessibility...");
    EXPECT_EQ(statusLayout(true).accessibilityTitle, "Accessibility: on");
    EXPECT_EQ(std::count(l.explanation.begin(), l.explanation.end(), '\n'), 2);
    EXPECT_EQ(l.drawFrame, (Rect{14, 300, 200, 32}));
    EXPECT_EQ(l.logFrame, (Rect{20, 20, 560, 272}));
}

TEST_F(StatusWindowTest, BuiltHiddenAtLaunchShownByReopenWithTheLinesInBetween) {
    AppDelegate& d = make();
    d.willFinishLaunching();
    d.didFinishLaunching();
    auto& ui = statusUI;
    ASSERT_TRUE(ui.window);
    EXPECT_FALSE(ui.window->visible);
    EXPECT_EQ(ui.builds, 1);
    log("between");
    loop->runPending();
    d.shouldHandleReopen(false);
    EXPECT_TRUE(ui.window->visible);
    EXPECT_EQ(ui.builds, 1);
    EXPECT_EQ(app.calls.back(), "activate");
    EXPECT_EQ(ui.window->log->lines.back().substr(10), "between\n");
    // The window counts for the idle rule while it is visible.
    EXPECT_TRUE(state.statusWindow.lock()->isVisible());
    EXPECT_EQ(state.statusWindow.lock(), d.statusWindow());
}

TEST_F(StatusWindowTest, AccessibilityButtonPromptsEveryTimeUntilGrantedThenRenames) {
    ax->isTrusted = false;
    AppDelegate& d = make();
    d.shouldHandleReopen(false); // builds the window
    auto& ui = statusUI;
    ASSERT_EQ(ui.builds, 1);
    ui.window->accessibility();
    ui.window->accessibility();
    EXPECT_EQ(ax->prompts, 2);
    EXPECT_EQ(workspace->opened.size(), 2u);
    EXPECT_EQ(ui.window->layout.accessibilityTitle, "Allow Accessibility...");
    EXPECT_EQ(logged().back(), "Allow Scribbet in System Settings > Privacy & Security > Accessibility (if it is "
                               "listed already, switch it off and on).");
    ax->isTrusted = true;
    ui.window->accessibility();
    EXPECT_EQ(ax->prompts, 2);
    EXPECT_EQ(ui.window->layout.accessibilityTitle, "Accessibility: on");
    EXPECT_EQ(logged().back(), "Accessibility is on: the drawing layer follows PowerPoint's zoom and scrolling.");
}

} // namespace
