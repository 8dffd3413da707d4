// The work queue under tasks that wait on something slow: a quick task is never held up
// behind them, the extra workers go away again, and nothing queued is lost.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include "runtime/queues.hpp"
#include "support/process.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

TEST(ConcurrentQueueGrowth, AQuickTaskRunsWhileEveryKeptWorkerWaits) {
    ConcurrentQueue q("test.grow", 2);
    std::latch release(1);
    std::atomic<int> slow = 0;
    for (int i = 0; i < 6; ++i) {
        q.async([&] {
            release.wait();
            ++slow;
        });
    }
    std::atomic<bool> quick = false;
    std::atomic<bool> quickOnQueue = false;
    q.async([&] {
        quickOnQueue = q.isCurrent();
        quick = true;
    });
    EXPECT_TRUE(test::eventually([&] { return quick.load(); }, 2000ms)) << "held up behind the waiting tasks";
    EXPECT_TRUE(quickOnQueue);
    EXPECT_EQ(q.threadCount(), 7u);
    release.count_down();
    EXPECT_TRUE(test::eventually([&] { return slow == 6; }));
}

TEST(ConcurrentQueueGrowth, ExtraWorkersEndAfterTheirRestAndComeBackWhenNeeded) {
    ConcurrentQueue q("test.rest", 2, 64, 20ms);
    for (int round = 0; round < 2; ++round) {
        std::latch release(1);
        std::atomic<int> ran = 0;
        for (int i = 0; i < 5; ++i) {
            q.async([&] {
                release.wait();
                ++ran;
            });
        }
        EXPECT_TRUE(test::eventually([&] { return q.threadCount() == 5u; }, 2000ms)) << q.threadCount();
        release.count_down();
        EXPECT_TRUE(test::eventually([&] { return ran == 5; }));
        EXPECT_TRUE(test::eventually([&] { return q.threadCount() == 2u; }, 3000ms)) << q.threadCount();
    }
    // The kept ones stay, and still work.
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(q.threadCount(), 2u);
    std::atomic<bool> ran = false;
    q.async([&] { ran = true; });
    EXPECT_TRUE(test::eventually([&] { return ran.load(); }));
}

TEST(ConcurrentQueueGrowth, PastTheMostTasksWaitForAWorkerAndAreNotLost) {
    std::atomic<int> ran = 0;
    std::latch release(1);
    {
        ConcurrentQueue q("test.most", 1, 3);
        for (int i = 0; i < 8; ++i) {
            q.async([&] {
                release.wait();
                ++ran;
            });
        }
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(q.threadCount(), 3u);
        EXPECT_EQ(ran, 0);
        release.count_down();
    } // destroying it runs what is queued
    EXPECT_EQ(ran, 8);
}

TEST(ConcurrentQueueGrowth, DestroyingItWhileWorkersComeAndGoRunsEverything) {
    std::atomic<int> ran = 0;
    for (int round = 0; round < 20; ++round) {
        ConcurrentQueue q("test.churn", 1, 16, 1ms);
        for (int i = 0; i < 10; ++i) {
            q.async([&, i] {
                if (i % 3 == 0) std::this_thread::sleep_for(1ms);
                ++ran;
                if (i == 5) q.async([&] { ++ran; }); // queued from a task of its own
            });
        }
        if (round % 2) std::this_thread::sleep_for(3ms); // let some extra workers end
    }
    EXPECT_EQ(ran, 20 * 11);
}

} // namespace
