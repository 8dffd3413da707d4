// The main queue pumped by GLib: posting order across threads, timers that are never early
// and never run once cancelled, repeating timers that stop from inside, and quitting in the
// middle of a batch of tasks. GLib needs no display for any of it.
#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "adapters/gtk/glib_loop.hpp"
#include "runtime/queues.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;

namespace {

class GtkLoopTest : public ::testing::Test {
protected:
    // Runs the loop on this thread until a task quits it, or gives up after `limit`.
    bool runFor(std::chrono::milliseconds limit) {
        Timer guard = loop.oneShot(limit, [&] {
            timedOut = true;
            loop.quit();
        });
        loop.run();
        guard.cancel();
        return !timedOut.exchange(false);
    }
    std::shared_ptr<GlibMainLoop> glib = std::make_shared<GlibMainLoop>();
    MainQueue loop{glib, std::make_shared<SystemClock>()};
    std::atomic<bool> timedOut{false};
};

TEST_F(GtkLoopTest, TasksPostedFromManyThreadsKeepEachThreadsOrder) {
    std::mutex m;
    std::vector<std::pair<int, int>> ran; // thread, sequence
    std::vector<std::thread> threads;
    constexpr int perThread = 500;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                loop.async([&, t, i] {
                    std::lock_guard lock(m);
                    ran.emplace_back(t, i);
                    if (ran.size() == 4 * perThread) loop.quit();
                });
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(runFor(5000ms));
    std::vector<int> next(4, 0);
    for (const auto& [t, i] : ran) {
        EXPECT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
    }
}

TEST_F(GtkLoopTest, ATaskPostedByATaskRunsAfterTheOnesAlreadyWaiting) {
    std::vector<std::string> ran;
    loop.async([&] {
        ran.push_back("a");
        loop.async([&] {
            ran.push_back("c");
            loop.quit();
        });
    });
    loop.async([&] { ran.push_back("b"); });
    ASSERT_TRUE(runFor(2000ms));
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(loop.isCurrent());
    bool elsewhere = true;
    std::thread([&] { elsewhere = loop.isCurrent(); }).join();
    EXPECT_FALSE(elsewhere);
}

TEST_F(GtkLoopTest, TimersWaitTheirDelayAndCancelledOnesNeverRun) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<int> ran;
    std::chrono::steady_clock::duration firedAfter{};
    Timer cancelled = loop.oneShot(30ms, [&] { ran.push_back(0); });
    loop.after(60ms, [&] {
        ran.push_back(1);
        firedAfter = std::chrono::steady_clock::now() - start;
        loop.quit();
    });
    Timer fired = loop.oneShot(10ms, [&] { ran.push_back(2); });
    // Cancelled from another thread, as the core may do.
    std::thread([&] { cancelled.cancel(); }).join();
    ASSERT_TRUE(runFor(3000ms));
    EXPECT_EQ(ran, (std::vector<int>{2, 1}));
    EXPECT_GE(firedAfter, 60ms);
    // Cancelling a fired or cancelled timer does nothing.
    fired.cancel();
    cancelled.cancel();
}

TEST_F(GtkLoopTest, ARepeatingTimerRunsUntilItCancelsItself) {
    int runs = 0;
    Timer timer;
    timer = loop.repeating(5ms, [&] {
        if (++runs == 3) {
            timer.cancel();
            loop.after(50ms, [&] { loop.quit(); }); // time for a fourth run, which must not come
        }
    });
    ASSERT_TRUE(runFor(3000ms));
    EXPECT_EQ(runs, 3);
}

TEST_F(GtkLoopTest, QuitInTheMiddleOfABatchLeavesTheRestForTheNextRun) {
    std::vector<int> ran;
    loop.async([&] {
        ran.push_back(1);
        loop.quit();
    });
    loop.async([&] { ran.push_back(2); });
    loop.run();
    EXPECT_EQ(ran, (std::vector<int>{1}));
    loop.async([&] {
        ran.push_back(3);
        loop.quit();
    });
    loop.run();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST_F(GtkLoopTest, AQuitBeforeRunMakesRunReturnAtOnce) {
    loop.quit();
    const auto start = std::chrono::steady_clock::now();
    loop.run();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    // And only once: the next run runs.
    bool ran = false;
    loop.async([&] {
        ran = true;
        loop.quit();
    });
    ASSERT_TRUE(runFor(2000ms));
    EXPECT_TRUE(ran);
}

TEST_F(GtkLoopTest, QuitFromAnotherThreadWakesAnIdleLoop) {
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        loop.quit();
    });
    EXPECT_TRUE(runFor(3000ms));
    stopper.join();
}

TEST_F(GtkLoopTest, ALoopGoneTakesItsTimersAndTasksWithIt) {
    int ran = 0;
    {
        MainQueue gone{std::make_shared<GlibMainLoop>(), std::make_shared<SystemClock>()};
        gone.async([&] { ++ran; });
        gone.after(1ms, [&] { ++ran; });
        gone.after(2ms, [&] { ++ran; });
    }
    loop.after(30ms, [&] { loop.quit(); });
    ASSERT_TRUE(runFor(3000ms));
    EXPECT_EQ(ran, 0);
}

} // namespace
