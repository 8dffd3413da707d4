#include <gtest/gtest.h>

#include "app/script_setup.hpp"
#include "app/host.hpp"
#include "adapters/fake/fake_app.hpp"
#include "support/test_env.hpp"

using namespace scribbet;

namespace {

class ScriptSetupTest : public test::VirtualMainTest {
protected:
    ScriptSetupTest() {
        source = dir / "Resources" / "Scribbet.scpt";
        test::writeFile(source, std::string("compiled\0script", 15));
        bundle.files["Scribbet.scpt"] = source;
        paths.scripts = dir / "home" / "Library" / "Application Scripts" / "com.microsoft.Powerpoint";
        target = paths.scripts / "Scribbet.scpt";
    }
    void run(Settings s = {}) { ScriptSetup::ensureSetup(s, bundle, paths); }

    std::filesystem::path source, target;
    fake::FakeBundle bundle;
    fake::FakePaths paths;
};

const std::string advice = "Set up the ribbon helper. Restart PowerPoint if it was open.";

TEST_F(ScriptSetupTest, CopiesOnFirstLaunchThenStaysQuietUntilTheHelperChanges) {
    run();
    EXPECT_EQ(test::readFile(target), test::readFile(source));
    EXPECT_EQ(logged(), std::vector<std::string>{advice});

    run();
    EXPECT_EQ(logged().size(), 1u);

    // One byte different, as after an update of the program: replaced, advice again.
    std::string changed = test::readFile(source);
    changed.back() = 'T';
    test::writeFile(target, changed);
    run();
    EXPECT_EQ(test::readFile(target), test::readFile(source));
    EXPECT_EQ(logged(), (std::vector<std::string>{advice, advice}));
}

TEST_F(ScriptSetupTest, TestModeTouchesNothing) {
    Settings s;
    s.testing = true;
    s.noScriptCopy = true;
    run(s);
    EXPECT_FALSE(std::filesystem::exists(paths.scripts));
    EXPECT_EQ(logged(), std::vector<std::string>{"Test mode: the ribbon helper was not copied."});
}

TEST_F(ScriptSetupTest, AProgramWhoseAddinStartsScribbetItselfGetsNoHelper) {
    Host own;
    own.runsHelperScript = false;
    Host::use(own);
    run();
    Host::use({});
    EXPECT_FALSE(std::filesystem::exists(paths.scripts));
    EXPECT_TRUE(logged().empty());
}

TEST_F(ScriptSetupTest, MissingResourceIsSilent) {
    bundle.files.clear();
    run();
    EXPECT_FALSE(std::filesystem::exists(paths.scripts));
    EXPECT_TRUE(logged().empty());
}

TEST_F(ScriptSetupTest, FailuresAreLoggedWithTheirReasonAndNothingElseHappens) {
    // A plain file where the folder must go: the folder cannot be made.
    test::writeFile(dir / "home" / "Library" / "Application Scripts", "not a folder");
    run();
    auto lines = logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Could not set up the ribbon helper: ", 0), 0u) << lines[0];
    EXPECT_GT(lines[0].size(), std::string("Could not set up the ribbon helper: ").size());

    // A source that cannot be read.
    bundle.files["Scribbet.scpt"] = dir / "gone.scpt";
    run();
    lines = logged();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Could not set up the ribbon helper: No such file or directory");
}

TEST_F(ScriptSetupTest, ATargetThatCannotBeReadIsReplaced) {
    std::filesystem::create_directories(target); // an empty folder in the file's place
    run();
    EXPECT_EQ(test::readFile(target), test::readFile(source));
    EXPECT_EQ(logged(), std::vector<std::string>{advice});

    // A folder with something in it is not ours to delete: writing then fails, and says so.
    std::filesystem::remove(target);
    test::writeFile(target / "keep", "user data");
    run();
    EXPECT_EQ(test::readFile(target / "keep"), "user data");
    EXPECT_EQ(logged().back(), "Could not set up the ribbon helper: Is a directory");
}

} // namespace
