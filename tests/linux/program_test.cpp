// The Linux program as a user starts it: links on the command line, a second start that
// hands its link to the first, and an orderly end on SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "server/http_client.hpp"
#include "support/process.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    // Starts the program with a home of its own.
    std::unique_ptr<test::Process> start(const std::vector<std::string>& args, bool testMode = true) {
        std::vector<std::string> env = {"HOME=" + home.path().string(),
                                        "XDG_RUNTIME_DIR=" + (home / "run").string(), "TZ=UTC", "PATH=/usr/bin:/bin",
                                        "SCRIBBET_PORT=" + std::to_string(test::freePort())};
        if (testMode) env.push_back("SCRIBBET_TEST=1");
        std::filesystem::create_directories(home / "run");
        std::vector<std::string> argv = {SCRIBBET_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<test::Process>(argv, env);
    }
    // The logged messages, without the web server's own lines (they come from its thread,
    // in no fixed order with the rest).
    std::vector<std::string> log() {
        auto lines = test::messages(test::readFile(home / ".local/state/scribbet/Scribbet.log"));
        std::erase_if(lines, [](const std::string& l) { return l.starts_with("Web server"); });
        return lines;
    }
    bool waitForLines(std::size_t n) {
        return test::eventually([&] { return log().size() >= n; });
    }
    test::TempDir home;
};

TEST_F(ProgramTest, HandlesItsLinksHandsOnASecondStartAndEndsOnSigterm) {
    auto first = start({"scribbet://open", "http://x", "scribbet:draw"});
    ASSERT_TRUE(waitForLines(5));
    EXPECT_EQ(log(), (std::vector<std::string>{"Scribbet " SCRIBBET_VERSION " started.",
                                               "Test mode: the ribbon helper was not copied.",
                                               "Started from PowerPoint.", "Ignored a link that is not valid: http://x",
                                               "Unknown link: scribbet:draw"}));

    EXPECT_EQ(start({"scribbet://open"})->wait(), 0);
    ASSERT_TRUE(waitForLines(6));
    EXPECT_EQ(log().back(), "Started from PowerPoint.");

    first->signal(SIGTERM);
    EXPECT_EQ(first->wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(home / "run" / "scribbet.sock"));
}

TEST_F(ProgramTest, OutsideTestModeCopiesTheRibbonHelperBesideTheStandIn) {
    auto program = start({}, /*testMode=*/false);
    ASSERT_TRUE(waitForLines(2));
    EXPECT_EQ(log()[1], "Set up the ribbon helper. Restart PowerPoint if it was open.");
    EXPECT_TRUE(std::filesystem::exists(
        home / ".local/share/scribbet-standin/Application Scripts/com.microsoft.Powerpoint/Scribbet.scpt"));
    program->signal(SIGINT);
    EXPECT_EQ(program->wait(), 0);
}

TEST_F(ProgramTest, StartsDespiteAStaleSocketAndAnUnwritableLogPlace) {
    // A crashed instance's socket file, and a plain file where the log folder must go.
    std::filesystem::create_directories(home / "run");
    test::writeFile(home / "run" / "scribbet.sock", "");
    test::writeFile(home / ".local" / "state", "not a folder");
    auto program = start({"scribbet://open"});
    std::this_thread::sleep_for(300ms);
    // Still running and reachable: a second start hands over and leaves.
    EXPECT_EQ(start({"scribbet://status"})->wait(), 0);
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(), 0);
}

} // namespace
