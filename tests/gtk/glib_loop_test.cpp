// The main loop on GLib: posting order across threads, timers that are never early and never
// run once cancelled, repeating timers that stop from inside, and quitting in the middle of
// a batch of tasks. GLib needs no display for any of it.
#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "adapters/gtk/glib_loop.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;

namespace {

class GtkLoopTest : public ::testing::Test {
protected:
    // Runs the loop on this thread until a task quits it, or gives up after `limit`.
    bool runFor(std::chrono::milliseconds limit) {
        const auto guard = loop.schedule(limit, [&] {
            timedOut = true;
            loop.quit();
        });
        loop.run();
        loop.cancel(guard);
        return !timedOut.exchange(false);
    }
    GlibMainLoop loop;
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
                loop.post([&, t, i] {
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
    loop.post([&] {
        ran.push_back("a");
        loop.post([&] {
            ran.push_back("c");
            loop.quit();
        });
    });
    loop.post([&] { ran.push_back("b"); });
    ASSERT_TRUE(runFor(2000ms));
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(loop.onLoopThread());
    bool elsewhere = true;
    std::thread([&] { elsewhere = loop.onLoopThread(); }).join();
    EXPECT_FALSE(elsewhere);
}

TEST_F(GtkLoopTest, TimersWaitTheirDelayAndCancelledOnesNeverRun) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<int> ran;
    std::chrono::steady_clock::duration firedAfter{};
    const auto cancelled = loop.schedule(30ms, [&] { ran.push_back(0); });
    loop.schedule(60ms, [&] {
        ran.push_back(1);
        firedAfter = std::chrono::steady_clock::now() - start;
        loop.quit();
    });
    loop.schedule(10ms, [&] { ran.push_back(2); });
    // Cancelled from another thread, as the core may do.
    std::thread([&] { loop.cancel(cancelled); }).join();
    ASSERT_TRUE(runFor(3000ms));
    EXPECT_EQ(ran, (std::vector<int>{2, 1}));
    EXPECT_GE(firedAfter, 60ms);
    // Cancelling a fired or unknown timer does nothing.
    loop.cancel(cancelled);
    loop.cancel(987654);
}

TEST_F(GtkLoopTest, ARepeatingTimerRunsUntilItCancelsItself) {
    int runs = 0;
    MainLoop::TimerId id = 0;
    id = loop.scheduleRepeating(5ms, [&] {
        if (++runs == 3) {
            loop.cancel(id);
            loop.schedule(50ms, [&] { loop.quit(); }); // time for a fourth run, which must not come
        }
    });
    ASSERT_TRUE(runFor(3000ms));
    EXPECT_EQ(runs, 3);
}

TEST_F(GtkLoopTest, QuitInTheMiddleOfABatchLeavesTheRestForTheNextRun) {
    std::vector<int> ran;
    loop.post([&] {
        ran.push_back(1);
        loop.quit();
    });
    loop.post([&] { ran.push_back(2); });
    loop.run();
    EXPECT_EQ(ran, (std::vector<int>{1}));
    loop.post([&] {
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
    loop.post([&] {
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
        GlibMainLoop gone;
        gone.post([&] { ++ran; });
        gone.schedule(1ms, [&] { ++ran; });
        gone.scheduleRepeating(1ms, [&] { ++ran; });
    }
    loop.schedule(30ms, [&] { loop.quit(); });
    ASSERT_TRUE(runFor(3000ms));
    EXPECT_EQ(ran, 0);
}

} // namespace
