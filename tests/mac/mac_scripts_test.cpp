// The Mac's run and test scripts, run here with the tools they call (cmake, ctest, open, osascript)
// replaced by stubs that note their calls, and the ribbon helper as the build leaves it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/test_env.hpp"

namespace fs = std::filesystem;
using namespace scribbet;

namespace {

fs::path sourceTree() {
    // CTest names the source tree; run by hand, the tree is where this file is.
    const char* root = std::getenv("SCRIBBET_TEST_SOURCE");
    return root && *root ? fs::path(root) : fs::path(__FILE__).parent_path().parent_path().parent_path();
}

// The test program lies in build/tests/.
fs::path buildFolder() { return test::selfProgram().parent_path().parent_path(); }

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// A folder of stand-in tools, each noting "name arguments" in the calls file. `path` is the
// PATH the script runs with: the stubs first, then `rest` (empty: nothing but the stubs).
struct Stubs {
    test::TempDir dir;
    fs::path calls = dir / "calls";
    fs::path output = dir / "output";

    void tool(const std::string& name, const std::string& body = "") {
        const auto file = dir / "bin" / name;
        test::writeFile(file, "#!/bin/sh\nprintf '%s\\n' \"" + name + " $*\" >>\"$CALLS\"\n" + body);
        fs::permissions(file, fs::perms::owner_all);
    }
    // A real tool the script needs on a PATH that holds nothing else.
    void real(const std::string& name) {
        for (const char* folder : {"/usr/bin", "/bin"})
            if (fs::exists(fs::path(folder) / name)) {
                fs::create_symlink(fs::path(folder) / name, dir / "bin" / name);
                return;
            }
        FAIL() << name << " not found";
    }
    int run(const std::string& script, std::vector<std::string> args, const std::string& rest,
            std::vector<std::string> env = {}) {
        std::vector<std::string> argv{"/bin/bash", (sourceTree() / script).string()};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string path = (dir / "bin").string() + (rest.empty() ? "" : ":" + rest);
        env.push_back("PATH=" + path);
        env.push_back("CALLS=" + calls.string());
        test::Process p(argv, env, output.string());
        return p.wait(std::chrono::seconds(20));
    }
    std::vector<std::string> callsOf(const std::string& name) const {
        std::vector<std::string> out;
        for (const auto& line : linesOf(test::readFile(calls)))
            if (line.rfind(name + " ", 0) == 0) out.push_back(line);
        return out;
    }
};

// The pattern after ctest's -E (it holds no spaces, so the noted call splits cleanly).
std::regex excludedBy(const std::string& ctestCall) {
    std::istringstream in(ctestCall);
    std::string word;
    while (in >> word)
        if (word == "-E" && in >> word) return std::regex(word);
    ADD_FAILURE() << "ctest ran without -E: " << ctestCall;
    return std::regex("$^");
}

class MacTestScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        stubs.tool("cmake");
        stubs.tool("ctest");
        stubs.real("dirname");
    }
    Stubs stubs;
};

TEST_F(MacTestScriptTest, WithoutNodeThePresentationCheckIsSkippedInOneSentenceAndTheRestRuns) {
    // Nothing but the stubs and dirname on the PATH: no node, no npm.
    ASSERT_EQ(stubs.run("scripts/mac/test.sh", {}, ""), 0) << test::readFile(stubs.output);
    const auto said = linesOf(test::readFile(stubs.output));
    ASSERT_EQ(said.size(), 1u) << test::readFile(stubs.output);
    EXPECT_NE(said[0].find("AddinPackageTest.RibbonPackaging"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("brew install node"), std::string::npos) << said[0];

    const auto ctest = stubs.callsOf("ctest");
    ASSERT_EQ(ctest.size(), 1u);
    const auto excluded = excludedBy(ctest[0]);
    EXPECT_TRUE(std::regex_search("AddinPackageTest.RibbonPackaging", excluded));
    // Only the check that needs Node: the packager's other groups and the core still run.
    for (const char* kept : {"AddinPackageTest.SmallPackages", "AddinPackageTest.RibbonMatchesCallbacks",
                             "AddinPackageTest.VersionStamping", "AddinVbaTest.TheModulesAreImportableAndComplete",
                             "LinkTest.ParsesDraw"})
        EXPECT_FALSE(std::regex_search(kept, excluded)) << kept;
    EXPECT_TRUE(std::regex_search("tests_gtk_NOT_BUILT", excluded));
}

TEST_F(MacTestScriptTest, NodeWithoutNpmIsStillMissing) {
    stubs.tool("node");
    ASSERT_EQ(stubs.run("scripts/mac/test.sh", {}, ""), 0) << test::readFile(stubs.output);
    const auto ctest = stubs.callsOf("ctest");
    ASSERT_EQ(ctest.size(), 1u);
    EXPECT_TRUE(std::regex_search("AddinPackageTest.RibbonPackaging", excludedBy(ctest[0])));
}

TEST_F(MacTestScriptTest, WithNodeAndNpmEveryPackagerTestRunsAndNothingIsSaid) {
    stubs.tool("node");
    stubs.tool("npm");
    ASSERT_EQ(stubs.run("scripts/mac/test.sh", {}, ""), 0) << test::readFile(stubs.output);
    EXPECT_EQ(test::readFile(stubs.output), "");
    const auto ctest = stubs.callsOf("ctest");
    ASSERT_EQ(ctest.size(), 1u);
    EXPECT_FALSE(std::regex_search("AddinPackageTest.RibbonPackaging", excludedBy(ctest[0])));
}

// osascript's stand-in: "is running" answers true for the first RUNNING_FOR questions (always
// when it is negative), then false, as a Scribbet that quits after a while would.
const char* osascriptBody = R"(case "$*" in
*"is running"*)
  n=0
  if [ -f "$CALLS.n" ]; then read n <"$CALLS.n"; fi
  echo $((n + 1)) >"$CALLS.n"
  if [ "$RUNNING_FOR" -lt 0 ] || [ "$n" -lt "$RUNNING_FOR" ]; then echo true; else echo false; fi ;;
esac
)";

class MacRunScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"cmake", "open", "sleep"}) stubs.tool(tool);
        stubs.tool("osascript", osascriptBody);
    }
    int run(int runningFor) {
        return stubs.run("scripts/mac/run.sh", {}, "/usr/bin:/bin", {"RUNNING_FOR=" + std::to_string(runningFor)});
    }
    // The calls after the build, in order, without the build's own.
    std::vector<std::string> afterBuild() const {
        std::vector<std::string> out;
        for (const auto& line : linesOf(test::readFile(stubs.calls)))
            if (line.rfind("cmake ", 0) != 0 && line.rfind("sleep ", 0) != 0) out.push_back(line);
        return out;
    }
    Stubs stubs;
};

TEST_F(MacRunScriptTest, AScribbetThatStillRunsIsAskedToQuitAndGoneBeforeTheBuildOpens) {
    ASSERT_EQ(run(2), 0) << test::readFile(stubs.output);
    const auto calls = afterBuild();
    ASSERT_EQ(calls.size(), 5u) << test::readFile(stubs.calls);
    EXPECT_NE(calls[0].find("is running"), std::string::npos);
    EXPECT_NE(calls[1].find("to quit"), std::string::npos) << calls[1];
    EXPECT_NE(calls[2].find("is running"), std::string::npos);
    EXPECT_NE(calls[3].find("is running"), std::string::npos);
    EXPECT_EQ(calls[4], "open build/Scribbet.app");
}

TEST_F(MacRunScriptTest, WithNoScribbetRunningNothingIsAskedToQuit) {
    ASSERT_EQ(run(0), 0) << test::readFile(stubs.output);
    const auto calls = afterBuild();
    ASSERT_EQ(calls.size(), 2u) << test::readFile(stubs.calls);
    EXPECT_NE(calls[0].find("is running"), std::string::npos);
    EXPECT_EQ(calls[1], "open build/Scribbet.app");
}

TEST_F(MacRunScriptTest, OneThatWillNotQuitIsReportedAndTheOldOneIsNotBroughtForward) {
    EXPECT_NE(run(-1), 0);
    EXPECT_TRUE(stubs.callsOf("open").empty()) << test::readFile(stubs.calls);
    const auto said = linesOf(test::readFile(stubs.output));
    ASSERT_FALSE(said.empty());
    EXPECT_NE(said.back().find("did not quit"), std::string::npos) << said.back();
    // It waited its while, not forever and not at all.
    EXPECT_EQ(stubs.callsOf("sleep").size(), 50u);
}

TEST_F(MacRunScriptTest, BuildOnlyTouchesNoRunningScribbet) {
    ASSERT_EQ(stubs.run("scripts/mac/run.sh", {"--no-open"}, "/usr/bin:/bin", {"RUNNING_FOR=-1"}), 0);
    EXPECT_TRUE(afterBuild().empty()) << test::readFile(stubs.calls);
}

TEST_F(MacRunScriptTest, ItAsksForTheBundleThePlistNames) {
    ASSERT_EQ(run(0), 0);
    const auto plist = test::readFile(sourceTree() / "resources/mac/Info.plist.in");
    std::smatch id;
    ASSERT_TRUE(std::regex_search(plist, id, std::regex(R"(<key>CFBundleIdentifier</key>\s*<string>([^<]+)</string>)")));
    const auto asked = stubs.callsOf("osascript");
    ASSERT_FALSE(asked.empty());
    EXPECT_NE(asked[0].find("application id \"" + id[1].str() + "\""), std::string::npos) << asked[0];
}

// The handlers the add-in calls in the helper through AppleScriptTask.
std::vector<std::string> handlersTheAddinCalls() {
    std::vector<std::string> out;
    const std::regex direct(R"re(AppleScriptTask\s*\(?\s*"Scribbet\.scpt"\s*,\s*"(\w+)")re");
    const std::regex named(R"re(HELPER_HANDLER\s+As\s+String\s*=\s*"(\w+)")re");
    for (const auto& entry : fs::directory_iterator(sourceTree() / "addin/powerpoint")) {
        if (entry.path().extension() != ".bas") continue;
        const auto text = test::readFile(entry.path());
        for (const auto* re : {&direct, &named})
            for (std::sregex_iterator it(text.begin(), text.end(), *re), end; it != end; ++it)
                out.push_back((*it)[1].str());
    }
    return out;
}

TEST(RibbonHelperFileTest, TheSourceIsAppleScriptTextAndHoldsEveryHandlerTheAddinCalls) {
    EXPECT_FALSE(fs::exists(sourceTree() / "resources/Scribbet.scpt")) << "source text under the compiled name";
    const auto source = test::readFile(sourceTree() / "resources/Scribbet.applescript");
    ASSERT_FALSE(source.empty());
    const auto handlers = handlersTheAddinCalls();
    ASSERT_FALSE(handlers.empty()) << "no AppleScriptTask call found in addin/powerpoint";
    for (const auto& handler : handlers) {
        EXPECT_TRUE(std::regex_search(source, std::regex("(^|\\n)on " + handler + "\\(")))
            << handler << " is not a handler of the helper";
    }
}

TEST(RibbonHelperFileTest, TheBuildFolderHoldsTheHelperUnderTheNameTheAddinCalls) {
    const auto built = buildFolder() / "Scribbet.scpt";
    const auto source = test::readFile(sourceTree() / "resources/Scribbet.applescript");
#ifdef __APPLE__
    // There osacompile makes it with the bundle, which the test command does not build.
    if (!fs::exists(built)) GTEST_SKIP() << "Scribbet.app not built yet";
    EXPECT_NE(test::readFile(built), source) << "the Mac's helper should be compiled, not source text";
#else
    // Nothing compiles AppleScript here: the stand-in and the helper's copy read the source text.
    ASSERT_TRUE(fs::exists(built)) << built;
    EXPECT_EQ(test::readFile(built), source);
#endif
}

} // namespace
