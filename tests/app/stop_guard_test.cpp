#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "app/stop_guard.hpp"
#include "log/app_state.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::string>;
const Lines endedOnly{std::string(StopGuard::endedLine)};

// A guard whose end of the process is recorded instead: when it came and what the log file
// held at that moment, which is all a process ended at once leaves behind.
class StopGuardTest : public ::testing::Test {
protected:
    StopGuard::Ports ports(Duration limit) {
        return {state, [this] { ended.set_value({std::chrono::steady_clock::now(), fileLines()}); }, limit,
                seconds(0.2)};
    }
    Lines fileLines() { return test::messages(test::readFile(file)); }
    struct End {
        std::chrono::steady_clock::time_point at;
        Lines file;
    };
    // The end, or none within `limit`.
    std::optional<End> endWithin(std::chrono::milliseconds limit) {
        if (endFuture.wait_for(limit) != std::future_status::ready) return std::nullopt;
        return endFuture.get();
    }

    test::TempDir dir;
    std::filesystem::path file = dir / "Scribbet.log";
    AppState state{file, nullptr};
    std::promise<End> ended;
    std::future<End> endFuture = ended.get_future();
};

TEST_F(StopGuardTest, ATeardownThatFinishesLogsTheEndOnceAndIsNeverCutShort) {
    {
        StopGuard unarmed(ports(20ms)); // counts from the terminate action only
        std::this_thread::sleep_for(60ms);
    }
    const auto stopped = std::chrono::steady_clock::now();
    {
        StopGuard guard(ports(2s));
        guard.arm();
        guard.arm();
        state.log("Web server stopped.");
        guard.ended();
        guard.ended();
        // In the file already, not merely queued: a process may be gone right after.
        EXPECT_EQ(fileLines(), (Lines{"Web server stopped.", "Scribbet ended."}));
    }
    // Gone at once, without waiting for its limit.
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
    EXPECT_FALSE(endWithin(0ms));
}

TEST_F(StopGuardTest, ATeardownThatHangsIsCutShortAtTheLimitWithTheLineInTheFile) {
    StopGuard guard(ports(100ms));
    const auto armed = std::chrono::steady_clock::now();
    std::thread([&guard] { guard.arm(); }).join(); // as a signal's thread does
    const auto end = endWithin(3s);
    ASSERT_TRUE(end);
    EXPECT_GE(end->at - armed, 100ms);
    EXPECT_LT(end->at - armed, 1s);
    EXPECT_EQ(end->file, endedOnly);
    // The teardown that comes back late adds nothing.
    guard.ended();
    EXPECT_EQ(fileLines(), endedOnly);
}

TEST_F(StopGuardTest, AnEndThatHangsAfterTheLastWordsIsCutShortWithoutASecondLine) {
    StopGuard guard(ports(100ms));
    guard.arm();
    guard.ended();
    const auto end = endWithin(3s);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->file, endedOnly);
}

// A log file that blocks its writer (a FIFO nobody reads, as a hung file system would): the
// end still comes, soon after the limit.
TEST_F(StopGuardTest, ALogThatCannotBeWrittenDoesNotHoldTheEndUp) {
    const auto fifo = dir / "stuck.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    AppState stuck(fifo, nullptr);
    StopGuard::Ports p = ports(50ms);
    StopGuard guard({stuck, p.end, p.limit, p.flushLimit});
    const auto armed = std::chrono::steady_clock::now();
    guard.arm();
    const auto end = endWithin(3s);
    ASSERT_TRUE(end);
    EXPECT_LT(end->at - armed, 1s);

    // The line was given to the log all the same, and reaches a reader once there is one.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    stuck.flush();
    char bytes[256];
    const ssize_t n = ::read(reader, bytes, sizeof bytes);
    ::close(reader);
    ASSERT_GT(n, 0);
    EXPECT_EQ(test::messages(std::string(bytes, n)), endedOnly);
}

// Without the fixture: its log's writer thread would be running when the child is forked, and a
// child forked from a process with threads can hang before it gets anywhere (it did, once in a
// few runs, until ctest's time-out).
TEST(StopGuardEndTest, TheRealEndLeavesAProcessThatExitedWithTheLineInItsLog) {
    test::TempDir dir;
    const auto file = dir / "Scribbet.log";
    // Forked as it is: the child writes the log file this test reads.
    EXPECT_EXIT(
        {
            AppState own(file, nullptr);
            StopGuard guard({own, {}, 50ms});
            guard.arm();
            std::this_thread::sleep_for(10s); // a teardown stuck in a call
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(test::messages(test::readFile(file)), endedOnly);
}

struct LastWords final : ApplicationDelegate {
    void willFinishLaunching() override {}
    void didFinishLaunching() override {}
    bool shouldHandleReopen(bool) override { return false; }
    void willTerminate() override {
        log->log("Web server stopped.");
        if (hang) release.get_future().wait();
    }
    AppState* log = nullptr;
    bool hang = false;
    std::promise<void> release;
};

TEST_F(StopGuardTest, TheDelegatesLastWordsComeBeforeTheEndAndAreBoundedByIt) {
    LastWords quick;
    quick.log = &state;
    {
        StopGuard guard(ports(2s));
        GuardedDelegate(quick, guard).willTerminate();
        EXPECT_EQ(fileLines(), (Lines{"Web server stopped.", "Scribbet ended."}));
    }
    EXPECT_FALSE(endWithin(0ms));

    // Last words that never finish, armed by them alone (AppKit's terminate action).
    std::filesystem::remove(file);
    LastWords stuck;
    stuck.log = &state;
    stuck.hang = true;
    StopGuard guard(ports(100ms));
    GuardedDelegate guarded(stuck, guard);
    std::thread mainThread([&guarded] { guarded.willTerminate(); });
    const auto end = endWithin(3s);
    stuck.release.set_value();
    mainThread.join();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->file, (Lines{"Web server stopped.", "Scribbet ended."}));
    EXPECT_EQ(fileLines(), end->file);
}

} // namespace
