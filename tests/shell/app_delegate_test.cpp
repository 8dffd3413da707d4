// The launch sequence, the link dispatcher and the idle timer, on the real delegate over the
// program's parts: what they did is read back from the fakes (the application, the status
// window, the add-in's macros, the layer's page) and from the server the launch started.
#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <thread>

#include "server/http_client.hpp"
#include "server/server.hpp"
#include "support/process.hpp"
#include "support/core_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {


class AppDelegateTest : public test::DelegateTest {
protected:
    AppDelegateTest() {
        bundle.files["Scribbet.scpt"] = dir / "bundle" / "Scribbet.scpt";
        test::writeFile(dir / "bundle" / "Scribbet.scpt", "helper v1");
        paths.scripts = dir / "Scripts" / "com.microsoft.Powerpoint";
        programWithTheUsualSlide();
    }

    // Waits until every drawing start has ended.
    bool startsEnded() { return loop->runUntil([this] { return idle.working == 0; }, 5s); }
    // The page of the open layer, ready and answering every command.
    void pageReady() {
        factory->web->post({{"type", "ready"}});
        factory->web->answer = [](const std::string&) { return EvalResult{std::string("ok"), {}}; };
    }
    // The tools the page was told to switch to, in order.
    std::vector<std::string> toolsSwitched() const {
        const std::string head = R"(SCB.command({"op":"tool","tool":")", tail = R"("}))";
        std::vector<std::string> tools;
        for (const auto& s : factory->web->scripts) {
            if (s.starts_with(head) && s.ends_with(tail)) {
                tools.push_back(s.substr(head.size(), s.size() - head.size() - tail.size()));
            }
        }
        return tools;
    }
    bool layerToolIs(const std::string& tool) const {
        return overlay->address().find("&tool=" + Overlay::enc(tool) + "&") != std::string::npos;
    }
    // Waits in real time until the server the launch started listens.
    bool serverReady() {
        const std::string line = "Web server ready on port " + std::to_string(settings.port) + ".";
        return test::eventually([&] {
            const auto lines = logged();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        }, 3000ms);
    }
    bool serverAnswers() const { return test::Client(settings.port).connected(); }
};

TEST_F(AppDelegateTest, LaunchRunsInOrderAndHandlesEarlyLinksAfterTheHelperSetup) {
    AppDelegate& d = make();
    d.willFinishLaunching();
    app.deliver("scribbet://open");
    app.deliver(std::nullopt); // an event without text is ignored silently
    app.deliver(std::string("scribbet://draw?tool=select&g=") + encodedSlide);
    EXPECT_FALSE(d.launched());
    EXPECT_EQ(statusUI.builds, 0);
    EXPECT_FALSE(d.server());
    EXPECT_EQ(idle.working, 0);
    EXPECT_TRUE(logged().empty());

    d.didFinishLaunching();
    EXPECT_TRUE(d.launched());
    EXPECT_EQ(app.calls, (std::vector<std::string>{"menu", "accessory"}));
    EXPECT_EQ(statusUI.builds, 1);
    ASSERT_TRUE(d.statusWindow());
    EXPECT_FALSE(statusUI.window->visible); // built hidden
    ASSERT_TRUE(d.server());
    EXPECT_EQ(d.server()->web(), "/Applications/Scribbet.app/web");
    EXPECT_TRUE(serverReady());
    EXPECT_EQ(idle.working, 1); // the early draw link started a drawing
    ASSERT_TRUE(startsEnded());
    auto lines = loggedButServer();
    ASSERT_GE(lines.size(), 3u);
    lines.resize(3);
    EXPECT_EQ(lines, (std::vector<std::string>{"Scribbet 1.2.3 started.",
                                               "Set up the ribbon helper. Restart PowerPoint if it was open.",
                                               "Started from PowerPoint."}));
    // The link's own geometry was measured (the add-in was not asked for one), with its tool.
    EXPECT_EQ(macros(), (std::vector<std::string>{"SCBT_Version", "SCBT_Zoom", "SCBT_Where", "SCBT_Where"}));
    ASSERT_TRUE(overlay->isOpen());
    EXPECT_TRUE(layerToolIs("select")) << overlay->address();

    // After launch, links are handled at once, also through the delegate's link callback.
    pageReady();
    app.deliver("scribbet://status");
    EXPECT_TRUE(statusUI.window->visible);
    EXPECT_EQ(app.calls.back(), "activate");
    factory->panel->visible = false;
    ASSERT_TRUE(d.link);
    d.link("scribbet://draw");
    EXPECT_EQ(idle.working, 1);
    ASSERT_TRUE(startsEnded());
    EXPECT_TRUE(factory->panel->visible); // the open layer came to the slide
    EXPECT_TRUE(toolsSwitched().empty()); // no tool named: none switched to
}

TEST_F(AppDelegateTest, IdleTicksComeEveryTwentySecondsUntilTheProgramEndsAndThenTheServerStops) {
    AppDelegate& d = make();
    d.willFinishLaunching();
    const Instant launch = clock->now();
    idle.started(); // the minimum lifetime counts from launch
    d.didFinishLaunching();
    ASSERT_TRUE(serverReady());
    EXPECT_TRUE(serverAnswers());
    loop->advance(10s);
    idle.requested(); // quiet from 70 s on: the tick that finds it so is the one due at 80 s
    loop->advance(70s - 1ms);
    EXPECT_FALSE(app.terminated);
    loop->advance(1ms);
    EXPECT_TRUE(app.terminated);
    EXPECT_EQ(clock->now() - launch, 80s);
    EXPECT_FALSE(serverAnswers()); // stopped as the program ended
    loop->advance(60s);
    EXPECT_EQ(std::count(app.calls.begin(), app.calls.end(), "terminate"), 1); // no tick after the end
}

// The end never waits for the program, nor for anything that waits on the main thread: a closing
// placing the program is at, and a question for the main thread, while the main thread ends.
TEST_F(AppDelegateTest, QuittingWhileAClosingPlacingWaitsForTheProgramEndsAtOnceAndSaysWhatItKnows) {
    std::latch programAnswers{1};
    transport->respond = [&](const fake::FakeMacroTransport::Sent& s) {
        if (s.name.ends_with("SCBT_Insert")) programAnswers.wait();
        return fake::FakeMacroTransport::direct(s.name.ends_with("SCBT_Version") ? "OK|dev" : "OK|0");
    };
    AppDelegate& d = make();
    d.willFinishLaunching();
    d.didFinishLaunching();
    ASSERT_TRUE(serverReady());
    const std::string host = "127.0.0.1:" + std::to_string(settings.port);
    const std::string body = R"({"id":"q1","close":true,"path":"M 0 0 L 1 1"})";
    test::Client placing(settings.port);
    placing.send("POST /api/insert HTTP/1.1\r\nHost: " + host + "\r\nx-scribbet: 1\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(loop->runUntil([&] { return macros().size() == 2; }, 5s)); // the check, then the insert
    test::Client state(settings.port);
    state.send("GET /api/state HTTP/1.1\r\nHost: " + host + "\r\nx-scribbet: 1\r\n\r\n");
    std::this_thread::sleep_for(100ms);

    const auto begun = std::chrono::steady_clock::now();
    d.willTerminate(); // on the main thread, which the question waits for
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 4500ms);
    const auto placed = nlohmann::json::parse(test::Response::from(placing.readAll(1000ms).bytes).body);
    EXPECT_EQ(placed["unknown"], true) << "the program may still place it: not a failure";
    EXPECT_EQ(test::Response::from(state.readAll(1000ms).bytes).body, R"({"msg":"Scribbet is quitting.","ok":false})");
    programAnswers.count_down();
    ppt.queue().sync([] {});
}

TEST_F(AppDelegateTest, IdleTicksKeepToTheirGridFromLaunchAndSkipWhatABusyMainThreadMissed) {
    AppDelegate& d = make();
    d.willFinishLaunching();
    const Instant launch = clock->now();
    idle.started(); // both quiet minutes count from launch: the rule lets go from 60 s on
    idle.lastRequest();
    d.didFinishLaunching();
    loop->advance(20s);
    // The main thread is held from 30 s to 75 s: the tick due at 40 s runs at 75 s and measures
    // from 40 s (too soon to quit), the one due at 60 s is skipped rather than run late, and
    // the grid goes on at 80 s, not 20 s after the late run.
    main.after(10s, [this] { clock->set(clock->now() + 45s); });
    loop->advance(10s);
    EXPECT_EQ(clock->now() - launch, 75s);
    loop->runPending();
    EXPECT_FALSE(app.terminated);
    loop->advance(5s - 1ms);
    EXPECT_FALSE(app.terminated);
    loop->advance(1ms);
    EXPECT_TRUE(app.terminated);
    EXPECT_EQ(clock->now() - launch, 80s);
}

TEST_F(AppDelegateTest, DispatchesEachCommandAndLogsBadLinksWithTheirFirst120Characters) {
    AppDelegate& d = make();
    d.didFinishLaunching();
    d.handle("SCRIBBET://Draw?g=&tool=Shape:Rect");
    ASSERT_TRUE(startsEnded());
    ASSERT_TRUE(overlay->isOpen());
    EXPECT_TRUE(layerToolIs("shape:rect")) << overlay->address();
    EXPECT_EQ(macros().at(1), "SCBT_Geom"); // no geometry in the link: the add-in's
    pageReady();
    d.handle("scribbet://draw?tool=marker");
    ASSERT_TRUE(startsEnded());
    d.handle("scribbet://draw?tool=highlighter");
    ASSERT_TRUE(startsEnded());
    d.handle("scribbet://draw?tool=select&tool=pen");
    ASSERT_TRUE(startsEnded());
    EXPECT_EQ(toolsSwitched(), (std::vector<std::string>{"pen", "highlighter", "select"}));
    EXPECT_FALSE(statusUI.window->visible);
    d.handle("scribbet://STATUS");
    EXPECT_TRUE(statusUI.window->visible);

    const auto sent = transport->sentSoFar().size();
    const auto scripts = factory->web->scripts.size();
    const auto calls = app.calls;
    const std::string longText = "http://example.com/" + std::string(200, 'a');
    d.handle(longText);
    d.handle("not a link");
    d.handle("scribbet:draw");
    d.handle("scribbet://erase?" + std::string(200, 'b'));
    auto lines = loggedButServer();
    ASSERT_GE(lines.size(), 4u);
    lines.erase(lines.begin(), lines.end() - 4);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Ignored a link that is not valid: " + longText.substr(0, 120),
                         "Ignored a link that is not valid: not a link",
                         "Unknown link: scribbet:draw",
                         "Unknown link: " + ("scribbet://erase?" + std::string(200, 'b')).substr(0, 120),
                     }));
    // Nothing else happened.
    EXPECT_EQ(idle.working, 0);
    loop->runPending();
    EXPECT_EQ(transport->sentSoFar().size(), sent);
    EXPECT_EQ(factory->web->scripts.size(), scripts);
    EXPECT_EQ(app.calls, calls);
}

TEST_F(AppDelegateTest, ReopeningShowsTheStatusWindow) {
    AppDelegate& d = make();
    EXPECT_FALSE(d.shouldHandleReopen(true));
    ASSERT_TRUE(statusUI.window);
    EXPECT_EQ(d.statusWindow(), statusUI.window);
    EXPECT_TRUE(statusUI.window->visible);
    EXPECT_EQ(app.calls, std::vector<std::string>{"activate"});
    d.shouldHandleReopen(false);
    EXPECT_EQ(statusUI.builds, 1); // built once
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
    AppDelegate& d = make();
    EXPECT_FALSE(d.link); // empty until launch
    d.willFinishLaunching();
    d.didFinishLaunching();
    const auto link = d.link;
    ASSERT_TRUE(link);
    app.delegate = nullptr;
    delegate.reset();
    link("scribbet://open");
    app.deliver("scribbet://open");
    EXPECT_EQ(loggedButServer().back(), "Set up the ribbon helper. Restart PowerPoint if it was open.");
}

} // namespace
