// The Linux program as a user starts it: links on the command line, a second start that
// hands its link to the first, and an orderly end on SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    // Starts the program with a home of its own; returns its process id.
    pid_t start(const std::vector<std::string>& args, bool testMode = true) {
        std::vector<std::string> env = {"HOME=" + home.path().string(),
                                        "XDG_RUNTIME_DIR=" + (home / "run").string(), "TZ=UTC", "PATH=/usr/bin:/bin"};
        if (testMode) env.push_back("SCRIBBET_TEST=1");
        std::filesystem::create_directories(home / "run");
        std::vector<std::string> argv = {SCRIBBET_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::vector<char*> a, e;
            for (auto& s : argv) a.push_back(s.data());
            for (auto& s : env) e.push_back(s.data());
            a.push_back(nullptr);
            e.push_back(nullptr);
            ::execve(a[0], a.data(), e.data());
            ::_exit(127);
        }
        return pid;
    }
    // The exit status, or -1 when the process did not end within the limit.
    static int waitFor(pid_t pid, std::chrono::milliseconds limit = 5000ms) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            std::this_thread::sleep_for(5ms);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    std::vector<std::string> log() {
        return test::messages(test::readFile(home / ".local/state/scribbet/Scribbet.log"));
    }
    bool waitForLines(std::size_t n) {
        for (int i = 0; i < 500; ++i) {
            if (log().size() >= n) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    test::TempDir home;
};

TEST_F(ProgramTest, HandlesItsLinksHandsOnASecondStartAndEndsOnSigterm) {
    const pid_t first = start({"scribbet://open", "http://x", "scribbet:draw"});
    ASSERT_TRUE(waitForLines(5));
    EXPECT_EQ(log(), (std::vector<std::string>{"Scribbet " SCRIBBET_VERSION " started.",
                                               "Test mode: the ribbon helper was not copied.",
                                               "Started from PowerPoint.", "Ignored a link that is not valid: http://x",
                                               "Unknown link: scribbet:draw"}));

    EXPECT_EQ(waitFor(start({"scribbet://open"})), 0);
    ASSERT_TRUE(waitForLines(6));
    EXPECT_EQ(log().back(), "Started from PowerPoint.");

    ::kill(first, SIGTERM);
    EXPECT_EQ(waitFor(first), 0);
    EXPECT_FALSE(std::filesystem::exists(home / "run" / "scribbet.sock"));
}

TEST_F(ProgramTest, OutsideTestModeCopiesTheRibbonHelperBesideTheStandIn) {
    const pid_t pid = start({}, /*testMode=*/false);
    ASSERT_TRUE(waitForLines(2));
    EXPECT_EQ(log()[1], "Set up the ribbon helper. Restart PowerPoint if it was open.");
    EXPECT_TRUE(std::filesystem::exists(
        home / ".local/share/scribbet-standin/Application Scripts/com.microsoft.Powerpoint/Scribbet.scpt"));
    ::kill(pid, SIGINT);
    EXPECT_EQ(waitFor(pid), 0);
}

TEST_F(ProgramTest, StartsDespiteAStaleSocketAndAnUnwritableLogPlace) {
    // A crashed instance's socket file, and a plain file where the log folder must go.
    std::filesystem::create_directories(home / "run");
    test::writeFile(home / "run" / "scribbet.sock", "");
    test::writeFile(home / ".local" / "state", "not a folder");
    const pid_t pid = start({"scribbet://open"});
    std::this_thread::sleep_for(300ms);
    // Still running and reachable: a second start hands over and leaves.
    EXPECT_EQ(waitFor(start({"scribbet://status"})), 0);
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitFor(pid), 0);
}

} // namespace
