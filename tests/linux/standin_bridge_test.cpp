// The bridge to the presentation program over the real socket, with a real stand-in process.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/settings.hpp"
#include "adapters/linux/standin_adapters.hpp"
#include "adapters/linux/standin_link.hpp"
#include "program/addin_check.hpp"
#include "program/ppt.hpp"
#include "support/process.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

class StandinBridgeTest : public test::VirtualMainTest {
protected:
    StandinBridgeTest() {
        socket = (dir / "standin.sock").string();
        ::setenv("SCRIBBET_STANDIN_SOCKET", socket.c_str(), 1);
        standin = std::make_unique<test::Process>(
            std::vector<std::string>{SCRIBBET_STANDIN_PROGRAM, "serve", "--socket", socket},
            std::vector<std::string>{"HOME=" + dir.path().string(), "PATH=/usr/bin:/bin"});
        EXPECT_TRUE(test::eventually([&] { return standin::call({{"op", "state"}}, 1s).ok(); }));
    }
    ~StandinBridgeTest() override {
        standin::call({{"op", "quit"}}, 1s);
        standin->wait();
        ::unsetenv("SCRIBBET_STANDIN_SOCKET");
    }
    void set(const json& values) { standin::call({{"op", "set"}, {"values", values}}, 2s); }
    std::string runInBackground(const std::string& name, double timeout = 60) {
        SerialQueue caller("test.caller");
        return caller.syncValue([&] { return ppt.run(name, {}, timeout).text(); });
    }

    std::string socket;
    std::unique_ptr<test::Process> standin;
    const Settings settings;
    PPT ppt{{std::make_shared<linuxhost::StandinMacroTransport>(), std::make_shared<linuxhost::StandinWindowList>(),
             std::make_shared<linuxhost::StandinWorkspace>(main)},
            main,
            settings.macroPrefix};
    AddinCheck addin{{ppt, std::make_shared<linuxhost::StandinScriptRunner>(), main, settings.addinName,
                      "1.2.3"}};
};

TEST_F(StandinBridgeTest, AnswersFromTheRunningProgramAndItsWindow) {
    set({{"addin.version", "1.2.3"}});
    EXPECT_EQ(runInBackground("SCBT_Version"), "OK|1.2.3");
    const auto window = ppt.windowBounds();
    ASSERT_TRUE(window);
    EXPECT_GT(window->w, 200);
}

TEST_F(StandinBridgeTest, ASlowProgramTimesOutAndAStoppedOneIsNotRunning) {
    set({{"delay", 1}});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runInBackground("SCBT_Where", 0.3).rfind("ERR|PowerPoint took longer than a minute", 0), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(logged().back(), "SCBT_Where failed: AppleEvent timed out. (-1712)");

    set({{"delay", 0}, {"automation", false}});
    EXPECT_EQ(runInBackground("SCBT_Where").rfind("ERR|macOS is blocking Scribbet", 0), 0u);

    standin::call({{"op", "quit"}}, 1s);
    standin->wait();
    EXPECT_EQ(runInBackground("SCBT_Version"),
              "ERR|PowerPoint is not running. Open your presentation in PowerPoint, then try again.");
}

TEST_F(StandinBridgeTest, AStandinThatRestartedIsFoundAgainOnTheFirstCall) {
    set({{"addin.version", "1.2.3"}});
    EXPECT_EQ(runInBackground("SCBT_Version"), "OK|1.2.3"); // its connection is kept now
    standin::call({{"op", "quit"}}, 1s);
    ASSERT_EQ(standin->wait(), 0);
    standin = std::make_unique<test::Process>(
        std::vector<std::string>{SCRIBBET_STANDIN_PROGRAM, "serve", "--socket", socket},
        std::vector<std::string>{"HOME=" + dir.path().string(), "PATH=/usr/bin:/bin"});
    // Waited for under another spelling of the path, so that the kept connections of the
    // usual one stay as the first stand-in left them.
    const auto sameSocket = dir / "." / "standin.sock";
    ASSERT_TRUE(test::eventually([&] { return standin::call({{"op", "state"}}, 1s, sameSocket).ok(); }));
    standin::call({{"op", "set"}, {"values", {{"addin.version", "1.2.3"}}}}, 2s, sameSocket);
    EXPECT_EQ(runInBackground("SCBT_Version"), "OK|1.2.3");
}

// The stand-in answers with the Mac's numbers; this is where they become kinds.
TEST(StandinFailureTable, EachKnownNumberHasItsKindAndTheProgramsWordsForAMissingMacroToo) {
    using Kind = MacroFailureKind;
    const std::vector<std::tuple<int, std::optional<std::string>, Kind>> cases = {
        {-600, "x", Kind::notRunning},
        {-609, std::nullopt, Kind::notRunning},
        {-903, "x", Kind::notRunning},
        {-10661, "x", Kind::notRunning},
        {-128, "x", Kind::cancelled},
        {-1743, "x", Kind::denied},
        {-1744, "x", Kind::denied},
        {-1712, "x", Kind::timedOut},
        {-1708, std::nullopt, Kind::notHandled},
        {-18, "x", Kind::notHandled},
        {-50, "No MACRO named that", Kind::notHandled}, // the program's words for a missing macro
        {-50, "Parameter error.", Kind::other},
        {7, std::nullopt, Kind::other},
    };
    for (const auto& [number, message, kind] : cases) {
        const auto f = linuxhost::macroFailureOf(number, message);
        EXPECT_EQ(f.kind, kind) << number << " " << message.value_or("");
        EXPECT_EQ(f.number, number);
        EXPECT_EQ(f.message, message);
    }
}

TEST_F(StandinBridgeTest, AnOldAddinIsReloadedThroughTheScripts) {
    set({{"addin.version", "0.9.0"}, {"addin.reloadVersion", "1.2.3"}});
    SerialQueue caller("test.check");
    std::optional<std::optional<std::string>> problem;
    caller.async([&] { problem = addin.problem(); });
    ASSERT_TRUE(loop->runUntil([&] { return problem.has_value(); }, 10s));
    EXPECT_EQ(*problem, std::nullopt);
    const auto lines = logged();
    EXPECT_EQ(lines.back(), "Add-in reloaded: OK|1.2.3");
}

} // namespace
