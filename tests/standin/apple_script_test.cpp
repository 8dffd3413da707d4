// The two scripts Scribbet sends about its add-in, built by Scribbet's own code, and the
// ways a script can fail.
#include <gtest/gtest.h>

#include "apple_script.hpp"
#include "program/addin_check.hpp"
#include "standin_support.hpp"

using namespace scribbet::standin;
using namespace scribbet::standin::test;

namespace {
// The texts come from the program's own add-in check, so the stand-in is held to exactly
// what Scribbet sends.
std::string reloadScript(const std::string& name) { return scribbet::AddinCheck::reloadScript(name); }
std::string pollScript(const std::string& name) { return scribbet::AddinCheck::loadedScript(name); }

Model oldAddin(const std::string& name) {
    Model m = placedModel();
    m.addin.name = name;
    m.addin.version = "0.9";
    m.addin.reloadVersion = "1.2.3";
    return m;
}
} // namespace

TEST(StandinAppleScriptTest, ReloadBringsTheNewVersionAndThePollSeesItLoaded) {
    for (const std::string name : {"Scribbet", "My \"Pen\" \\ Tools", "\\\"", "Ünïcode add-in"}) {
        Model m = oldAddin(name);
        m.addin.loaded = false;
        const ScriptResult r = runScript(m, reloadScript(name));
        EXPECT_TRUE(r.ok) << name << ": " << r.error;
        EXPECT_TRUE(m.addin.loaded);
        EXPECT_EQ(m.addin.version, "1.2.3");
        const ScriptResult poll = runScript(m, pollScript(name));
        ASSERT_TRUE(poll.ok) << poll.error;
        EXPECT_EQ(poll.result, true);
    }
}

TEST(StandinAppleScriptTest, AnUnloadableAddinStaysUnloaded) {
    Model m = oldAddin("Scribbet");
    m.addin.loadable = false;
    EXPECT_TRUE(runScript(m, reloadScript("Scribbet")).ok);
    EXPECT_FALSE(m.addin.loaded);
    EXPECT_EQ(m.addin.version, "0.9");
    EXPECT_EQ(runScript(m, pollScript("Scribbet")).result, false);
}

TEST(StandinAppleScriptTest, ReadsKeywordsInAnyCaseAroundCommentsAndBlankLines) {
    Model m = oldAddin("Scribbet");
    const ScriptResult r = runScript(m, "-- unload\r\nTELL Application \"Microsoft PowerPoint\"\r\n\r\n"
                                        "  Set Loaded Of Add In \"Scribbet\" To False (* for now *)\r\nEND\r\n");
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(m.addin.loaded);
}

TEST(StandinAppleScriptTest, AScriptThatDoesNotCompileDoesNothing) {
    const std::vector<std::string> broken = {
        // The name left unescaped: the quote ends the string early.
        reloadScript("Scribbet").replace(reloadScript("Scribbet").find("Scribbet"), 8, "My \"Pen\""),
        reloadScript("Scribbet").substr(0, reloadScript("Scribbet").size() - 8), // no "end tell"
        "tell application \"Microsoft PowerPoint\"\n  set loaded of add in \"Scribbet\" to false\nend timeout",
        "tell application \"Microsoft PowerPoint\" to set loaded of add in \"Scribbet\" to maybe",
        "tell application \"Microsoft PowerPoint\" to set loaded of add in \"Scribbet\" to false extra",
        "tell application \"Microsoft PowerPoint\" to return loaded of add in \"Scr\\qibbet\"",
        "tell application \"Microsoft PowerPoint\" to delete add in \"Scribbet\"",
        "tell application \"Microsoft PowerPoint\" to return loaded of add in \"Scribbet",
        "",
    };
    for (const auto& source : broken) {
        Model m = oldAddin("My \"Pen\"");
        m.addin.name = "Scribbet";
        const Model before = m;
        const ScriptResult r = runScript(m, source);
        if (source.empty()) {
            EXPECT_TRUE(r.ok); // an empty script runs and gives nothing
            EXPECT_TRUE(r.result.is_null());
            continue;
        }
        EXPECT_FALSE(r.ok) << source;
        EXPECT_FALSE(r.error.empty());
        EXPECT_EQ(m, before) << source;
    }
}

TEST(StandinAppleScriptTest, RunningStopsAtTheFirstError) {
    Model m = oldAddin("Scribbet");
    const ScriptResult wrongName = runScript(m, pollScript("Scribble"));
    EXPECT_FALSE(wrongName.ok);
    EXPECT_NE(wrongName.error.find("add in \"Scribble\""), std::string::npos);

    EXPECT_FALSE(runScript(m, "tell application \"Keynote\" to return loaded of add in \"Scribbet\"").ok);
    EXPECT_FALSE(runScript(m, "return loaded of add in \"Scribbet\"").ok); // outside the program's tell

    // The unload ran before the failing line, as AppleScript would have it.
    const ScriptResult half = runScript(m, "tell application \"Microsoft PowerPoint\"\n"
                                           "set loaded of add in \"Scribbet\" to false\n"
                                           "set loaded of add in \"Other\" to true\nend tell");
    EXPECT_FALSE(half.ok);
    EXPECT_FALSE(m.addin.loaded);
}
