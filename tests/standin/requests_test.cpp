// The requests of the wire, answered in process: the desktop's questions, scripts, the
// program's reply delay and the stand-in's own requests.
#include <gtest/gtest.h>

#include <future>

#include "requests.hpp"
#include "standin_support.hpp"

using namespace scribbet::standin;
using namespace scribbet::standin::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {
json ask(SharedModel& shared, const json& request) {
    const Handled h = handleRequest(shared, request);
    EXPECT_TRUE(h.answered);
    return h.answer;
}

json versionEvent() { return {{"op", "macro"}, {"name", "SCBT_Pen.SCBT_Version"}, {"args", json::array()}}; }

void change(SharedModel& shared, const json& values) {
    ASSERT_EQ(ask(shared, {{"op", "set"}, {"values", values}})["ok"], true) << values.dump();
}
} // namespace

TEST(StandinRequestsTest, WindowsComeFrontToBackWithTheProgramsOnTopWhenItIsInFront) {
    SharedModel shared(placedModel());
    const json list = ask(shared, {{"op", "windows"}})["windows"];
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0]["layer"], 24); // the menu bar
    EXPECT_EQ(list[1]["pid"], 4242);
    EXPECT_EQ(list[1]["bounds"][2], 180); // the palette, in front of its document window
    EXPECT_EQ(list[2]["pid"], 4242);
    EXPECT_EQ(list[2]["bounds"], json::array({100, 50, 1400, 900}));
    EXPECT_EQ(list[2]["name"], "Presentation1");
    for (std::size_t i = 1; i < list.size(); ++i) EXPECT_EQ(list[i]["layer"], 0);

    EXPECT_EQ(ask(shared, {{"op", "activate"}, {"bundle", "com.apple.finder"}})["ok"], true);
    EXPECT_EQ(ask(shared, {{"op", "front"}}), (json{{"bundle", "com.apple.finder"}, {"pid", 301}}));
    const json behind = ask(shared, {{"op", "windows"}})["windows"];
    EXPECT_EQ(behind[1]["pid"], 301);
    EXPECT_EQ(behind[2]["pid"], 4242);

    EXPECT_EQ(ask(shared, {{"op", "activate"}})["ok"], true);
    EXPECT_EQ(ask(shared, {{"op", "front"}})["bundle"], "com.microsoft.Powerpoint");

    shared.change([](Model& m) { m.window.palette = false; });
    EXPECT_EQ(ask(shared, {{"op", "windows"}})["windows"][1]["bounds"][2], 1400);
}

TEST(StandinRequestsTest, AStoppedProgramHasNoWindowsAndAnswersNoEvent) {
    Model m = placedModel();
    m.running = false;
    m.front = m.others.front();
    SharedModel shared(m);
    EXPECT_EQ(ask(shared, {{"op", "running"}}), (json{{"running", false}, {"pid", 0}}));
    EXPECT_EQ(ask(shared, {{"op", "running"}, {"bundle", "com.apple.finder"}}), (json{{"running", true}, {"pid", 301}}));
    EXPECT_EQ(ask(shared, {{"op", "running"}, {"bundle", "org.example.none"}})["running"], false);
    const json windows = ask(shared, {{"op", "windows"}});
    for (const auto& w : windows["windows"]) EXPECT_NE(w["pid"], 4242);
    EXPECT_EQ(ask(shared, {{"op", "activate"}})["ok"], false);
    EXPECT_EQ(ask(shared, {{"op", "front"}})["bundle"], "com.apple.finder");
    EXPECT_EQ(ask(shared, versionEvent())["errn"], -600);
    EXPECT_EQ(ask(shared, {{"op", "script"}, {"source", "return true"}})["ok"], false);
}

TEST(StandinRequestsTest, TheMainScreenIsTheOneWithTheProgramsWindow) {
    Model m = placedModel();
    m.window.frame.x = 1600;
    SharedModel shared(m);
    const json s = ask(shared, {{"op", "screens"}});
    ASSERT_EQ(s["screens"].size(), 2u);
    EXPECT_EQ(s["screens"][0]["scale"], 2);
    EXPECT_EQ(s["screens"][1]["frame"], json::array({1512, 0, 1920, 1080}));
    EXPECT_EQ(s["main"], 1);
}

TEST(StandinRequestsTest, EventAnswersCarryTheReplyParameters) {
    Model m = placedModel();
    SharedModel shared(m);
    EXPECT_EQ(ask(shared, versionEvent()), (json{{"errn", 0}, {"direct", "OK|1.2.3"}}));
    shared.change([](Model& x) { x.addin.loaded = false; });
    EXPECT_EQ(ask(shared, versionEvent()), (json{{"errn", -1708}}));
    shared.change([](Model& x) { x.automationDenied = true; });
    const json denied = ask(shared, versionEvent());
    EXPECT_EQ(denied["errn"], -1743);
    EXPECT_TRUE(denied["errs"].is_string());
    const json script = ask(shared, {{"op", "script"}, {"source", "return true"}});
    EXPECT_EQ(script["ok"], false);
    EXPECT_TRUE(script["error"].is_string());

    EXPECT_TRUE(ask(shared, {{"op", "macro"}, {"name", 5}})["error"].is_string());
    EXPECT_TRUE(ask(shared, {{"op", "macro"}, {"name", "x"}, {"args", {1, 2}}})["error"].is_string());
    EXPECT_TRUE(ask(shared, {{"op", "dance"}})["error"].is_string());
    EXPECT_TRUE(ask(shared, json::array({1}))["error"].is_string());
}

TEST(StandinRequestsTest, ScriptsChangeTheAddinThroughTheWire) {
    Model m = placedModel();
    m.addin.loaded = false;
    m.addin.reloadVersion = "2.0";
    SharedModel shared(m);
    const json poll = {{"op", "script"},
                       {"source", "tell application \"Microsoft PowerPoint\" to return loaded of add in \"Scribbet\""}};
    EXPECT_EQ(ask(shared, poll), (json{{"ok", true}, {"result", false}}));
    ask(shared, {{"op", "script"},
                 {"source", "tell application \"Microsoft PowerPoint\" to set loaded of add in \"Scribbet\" to true"}});
    EXPECT_EQ(ask(shared, poll)["result"], true);
    EXPECT_EQ(ask(shared, versionEvent())["direct"], "OK|2.0");
}

TEST(StandinRequestsTest, SetAnswersAndMayEndTheStandIn) {
    SharedModel shared(placedModel());
    const Handled bad = handleRequest(shared, {{"op", "set"}, {"values", {{"zoom", 2}}}});
    EXPECT_EQ(bad.answer["ok"], false);
    EXPECT_FALSE(bad.quit);
    const Handled good = handleRequest(shared, {{"op", "set"}, {"values", {{"zoom", 200}, {"quit", true}}}});
    EXPECT_EQ(good.answer["ok"], true);
    EXPECT_TRUE(good.quit);
    EXPECT_EQ(shared.read([](const Model& m) { return m.window.zoom; }), 200);
    EXPECT_TRUE(handleRequest(shared, {{"op", "quit"}}).quit);

    EXPECT_EQ(ask(shared, {{"op", "open"}, {"url", "https://example.com/help"}})["ok"], true);
    EXPECT_EQ(ask(shared, {{"op", "state"}})["urls"], json::array({"https://example.com/help"}));
}

TEST(StandinRequestsTest, ADelayedProgramAnswersLaterWhileTheDesktopAnswersAtOnce) {
    Model m = placedModel();
    m.delay = {0.3, false};
    SharedModel shared(m);
    const auto start = std::chrono::steady_clock::now();
    auto event = std::async(std::launch::async, [&] { return handleRequest(shared, versionEvent()); });
    EXPECT_EQ(ask(shared, {{"op", "running"}})["running"], true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    const Handled h = event.get();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(h.answer["direct"], "OK|1.2.3");
}

TEST(StandinRequestsTest, AHungProgramAnswersOnceItIsToldToAndNeverAfterTheEnd) {
    Model m = placedModel();
    m.delay = {0, true};
    SharedModel shared(m);
    auto placing = std::async(std::launch::async, [&] {
        return handleRequest(shared, {{"op", "macro"}, {"name", "SCBT_Pen.SCBT_Insert"}, {"args", {"M 0 0 L 1 1"}}});
    });
    EXPECT_EQ(placing.wait_for(200ms), std::future_status::timeout);
    // Nothing was placed while the program hung.
    EXPECT_TRUE(shared.read([](const Model& x) { return x.currentSlide().shapes.empty(); }));
    ask(shared, {{"op", "set"}, {"values", {{"delay", 0}}}});
    ASSERT_EQ(placing.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(placing.get().answer["direct"].get<std::string>().substr(0, 4), "OK|1");

    shared.change([](Model& x) { x.delay = {0, true}; });
    auto stuck = std::async(std::launch::async, [&] { return handleRequest(shared, versionEvent()); });
    EXPECT_EQ(stuck.wait_for(100ms), std::future_status::timeout);
    shared.end();
    ASSERT_EQ(stuck.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(stuck.get().answered);
}

TEST(StandinRequestsTest, APresentationWithoutAWindowShowsNoWindowOfTheProgram) {
    SharedModel shared(placedModel());
    change(shared, {{"view", "sorter"}}); // the sorter is still the document window
    EXPECT_EQ(ask(shared, {{"op", "windows"}})["windows"][2]["bounds"], json::array({100, 50, 1400, 900}));
    EXPECT_EQ(ask(shared, {{"op", "screens"}})["main"], 0);

    shared.change([](Model& m) { m.window.frame.x = 1600; }); // onto the 1x screen
    EXPECT_EQ(ask(shared, {{"op", "screens"}})["main"], 1);
    change(shared, {{"view", "none"}});
    const json windows = ask(shared, {{"op", "windows"}})["windows"];
    for (const auto& w : windows) EXPECT_NE(w["pid"], 4242) << w.dump();
    EXPECT_EQ(windows.size(), 3u); // the menu bar and the other applications' windows
    EXPECT_EQ(ask(shared, {{"op", "screens"}})["main"], 0); // no key window on the 1x screen now
    // The program still runs, in front, and answers its events.
    EXPECT_EQ(ask(shared, {{"op", "running"}})["running"], true);
    EXPECT_EQ(ask(shared, {{"op", "front"}})["bundle"], "com.microsoft.Powerpoint");
    EXPECT_EQ(ask(shared, versionEvent())["direct"], "OK|1.2.3");
    EXPECT_EQ(ask(shared, {{"op", "state"}})["view"], "none");
}
