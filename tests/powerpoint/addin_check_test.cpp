#include <gtest/gtest.h>

#include "app/settings.hpp"
#include "adapters/fake/fake_app.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "powerpoint/addin_check.hpp"
#include "powerpoint/ppt.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

// A presentation program whose add-in answers with `version` while loaded; the reload
// script loads `afterReload` (or fails to load anything when that is empty).
class AddinCheckTest : public test::VirtualMainTest {
protected:
    AddinCheckTest() {
        auto bundle = std::make_shared<fake::FakeBundle>();
        bundle->shortVersion = "1.2.3";
        Bundle::setMain(bundle);
        Settings::setCurrent(Settings{});
        AddinCheck::reset();
        PPT::install({transport, std::make_shared<fake::FakeWindowList>(), workspace});
        AddinCheck::install(scripts);
        transport->respond = [this](const auto&) {
            std::lock_guard lock(state);
            if (loaded) return fake::FakeMacroTransport::direct("OK|" + version);
            return fake::FakeMacroTransport::failing(MacroFailureKind::notHandled, -1708);
        };
        scripts->respond = [this](const std::string& source) -> std::optional<ScriptResult> {
            std::lock_guard lock(state);
            if (source == AddinCheck::reloadScript("Scribbet")) {
                loaded = !afterReload.empty();
                if (loaded) version = afterReload;
                return ScriptResult{};
            }
            if (source == AddinCheck::loadedScript("Scribbet")) return ScriptResult{loaded};
            return std::nullopt;
        };
    }
    ~AddinCheckTest() override {
        PPT::install({});
        AddinCheck::install(nullptr);
    }

    // Runs the check on a background queue while the main loop serves its scripts.
    std::optional<std::string> check() {
        SerialQueue caller("test.check");
        std::optional<std::optional<std::string>> result;
        std::atomic<bool> done = false;
        caller.async([&] {
            result = AddinCheck::problem();
            done = true;
        });
        EXPECT_TRUE(loop->runUntil([&] { return done.load(); }, 10s));
        return *result;
    }
    std::size_t versionQuestions() { return transport->sentSoFar().size(); }

    std::mutex state;
    bool loaded = true;
    std::string version = "1.2.3";
    std::string afterReload = "1.2.3";
    std::shared_ptr<fake::FakeMacroTransport> transport = std::make_shared<fake::FakeMacroTransport>();
    std::shared_ptr<fake::FakeWorkspace> workspace = std::make_shared<fake::FakeWorkspace>();
    std::shared_ptr<fake::FakeScriptRunner> scripts = std::make_shared<fake::FakeScriptRunner>();
};

TEST_F(AddinCheckTest, MatchingAddinPassesOnceForTheWholeProcess) {
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_TRUE(AddinCheck::passed());
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_EQ(versionQuestions(), 1u);
    EXPECT_TRUE(scripts->scripts.empty());
    EXPECT_TRUE(logged().empty());
}

TEST_F(AddinCheckTest, DevelopmentAddinPassesWhateverTheVersion) {
    version = "dev";
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_TRUE(AddinCheck::matches(fromMacro("OK|dev")));
    EXPECT_FALSE(AddinCheck::matches(fromMacro("OK|1.2")));
    EXPECT_FALSE(AddinCheck::matches(fromMacro("OK|1.2.3|x")));
}

TEST_F(AddinCheckTest, OtherVersionIsReloadedAndThenPasses) {
    version = "1.0.0";
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_TRUE(AddinCheck::passed());
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "Add-in in PowerPoint answered OK|1.0.0; app is 1.2.3 - reloading the add-in",
                            "Add-in reloaded: OK|1.2.3"}));
    // The reload script, then one poll that found it loaded.
    EXPECT_EQ(scripts->scripts,
              (std::vector<std::string>{AddinCheck::reloadScript("Scribbet"), AddinCheck::loadedScript("Scribbet")}));
}

TEST_F(AddinCheckTest, StillOldAfterReloadTellsTheUserToRestart) {
    version = "1.0.0";
    afterReload = "1.0.0";
    EXPECT_EQ(check(), "PowerPoint is still using Scribbet 1.0.0, this is 1.2.3. Save your work and restart PowerPoint.");
    EXPECT_FALSE(AddinCheck::passed());
    EXPECT_EQ(logged().back(), "After reload the add-in answered: OK|1.0.0");
    // A failed check is asked again next time.
    check();
    EXPECT_EQ(versionQuestions(), 4u);
}

TEST_F(AddinCheckTest, AddinThatCannotLoadGivesUpAfterThirtyPollsHalfASecondApart) {
    loaded = false;
    afterReload = "";
    const Instant start = clock->now();
    EXPECT_EQ(check(), "PowerPoint could not load the Scribbet add-in's code. Save your work, restart PowerPoint, "
                       "and if it still fails send us the log (~/Library/Logs/Scribbet.log).");
    EXPECT_EQ(scripts->scripts.size(), 31u);
    EXPECT_EQ(clock->now() - start, 15s);
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "SCBT_Version failed: unknown error (-1708)");
    EXPECT_EQ(lines[1].rfind("Add-in in PowerPoint answered ERR|The Scribbet add-in is not loaded in", 0), 0u);
    EXPECT_EQ(lines[1].find("; app is 1.2.3 - reloading the add-in"), 30u + 40u);
    EXPECT_EQ(lines.back().rfind("After reload the add-in answered: ERR|The Scribbet add-in", 0), 0u);
}

TEST_F(AddinCheckTest, ProgramNotRunningIsToldWithoutReload) {
    workspace->setRunning(std::nullopt);
    EXPECT_EQ(check(), "PowerPoint is not running. Open your presentation in PowerPoint, then try again.");
    EXPECT_TRUE(scripts->scripts.empty());
    EXPECT_TRUE(logged().empty());
}

TEST_F(AddinCheckTest, AddinNameIsEscapedForTheScript) {
    EXPECT_EQ(AddinCheck::escaped(R"(My "Pen" \ Tools)"), R"(My \"Pen\" \\ Tools)");
    EXPECT_EQ(AddinCheck::loadedScript(R"(a"b)"),
              "tell application \"Microsoft PowerPoint\" to return loaded of add in \"a\\\"b\"");
    EXPECT_EQ(AddinCheck::reloadScript("S"),
              "tell application \"Microsoft PowerPoint\"\n  with timeout of 30 seconds\n    set loaded of add in "
              "\"S\" to false\n  end timeout\n  with timeout of 120 seconds\n    set loaded of add in \"S\" to "
              "true\n  end timeout\nend tell");
}

} // namespace
