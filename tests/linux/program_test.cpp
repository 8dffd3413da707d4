// The Linux program as a user starts it: links on the command line, a second start that
// hands its link to the first, and an end on SIGTERM that comes in time whatever the
// presentation program does.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "adapters/linux/standin_link.hpp"
#include "server/http_client.hpp"
#include "support/process.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    // Starts the program with a home of its own.
    // Without a runtime folder, its temp folder is its own too. Its output goes to `output`.
    std::unique_ptr<test::Process> start(const std::vector<std::string>& args, bool testMode = true,
                                         bool runtimeDir = true, const std::string& output = "") {
        port = test::freePort();
        std::vector<std::string> env = {"HOME=" + home.path().string(), "TZ=UTC", "PATH=/usr/bin:/bin",
                                        "SCRIBBET_PORT=" + std::to_string(port),
                                        "SCRIBBET_STANDIN_SOCKET=" + standinSocket().string()};
        if (testMode) env.push_back("SCRIBBET_TEST=1");
        if (runtimeDir) {
            env.push_back("XDG_RUNTIME_DIR=" + (home / "run").string());
            std::filesystem::create_directories(home / "run");
        } else {
            env.push_back("TMPDIR=" + (home / "tmp").string());
            std::filesystem::create_directories(home / "tmp");
        }
        std::vector<std::string> argv = {SCRIBBET_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<test::Process>(argv, env, output);
    }
    // The logged messages, without the web server's own lines (they come from its thread,
    // in no fixed order with the rest).
    std::vector<std::string> log() {
        auto lines = test::messages(test::readFile(home / ".local/state/scribbet/Scribbet.log"));
        std::erase_if(lines, [](const std::string& l) {
            return l.starts_with("Web server") || l.ends_with("Scribbet serves the desktop stand-in.");
        });
        return lines;
    }
    bool waitForLines(std::size_t n, std::chrono::milliseconds limit = 5000ms) {
        return test::eventually([&] { return log().size() >= n; }, limit);
    }
    std::filesystem::path standinSocket() const { return home / "standin.sock"; }
    bool standin(const nlohmann::json& request) {
        return standin::call(request, 5s, standinSocket()).ok();
    }
    test::TempDir home;
    std::uint16_t port = 0; // the last start's
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
    EXPECT_EQ(log().back(), "Scribbet ended.");
    EXPECT_FALSE(std::filesystem::exists(home / "run" / "scribbet.sock"));
}

// The presentation program never answers: calls to it wait while SIGTERM comes, and a start
// right after it finds the instance still ending.
TEST_F(ProgramTest, EndsInTimeWhileTheProgramNeverAnswersAndAStartMeanwhileBecomesTheNextInstance) {
    test::Process program({SCRIBBET_STANDIN_PROGRAM, "serve", "--socket", standinSocket().string()},
                          {"HOME=" + home.path().string(), "PATH=/usr/bin:/bin"});
    ASSERT_TRUE(test::eventually([&] { return standin({{"op", "state"}}); }));
    ASSERT_TRUE(standin({{"op", "set"}, {"values", {{"delay", "never"}}}}));

    auto first = start({});
    ASSERT_TRUE(waitForLines(2));
    std::vector<std::thread> calls;
    for (int i = 0; i < 3; ++i) {
        calls.emplace_back([p = port] {
            test::Client client(p);
            client.send("GET /api/theme HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(p) +
                        "\r\nx-scribbet: 1\r\n\r\n");
            client.readAll(8000ms);
        });
    }
    std::this_thread::sleep_for(500ms); // the calls are with the program

    first->signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    auto next = start({"scribbet://open"});
    EXPECT_EQ(first->wait(5000ms), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
    for (auto& call : calls) call.join();

    // The next start waited for the place and took its link with it, as a start with no
    // instance does.
    ASSERT_TRUE(waitForLines(6, 10000ms)) << log().size();
    EXPECT_EQ(log(), (std::vector<std::string>{"Scribbet " SCRIBBET_VERSION " started.",
                                               "Test mode: the ribbon helper was not copied.", "Scribbet ended.",
                                               "Scribbet " SCRIBBET_VERSION " started.",
                                               "Test mode: the ribbon helper was not copied.",
                                               "Started from PowerPoint."}));
    next->signal(SIGTERM);
    EXPECT_EQ(next->wait(), 0);
    EXPECT_EQ(log().back(), "Scribbet ended.");
    standin({{"op", "quit"}});
    program.wait();
}

TEST_F(ProgramTest, OutsideTestModeCopiesTheRibbonHelperBesideTheStandIn) {
    auto program = start({}, /*testMode=*/false);
    ASSERT_TRUE(waitForLines(2));
    EXPECT_EQ(log()[1], "Set up the ribbon helper. Restart PowerPoint if it was open.");
    // Without a display Impress cannot be served: the stand-in is chosen, and the log says why.
    EXPECT_EQ(test::messages(test::readFile(home / ".local/state/scribbet/Scribbet.log")).at(0),
              "Without an X display Scribbet serves the desktop stand-in.");
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

TEST_F(ProgramTest, ASecondStartHandsOverManyLargeLinksAndEachIsHandledOnce) {
    auto first = start({});
    ASSERT_TRUE(waitForLines(2));
    std::vector<std::string> links, expected;
    for (int i = 0; i < 10; ++i) {
        links.push_back("scribbet://nothing" + std::to_string(i) + "?pad=" + std::string(120000, 'x'));
        expected.push_back("Unknown link: " + links.back().substr(0, 120));
    }
    // It hands them over and leaves: it does not become a second instance.
    EXPECT_EQ(start(links)->wait(), 0);
    ASSERT_TRUE(waitForLines(12));
    std::this_thread::sleep_for(200ms);
    const auto lines = log();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()), expected);
    first->signal(SIGTERM);
    EXPECT_EQ(first->wait(), 0);
}

TEST_F(ProgramTest, AStartWhoseLinksAreNotConfirmedSaysSoAndEndsWithoutStarting) {
    // Something listens at the socket but takes the links without a word.
    std::filesystem::create_directories(home / "run");
    const auto path = home / "run" / "scribbet.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    std::thread silent([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        char buf[256];
        while (::recv(fd, buf, sizeof buf, 0) > 0) {
        }
        ::close(fd);
    });
    auto second = start({"scribbet://open"}, true, true, (home / "out.txt").string());
    const int status = second->wait();
    silent.join();
    ::close(listener);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(test::readFile(home / "out.txt"),
              "scribbet: The running Scribbet did not confirm the links; they may not have been handled.\n");
    EXPECT_FALSE(std::filesystem::exists(home / ".local/state/scribbet/Scribbet.log"));
}

TEST_F(ProgramTest, WithoutARuntimeFolderAFallbackFolderOthersMayEnterIsRefused) {
    const auto folder = home / "tmp" / ("scribbet-" + std::to_string(::geteuid()));
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0777);
    auto refused = start({"scribbet://open"}, true, /*runtimeDir=*/false, (home / "out.txt").string());
    EXPECT_EQ(refused->wait(), 1);
    EXPECT_EQ(test::readFile(home / "out.txt"),
              "scribbet: The folder " + folder.string() +
                  " is not private to this user (it must be a folder of yours with mode 0700), so Scribbet does not "
                  "use it.\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "scribbet.sock"));

    // Made private, it serves.
    ::chmod(folder.c_str(), 0700);
    auto program = start({"scribbet://open"}, true, false);
    ASSERT_TRUE(waitForLines(3));
    EXPECT_TRUE(std::filesystem::exists(folder / "scribbet.sock"));
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(), 0);
}

} // namespace
