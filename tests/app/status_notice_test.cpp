#include <gtest/gtest.h>

#include "app/app_delegate.hpp"
#include "app/notice.hpp"
#include "app/status_layout.hpp"
#include "geometry/pane_reader.hpp"
#include "adapters/fake/fake_accessibility.hpp"
#include "adapters/fake/fake_app.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "adapters/fake/fake_status.hpp"
#include "powerpoint/ppt.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class NoticeTest : public test::VirtualMainTest {
protected:
    NoticeTest() {
        // Two screens side by side (top-left 0,0 1440x900 and 1440,0 1920x1080), with a menu bar.
        screens->set({{0, 0, 1440, 900}, {1440, 0, 1920, 1080}});
        for (auto& s : screens->list) s.visibleFrame = {s.frame.x, s.frame.y, s.frame.w, s.frame.h - 25};
        Screens::install(screens);
        Notice::install(ui, input);
    }
    ~NoticeTest() override {
        Notice::install(nullptr, nullptr);
        Screens::install(nullptr);
    }
    std::shared_ptr<fake::FakeScreens> screens = std::make_shared<fake::FakeScreens>();
    std::shared_ptr<fake::FakeNoticeUI> ui = std::make_shared<fake::FakeNoticeUI>();
    std::shared_ptr<fake::FakeInputMonitors> input = std::make_shared<fake::FakeInputMonitors>();
};

TEST_F(NoticeTest, WidthFollowsTheTextBetween232And472Points) {
    EXPECT_EQ(Notice::place({120, 17}, {}).frame.w, 232);
    EXPECT_EQ(Notice::place({200, 17}, {}).frame.w, 232);
    EXPECT_EQ(Notice::place({300, 17}, {}).frame.w, 332);
    const auto wide = Notice::place({443, 34}, {});
    EXPECT_EQ(wide.frame.w, 472);
    EXPECT_EQ(wide.frame.h, 58);
    EXPECT_EQ(wide.label, (Rect{16, 12, 440, 34}));
}

TEST_F(NoticeTest, GoesToTheTopCentreOfTheScreenUnderThePointer) {
    const auto& second = screens->list[1];
    input->at = {second.frame.x + 10, second.frame.y + 10};
    Notice::show("Short.");
    ASSERT_EQ(ui->shown.size(), 1u);
    const Rect f = ui->shown[0].frame;
    EXPECT_DOUBLE_EQ(f.midX(), second.visibleFrame.midX());
    EXPECT_DOUBLE_EQ(f.maxY(), second.visibleFrame.maxY() - 24);

    input->at = {-5000, -5000}; // under no screen: the main one
    Notice::show("Short.");
    EXPECT_DOUBLE_EQ(ui->shown[1].frame.midX(), screens->list[0].visibleFrame.midX());
    screens->list.clear();
    screens->mainIndex.reset();
    Notice::show("Short.");
    EXPECT_EQ(ui->shown[2].frame, (Rect{600 - 116, 800 - 41 - 24, 232, 41}));
}

TEST_F(NoticeTest, ANewNoticeReplacesTheOldOneAndGetsItsOwnNineSeconds) {
    Notice::show("First.");
    loop->advance(5s);
    Notice::show("Second.");
    EXPECT_EQ(ui->hides, 1);
    loop->advance(8s);
    EXPECT_TRUE(ui->visible);
    loop->advance(1s);
    EXPECT_FALSE(ui->visible);
    EXPECT_FALSE(Notice::showing());

    Notice::show("Clicked.");
    ui->click();
    EXPECT_FALSE(ui->visible);
    loop->advance(10s);
    EXPECT_EQ(ui->hides, 3); // the timer went with the click
}

class StatusWindowTest : public test::VirtualMainTest {
protected:
    StatusWindowTest() {
        AXAccess::install(ax);
        PPT::install({std::make_shared<fake::FakeMacroTransport>(), std::make_shared<fake::FakeWindowList>(),
                      workspace});
    }
    ~StatusWindowTest() override {
        AXAccess::install(nullptr);
        PPT::install({});
    }
    std::shared_ptr<fake::FakeAccessibility> ax = std::make_shared<fake::FakeAccessibility>();
    std::shared_ptr<fake::FakeWorkspace> workspace = std::make_shared<fake::FakeWorkspace>();
    fake::FakeApplication app;
    fake::FakeBundle bundle;
    fake::FakePaths paths;
    fake::FakeStatusUI ui;
};

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
    AppDelegate d({}, {app, app, bundle, paths, &ui});
    d.willFinishLaunching();
    d.didFinishLaunching();
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
    EXPECT_TRUE(AppState::shared().statusWindow.lock()->isVisible());
}

TEST_F(StatusWindowTest, AccessibilityButtonPromptsEveryTimeUntilGrantedThenRenames) {
    ax->isTrusted = false;
    AppDelegate d({}, {app, app, bundle, paths, &ui});
    d.buildWindow();
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
