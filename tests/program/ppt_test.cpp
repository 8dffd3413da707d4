#include <gtest/gtest.h>

#include <thread>

#include "support/core_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class PPTTest : public test::CoreTest {
protected:
    // Runs a macro from a background queue, as every real caller does.
    std::string runInBackground(const std::string& name, std::vector<std::string> args = {}) {
        SerialQueue caller("test.caller");
        return caller.syncValue([&] { return ppt.run(name, args).text(); });
    }
    void answer(MacroEventReply r) {
        transport->respond = [r](const auto&) { return r; };
    }
};

TEST_F(PPTTest, SendsThePrefixedNameWithItsArgumentsAndTimeout) {
    PPT prefixed({transport, windows, workspace}, main, "Mod.");
    answer(fake::FakeMacroTransport::direct("OK|1|2"));
    SerialQueue caller("test.caller");
    const auto reply = caller.syncValue([&] { return prefixed.run("SCBT_Slide", {"800", "x"}, 5).text(); });
    EXPECT_EQ(reply, "OK|1|2");
    const auto sent = transport->sentSoFar();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].name, "Mod.SCBT_Slide");
    EXPECT_EQ(sent[0].args, (std::vector<std::string>{"800", "x"}));
    EXPECT_EQ(sent[0].timeout, 5s);
}

TEST_F(PPTTest, ClassifiesTheDirectAnswer) {
    const std::string longText = "Z" + std::string(300, 'y');
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {"OK", "OK"},
        {"OK|", "OK|"},
        {"OK|a|b", "OK|a|b"},
        {"ERR|The add-in's own words.", "ERR|The add-in's own words."},
        {"", "ERR|PowerPoint did not answer."},
        {std::nullopt, "ERR|PowerPoint did not answer."},
        {"OKAY", "ERR|Unexpected reply: OKAY"},
        {"ERR", "ERR|Unexpected reply: ERR"},
        {longText, "ERR|Unexpected reply: " + longText.substr(0, 200)},
    };
    for (const auto& [direct, expected] : cases) {
        MacroEventReply r;
        r.direct = direct;
        answer(r);
        EXPECT_EQ(runInBackground("SCBT_Where"), expected) << direct.value_or("(none)");
    }
    EXPECT_TRUE(logged().empty()); // classification logs nothing
}

TEST_F(PPTTest, ExplainsEveryKindOfFailureAndLogsTheSystemsOwnWordsOnce) {
    using Kind = MacroFailureKind;
    auto notLoaded = [](int n) {
        return "ERR|The Scribbet add-in is not loaded in PowerPoint yet, so there was nothing to run (PowerPoint "
               "error " +
               std::to_string(n) + ").";
    };
    const std::vector<std::tuple<Kind, int, std::optional<std::string>, std::string>> cases = {
        {Kind::notRunning, 11, "x",
         "ERR|PowerPoint is not running (or has just quit). Open your presentation in PowerPoint, then try again."},
        {Kind::cancelled, 12, "x", "ERR|Cancelled."},
        {Kind::denied, 13, "x",
         "ERR|macOS is blocking Scribbet from controlling PowerPoint. Allow it in System Settings > Privacy & "
         "Security > Automation."},
        {Kind::timedOut, 14, "x",
         "ERR|PowerPoint took longer than a minute to answer. If it is showing a message, close it (a VBA alert can "
         "open off-screen - click PowerPoint and press Return), then check the slide before trying again."},
        {Kind::notHandled, 15, std::nullopt, notLoaded(15)},
        {Kind::other, 16, "Parameter error.", "ERR|Parameter error. (16)"},
        {Kind::other, 7, std::nullopt, "ERR|unknown error (7)"},
    };
    for (const auto& [kind, n, message, expected] : cases) {
        answer(fake::FakeMacroTransport::failing(kind, n, message));
        EXPECT_EQ(runInBackground("SCBT_Geom"), expected) << n;
    }
    const auto lines = logged();
    ASSERT_EQ(lines.size(), cases.size());
    EXPECT_EQ(lines[0], "SCBT_Geom failed: x (11)");
    EXPECT_EQ(lines[4], "SCBT_Geom failed: unknown error (15)");
}

TEST_F(PPTTest, OnlyAnUnhandledEventMeansTheAddinIsMissing) {
    using Kind = MacroFailureKind;
    SerialQueue caller("test.caller");
    auto ask = [&] { return caller.syncValue([this] { return ppt.run("SCBT_Version"); }); };
    for (Kind kind : {Kind::notRunning, Kind::cancelled, Kind::timedOut, Kind::notHandled, Kind::denied, Kind::other}) {
        answer(fake::FakeMacroTransport::failing(kind, -1, "No macro here."));
        const MacroReply r = ask();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.addinMissing, kind == Kind::notHandled) << r.error;
    }
    answer(fake::FakeMacroTransport::direct("ERR|The add-in is not loaded."));
    EXPECT_FALSE(ask().addinMissing); // the add-in's own words, however they read
    answer(fake::FakeMacroTransport::direct("OK|1|2"));
    EXPECT_EQ(ask().parts, (std::vector<std::string>{"1", "2"}));
    workspace->setRunning(std::nullopt);
    EXPECT_FALSE(ask().addinMissing);
}

TEST_F(PPTTest, SendFailuresAreExplainedToo) {
    answer(fake::FakeMacroTransport::failing(MacroFailureKind::timedOut, -1712, "AppleEvent timed out."));
    EXPECT_EQ(runInBackground("SCBT_Zoom").rfind("ERR|PowerPoint took longer than a minute", 0), 0u);
    EXPECT_EQ(logged(), std::vector<std::string>{"SCBT_Zoom failed: AppleEvent timed out. (-1712)"});
}

TEST_F(PPTTest, NotRunningSendsNothingAndLogsNothing) {
    workspace->setRunning(std::nullopt);
    EXPECT_EQ(runInBackground("SCBT_Version"),
              "ERR|PowerPoint is not running. Open your presentation in PowerPoint, then try again.");
    EXPECT_TRUE(transport->sentSoFar().empty());
    EXPECT_TRUE(logged().empty());
}

TEST_F(PPTTest, RefusesTheMainThread) {
    EXPECT_EQ(ppt.run("SCBT_Version").text(), "ERR|Internal error: PowerPoint was asked from the main thread.");
    EXPECT_TRUE(transport->sentSoFar().empty());
    EXPECT_EQ(logged(), std::vector<std::string>{"PPT.run(SCBT_Version) was called on the main thread - refused"});
}

TEST_F(PPTTest, CallsFromTheBridgeQueueItselfGoStraightThrough) {
    answer(fake::FakeMacroTransport::direct("OK|inner"));
    std::string inner;
    const bool finished = ppt.queue().syncFor(2s, [&] { inner = ppt.run("SCBT_Where").text(); });
    EXPECT_TRUE(finished);
    EXPECT_EQ(inner, "OK|inner");
}

TEST_F(PPTTest, OneEventInFlightWhileManyCallersWait) {
    std::atomic<int> inFlight = 0, most = 0;
    transport->respond = [&](const auto&) {
        most = std::max(most.load(), ++inFlight);
        std::this_thread::sleep_for(2ms);
        --inFlight;
        return fake::FakeMacroTransport::direct("OK");
    };
    std::vector<std::thread> callers;
    std::atomic<int> oks = 0;
    for (int i = 0; i < 8; ++i) {
        callers.emplace_back([&] {
            if (ppt.run("SCBT_Where").text() == "OK") ++oks;
        });
    }
    for (auto& t : callers) t.join();
    EXPECT_EQ(oks, 8);
    EXPECT_EQ(most, 1);
}

TEST_F(PPTTest, WindowBoundsSkipsPalettesOtherProgramsAndOtherLayers) {
    const Rect doc{100, 80, 1200, 800};
    windows->windows = std::vector<WindowInfo>{
        {999, 0, Rect{0, 0, 1600, 1000}},   // another program in front
        {4242, 3, Rect{10, 10, 900, 900}},  // a floating layer
        {4242, 0, std::nullopt},            // unreadable bounds
        {4242, 0, Rect{50, 50, 180, 120}},  // a palette
        {4242, 0, Rect{50, 50, 201, 150}},  // not taller than 150
        {4242, 0, doc},
        {4242, 0, Rect{0, 0, 1000, 700}},
    };
    EXPECT_EQ(ppt.windowBounds(), doc);

    windows->windows = std::vector<WindowInfo>{{4242, 0, Rect{0, 0, 200, 900}}, {4242, 0, Rect{0, 0, 900, 150}}};
    EXPECT_EQ(ppt.windowBounds(), std::nullopt);
    windows->windows = std::nullopt;
    EXPECT_EQ(ppt.windowBounds(), std::nullopt);
    windows->windows = std::vector<WindowInfo>{{4242, 0, doc}};
    workspace->setRunning(std::nullopt);
    EXPECT_EQ(ppt.windowBounds(), std::nullopt);
}

TEST_F(PPTTest, ActivatesOnlyARunningProgram) {
    ppt.activate();
    EXPECT_EQ(workspace->activated, std::vector<std::string>{Host::current().programId});
    workspace->setRunning(std::nullopt);
    ppt.activate();
    EXPECT_EQ(workspace->activated.size(), 1u);
}

TEST(ReplyTest, FromMacroSplitsOnEveryBar) {
    auto r = fromMacro("OK|");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.parts, std::vector<std::string>{""});
    r = fromMacro("OK");
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.parts.empty());
    r = fromMacro("OK|a|b|c");
    EXPECT_EQ(r.parts, (std::vector<std::string>{"a", "b", "c"}));
    r = fromMacro("ERR|Something failed.");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.parts, std::vector<std::string>{"Something failed."});
    r = fromMacro("");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.parts.empty());
    EXPECT_FALSE(fromMacro("ok|x").ok);
}

TEST(ReplyTest, ReplyErrorAndFourCC) {
    EXPECT_EQ(replyError(fromMacro("ERR|Cancelled.")), "Cancelled.");
    EXPECT_EQ(replyError(fromMacro("ERR|")), "");
    EXPECT_EQ(replyError(fromMacro("Plain words")), "Plain words");
    EXPECT_EQ(fourCC("sPPT"), 0x73505054u);
    EXPECT_EQ(fourCC("----"), 0x2D2D2D2Du);
    EXPECT_EQ(fourCC("abcde"), 0x62636465u); // the first byte is shifted out
    EXPECT_EQ(fourCC(""), 0u);
}

} // namespace
