#include <gtest/gtest.h>

#include "support/core_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

// A presentation program whose add-in answers with `answering` while loaded; the reload
// script loads `afterReload` (or fails to load anything when that is empty).
class AddinCheckTest : public test::CoreTest {
protected:
    AddinCheckTest() {
        transport->respond = [this](const auto&) {
            std::lock_guard lock(programMutex);
            if (loaded) return fake::FakeMacroTransport::direct("OK|" + answering);
            return fake::FakeMacroTransport::failing(MacroFailureKind::notHandled, -1708);
        };
        runner->respond = [this](const std::string& source) -> std::optional<ScriptResult> {
            std::lock_guard lock(programMutex);
            if (source == AddinCheck::reloadScript("Scribbet")) {
                loaded = !afterReload.empty();
                if (loaded) answering = afterReload;
                return ScriptResult{};
            }
            if (source == AddinCheck::loadedScript("Scribbet")) return ScriptResult{loaded};
            return std::nullopt;
        };
    }
    ~AddinCheckTest() override { quiesce(); }

    // Runs the check on a background queue while the main loop serves its scripts.
    std::optional<std::string> check() {
        SerialQueue caller("test.check");
        std::optional<std::optional<std::string>> result;
        std::atomic<bool> done = false;
        caller.async([&] {
            result = addin.problem();
            done = true;
        });
        EXPECT_TRUE(loop->runUntil([&] { return done.load(); }, 10s));
        return *result;
    }
    std::size_t versionQuestions() { return transport->sentSoFar().size(); }

    std::mutex programMutex;
    bool loaded = true;
    std::string answering = "1.2.3"; // the loaded add-in's version
    std::string afterReload = "1.2.3";
};

TEST_F(AddinCheckTest, MatchingAddinPassesOnceAndIsNotAskedAgainUntilReset) {
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_TRUE(addin.passed());
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_EQ(versionQuestions(), 1u);
    EXPECT_TRUE(runner->scripts.empty());
    EXPECT_TRUE(logged().empty());
    addin.reset();
    EXPECT_FALSE(addin.passed());
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_EQ(versionQuestions(), 2u);
}

TEST_F(AddinCheckTest, ThisProgramsVersionIsTheBundlesOrAQuestionMark) {
    EXPECT_EQ(addin.mine(), "1.2.3");
    fake::FakeBundle unversioned;
    unversioned.shortVersion.reset();
    EXPECT_EQ(AddinCheck::versionOf(unversioned), "?");
}

TEST_F(AddinCheckTest, DevelopmentAddinPassesWhateverTheVersion) {
    answering = "dev";
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_TRUE(addin.matches(fromMacro("OK|dev")));
    EXPECT_FALSE(addin.matches(fromMacro("OK|1.2")));
    EXPECT_FALSE(addin.matches(fromMacro("OK|1.2.3|x")));
}

TEST_F(AddinCheckTest, OtherVersionIsReloadedAndThenPasses) {
    answering = "1.0.0";
    EXPECT_EQ(check(), std::nullopt);
    EXPECT_TRUE(addin.passed());
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "Add-in in PowerPoint answered OK|1.0.0; app is 1.2.3 - reloading the add-in",
                            "Add-in reloaded: OK|1.2.3"}));
    // The reload script, then one poll that found it loaded.
    EXPECT_EQ(runner->scripts,
              (std::vector<std::string>{AddinCheck::reloadScript("Scribbet"), AddinCheck::loadedScript("Scribbet")}));
}

TEST_F(AddinCheckTest, StillOldAfterReloadTellsTheUserToRestart) {
    answering = "1.0.0";
    afterReload = "1.0.0";
    EXPECT_EQ(check(), "PowerPoint is still using Scribbet 1.0.0, this is 1.2.3. Save your work and restart PowerPoint.");
    EXPECT_FALSE(addin.passed());
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
    EXPECT_EQ(runner->scripts.size(), 31u);
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
    EXPECT_TRUE(runner->scripts.empty());
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

// A program whose add-in only the user can mend (Impress's extension): nothing is reloaded, and
// the user is told what it has, what this is and how to mend it, in the program's name.
class AddinCheckWithoutReload : public AddinCheckTest {
protected:
    AddinCheckWithoutReload() {
        Host::use({"Impress", "org.libreoffice.impress", false, "Install this Scribbet's extension, then restart."});
    }
    ~AddinCheckWithoutReload() override { Host::use({}); }
};

TEST_F(AddinCheckWithoutReload, AnOldOrMissingAddinIsNamedAndNeverReloaded) {
    answering = "0.9";
    EXPECT_EQ(check(), "Impress has Scribbet 0.9, this is Scribbet " + addin.mine() +
                           ". Install this Scribbet's extension, then restart.");
    EXPECT_TRUE(runner->scripts.empty());
    EXPECT_FALSE(addin.passed());

    loaded = false; // the program answers that it has no such macro
    EXPECT_EQ(check(), "Impress has no Scribbet add-in, this is Scribbet " + addin.mine() +
                           ". Install this Scribbet's extension, then restart.");
    EXPECT_TRUE(runner->scripts.empty());

    loaded = true;
    answering = addin.mine();
    EXPECT_EQ(check(), std::nullopt);
}
