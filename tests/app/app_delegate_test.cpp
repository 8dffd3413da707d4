#include <gtest/gtest.h>

#include "app/app_delegate.hpp"
#include "adapters/fake/fake_app.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

// Records what the launch and the dispatcher ask of the parts behind the seams.
class RecordingDelegate final : public AppDelegate {
public:
    using AppDelegate::AppDelegate;
    void startDrawing(const std::string& geom, const std::string& tool) override {
        calls.push_back("draw[" + geom + "][" + tool + "]");
    }
    void showStatus() override { calls.push_back("status"); }
    void buildWindow() override { calls.push_back("buildWindow"); }
    void startServer(const std::filesystem::path& webDir) override { calls.push_back("server " + webDir.string()); }
    void stopServer() override { calls.push_back("stopServer"); }
    void idleCheck(Instant due) override {
        calls.push_back("idle");
        dues.push_back(due);
    }
    std::vector<std::string> calls;
    std::vector<Instant> dues;
};

class AppDelegateTest : public test::VirtualMainTest {
protected:
    AppDelegateTest() {
        bundle.files["Scribbet.scpt"] = dir / "bundle" / "Scribbet.scpt";
        test::writeFile(dir / "bundle" / "Scribbet.scpt", "helper v1");
        paths.scripts = dir / "Scripts" / "com.microsoft.Powerpoint";
        ::unsetenv("SCRIBBET_WEB");
    }
    std::unique_ptr<RecordingDelegate> make(Settings s = {}) {
        auto d = std::make_unique<RecordingDelegate>(s, AppDelegate::Ports{app, app, bundle, paths});
        app.delegate = d.get();
        return d;
    }
    fake::FakeApplication app;
    fake::FakeBundle bundle;
    fake::FakePaths paths;
};

TEST_F(AppDelegateTest, LaunchRunsInOrderAndHandlesEarlyLinksAfterTheHelperSetup) {
    auto d = make();
    d->willFinishLaunching();
    app.deliver("scribbet://open");
    app.deliver(std::nullopt); // an event without text is ignored silently
    app.deliver("scribbet://draw?tool=select&g=1%7C2");
    EXPECT_TRUE(d->calls.empty());
    EXPECT_FALSE(d->launched());

    d->didFinishLaunching();
    EXPECT_TRUE(d->launched());
    EXPECT_EQ(app.calls, (std::vector<std::string>{"menu", "accessory"}));
    EXPECT_EQ(d->calls, (std::vector<std::string>{"buildWindow", "server /Applications/Scribbet.app/web",
                                                  "draw[1|2][select]"}));
    EXPECT_EQ(logged(), (std::vector<std::string>{"Scribbet ? started.",
                                                  "Set up the ribbon helper. Restart PowerPoint if it was open.",
                                                  "Started from PowerPoint."}));

    // After launch, links are handled at once, also through the class-wide callback.
    app.deliver("scribbet://status");
    AppDelegate::link("scribbet://draw");
    EXPECT_EQ(d->calls.back(), "draw[][]");
    EXPECT_EQ(d->calls[d->calls.size() - 2], "status");
}

TEST_F(AppDelegateTest, IdleCheckRunsEveryTwentySecondsUntilTerminated) {
    auto d = make();
    d->willFinishLaunching();
    d->didFinishLaunching();
    d->calls.clear();
    loop->advance(59s);
    EXPECT_EQ(d->calls, (std::vector<std::string>{"idle", "idle"}));
    loop->advance(1s);
    EXPECT_EQ(d->calls.size(), 3u);
    app.terminate();
    loop->advance(60s);
    EXPECT_EQ(d->calls, (std::vector<std::string>{"idle", "idle", "idle", "stopServer"}));
}

TEST_F(AppDelegateTest, IdleTicksKeepToTheirGridFromLaunchAndSkipWhatABusyMainThreadMissed) {
    auto d = make();
    d->willFinishLaunching();
    const Instant launch = clock->now();
    d->didFinishLaunching();
    loop->advance(20s);
    // The main thread is held from 30 s to 75 s: the tick due at 40 s runs at 75 s, the one
    // due at 60 s is skipped, and the grid goes on at 80 s, not 20 s after the late run.
    MainQueue::shared().after(10s, [this] { clock->set(clock->now() + 45s); });
    loop->advance(10s);
    EXPECT_EQ(clock->now() - launch, 75s);
    loop->runPending();
    loop->advance(5s - 1ms);
    EXPECT_EQ(d->dues.size(), 2u);
    loop->advance(1ms);
    std::vector<Duration> since;
    for (const Instant due : d->dues) since.push_back(due - launch);
    EXPECT_EQ(since, (std::vector<Duration>{20s, 40s, 80s}));
}

TEST_F(AppDelegateTest, DispatchesEachCommandAndLogsBadLinksWithTheirFirst120Characters) {
    auto d = make();
    d->didFinishLaunching();
    d->calls.clear();
    d->handle("SCRIBBET://Draw?g=&tool=Shape:Rect");
    d->handle("scribbet://draw?tool=marker");
    d->handle("scribbet://draw?tool=select&tool=pen");
    d->handle("scribbet://STATUS");
    EXPECT_EQ(d->calls, (std::vector<std::string>{"draw[][shape:rect]", "draw[][pen]", "draw[][select]", "status"}));

    const std::string longText = "http://example.com/" + std::string(200, 'a');
    d->handle(longText);
    d->handle("not a link");
    d->handle("scribbet:draw");
    d->handle("scribbet://erase?" + std::string(200, 'b'));
    auto lines = logged();
    ASSERT_GE(lines.size(), 4u);
    lines.erase(lines.begin(), lines.end() - 4);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Ignored a link that is not valid: " + longText.substr(0, 120),
                         "Ignored a link that is not valid: not a link",
                         "Unknown link: scribbet:draw",
                         "Unknown link: " + ("scribbet://erase?" + std::string(200, 'b')).substr(0, 120),
                     }));
    EXPECT_EQ(d->calls.size(), 4u); // nothing else happened
}

TEST_F(AppDelegateTest, ReopeningShowsTheStatusWindow) {
    auto d = make();
    EXPECT_FALSE(d->shouldHandleReopen(true));
    EXPECT_EQ(d->calls, std::vector<std::string>{"status"});
}

TEST_F(AppDelegateTest, MenuBarHasTheApplicationAndEditMenus) {
    const auto menus = AppDelegate::menus();
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_EQ(menus[0].itemTitle, "");
    EXPECT_EQ(menus[0].title, "Scribbet");
    ASSERT_EQ(menus[0].items.size(), 3u);
    EXPECT_EQ(menus[0].items[2], (MenuItem{"Quit Scribbet", "q", MenuAction::terminate}));
    EXPECT_TRUE(menus[0].items[1].separator());
    std::vector<std::string> edit;
    for (const auto& item : menus[1].items) edit.push_back(item.title + "/" + item.key);
    EXPECT_EQ(edit, (std::vector<std::string>{"Undo/z", "/", "Cut/x", "Copy/c", "Paste/v", "Select All/a"}));
}

TEST_F(AppDelegateTest, WebDirectoryComesFromTheEnvironmentOrTheBundle) {
    EXPECT_EQ(AppDelegate::webDirectory("/srv/page", bundle), "/srv/page");
    EXPECT_EQ(AppDelegate::webDirectory("", bundle), "/Applications/Scribbet.app/web");
    bundle.resources = "/Applications/Scribbet.app/Contents/Resources";
    EXPECT_EQ(AppDelegate::webDirectory(std::nullopt, bundle), "/Applications/Scribbet.app/Contents/Resources/web");
}

TEST_F(AppDelegateTest, LinkCallbackDoesNothingOnceTheDelegateIsGone) {
    auto d = make();
    d->willFinishLaunching();
    d->didFinishLaunching();
    d.reset();
    AppDelegate::link("scribbet://open");
    app.deliver("scribbet://open");
    EXPECT_EQ(logged().back(), "Set up the ribbon helper. Restart PowerPoint if it was open.");
}

} // namespace
