// The real `scribbet-standin` as a process, reached through the wire's own client.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "adapters/linux/standin_link.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;
using standin::Answer;

namespace {
class StandinProcessTest : public ::testing::Test {
protected:
    // Starts the program with `args`; its output goes to files in the temp folder.
    pid_t start(const std::vector<std::string>& args, const std::string& name = "out") {
        std::vector<std::string> env = {"HOME=" + dir.path().string(), "PATH=/usr/bin:/bin",
                                        "SCRIBBET_MACRO_PREFIX=Test.", "SCRIBBET_STANDIN_SOCKET=" + socket.string()};
        std::vector<std::string> argv = {SCRIBBET_STANDIN_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string out = (dir / (name + ".txt")).string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
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
    // The exit status, or -1 when the process did not end within the limit (it is killed).
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
    Answer ask(const json& request, std::chrono::milliseconds limit = 2000ms) {
        return standin::call(request, limit, socket);
    }
    bool answering() {
        for (int i = 0; i < 500; ++i) {
            if (ask({{"op", "running"}}).ok()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    // Runs `scribbet-standin ctl ...`; its exit status, with what it printed in `out`.
    int ctl(std::vector<std::string> args, std::string* out = nullptr) {
        args.insert(args.begin(), "ctl");
        const int status = waitFor(start(args, "ctl"));
        if (out) *out = test::readFile(dir / "ctl.txt");
        return status;
    }

    test::TempDir dir;
    std::filesystem::path socket = dir / "run" / "standin.sock";
};
} // namespace

TEST_F(StandinProcessTest, AnswersMacrosUntilQuitAndRemovesItsSocket) {
    const pid_t pid = start({"serve", "--socket", socket.string()});
    ASSERT_TRUE(answering());

    const Answer version = ask({{"op", "macro"}, {"name", "Test.SCBT_Version"}, {"args", json::array()}});
    ASSERT_TRUE(version.ok());
    EXPECT_EQ(version.body["errn"], 0);
    const std::string direct = version.body.value("direct", "");
    EXPECT_EQ(direct.substr(0, 3), "OK|");
    EXPECT_GT(direct.size(), 3u);
    // The program is the stand-in's own process.
    EXPECT_EQ(ask({{"op", "running"}}).body["pid"], pid);

    // A second one refuses the socket that answers.
    EXPECT_EQ(waitFor(start({"serve", "--socket", socket.string()}, "second")), 1);
    EXPECT_TRUE(ask({{"op", "running"}}).ok());

    const Answer quit = ask({{"op", "quit"}});
    ASSERT_TRUE(quit.ok());
    EXPECT_EQ(quit.body["ok"], true);
    EXPECT_EQ(waitFor(pid), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
    EXPECT_EQ(ask({{"op", "running"}}).failure, Answer::Failure::noStandIn);
}

TEST_F(StandinProcessTest, CtlDrivesTheStandInAndSaysWhenNoneRuns) {
    std::string out;
    EXPECT_EQ(ctl({"state"}, &out), 1);
    EXPECT_NE(out.find("no stand-in is running"), std::string::npos) << out;

    test::writeFile(dir / "state.json", R"({"title": "Demo", "zoom": 150, "addin": {"version": "0.5"}})");
    const pid_t pid = start({"serve", "--socket", socket.string(), "--state", (dir / "state.json").string()});
    ASSERT_TRUE(answering());
    EXPECT_EQ(ctl({"set", "scroll=0,1", "units=pixels"}), 0);
    EXPECT_EQ(ctl({"set", "zoom=5"}, &out), 1);
    EXPECT_NE(out.find("zoom"), std::string::npos) << out;
    EXPECT_EQ(ctl({"macro", "SCBT_Version"}, &out), 0);
    EXPECT_EQ(out, "OK|0.5\n");

    ASSERT_EQ(ctl({"state"}, &out), 0);
    const json state = json::parse(out, nullptr, false);
    ASSERT_TRUE(state.is_object()) << out;
    EXPECT_EQ(state["title"], "Demo");
    EXPECT_EQ(state["zoom"], 150);
    EXPECT_EQ(state["scroll"], json::array({0, 1}));
    EXPECT_EQ(state["units"], "pixels");

    EXPECT_EQ(ctl({"set", "quit"}), 0);
    EXPECT_EQ(waitFor(pid), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(StandinProcessTest, RefusesABrokenStateFile) {
    test::writeFile(dir / "state.json", R"({"zoom": 1000})");
    EXPECT_EQ(waitFor(start({"serve", "--socket", socket.string(), "--state", (dir / "state.json").string()})), 1);
    EXPECT_NE(test::readFile(dir / "out.txt").find("zoom"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(StandinProcessTest, TakesOverAStaleSocketAndEndsOnSigterm) {
    // A socket file nobody listens on, as a stand-in that was killed leaves it.
    std::filesystem::create_directories(socket.parent_path());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socket.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::exists(socket));

    const pid_t pid = start({"serve"}); // the socket from SCRIBBET_STANDIN_SOCKET
    ASSERT_TRUE(answering());
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitFor(pid), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(StandinProcessTest, AHungProgramTimesOutItsCallerButNotTheDesktop) {
    const pid_t pid = start({"serve", "--socket", socket.string()});
    ASSERT_TRUE(answering());
    ASSERT_TRUE(ask({{"op", "set"}, {"values", {{"delay", "never"}}}}).ok());

    std::thread hung([&] {
        const Answer a = ask({{"op", "macro"}, {"name", "Test.SCBT_Geom"}, {"args", json::array()}}, 400ms);
        EXPECT_EQ(a.failure, Answer::Failure::timedOut);
    });
    std::this_thread::sleep_for(50ms);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(ask({{"op", "windows"}}).ok());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 300ms);
    hung.join();

    // Another event is still held when the stand-in is told to end; it ends all the same.
    std::thread held([&] { ask({{"op", "macro"}, {"name", "Test.SCBT_Geom"}, {"args", json::array()}}, 3000ms); });
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(ask({{"op", "quit"}}).ok());
    EXPECT_EQ(waitFor(pid, 2000ms), 0);
    held.join();
}
