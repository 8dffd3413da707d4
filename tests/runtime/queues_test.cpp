#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <set>
#include <mutex>
#include <vector>

#include "runtime/queues.hpp"
#include "runtime/weak.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class RuntimeTest : public test::VirtualMainTest {};

TEST(SerialQueueTest, RunsTasksInOrderOnOneThreadAndKnowsItsOwn) {
    SerialQueue q("test.serial");
    std::vector<int> seen;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 200; ++i) {
        q.async([&, i] {
            seen.push_back(i);
            threads.insert(std::this_thread::get_id());
        });
    }
    bool inside = false;
    q.sync([&] { inside = q.isCurrent(); });
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_TRUE(inside);
    EXPECT_FALSE(q.isCurrent());
}

TEST(SerialQueueTest, SyncOntoItselfRunsInlineInsteadOfDeadlocking) {
    SerialQueue q("test.reentry");
    std::vector<std::string> order;
    q.sync([&] {
        order.push_back("outer");
        q.sync([&] { order.push_back("inner"); });
        order.push_back("after");
    });
    EXPECT_EQ(order, (std::vector<std::string>{"outer", "inner", "after"}));
}

TEST(SerialQueueTest, DelayedTasksRunAfterTheirDelayInDueOrder) {
    SerialQueue q("test.after");
    std::mutex m;
    std::vector<int> seen;
    std::latch done(3);
    const auto start = std::chrono::steady_clock::now();
    q.after(60ms, [&] { std::lock_guard l(m); seen.push_back(3); done.count_down(); });
    q.after(20ms, [&] { std::lock_guard l(m); seen.push_back(2); done.count_down(); });
    q.async([&] { std::lock_guard l(m); seen.push_back(1); done.count_down(); });
    done.wait();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueueTest, DestructionRunsWhatWasAlreadyQueued) {
    std::atomic<int> ran = 0;
    {
        SerialQueue q("test.drain");
        q.async([&] { std::this_thread::sleep_for(20ms); ++ran; });
        q.async([&] { ++ran; });
    }
    EXPECT_EQ(ran, 2);
}

TEST(SerialQueueTest, SyncForGivesUpAndThenTheTaskNeverRuns) {
    SerialQueue q("test.deadline");
    std::latch blocker(1);
    q.async([&] { blocker.wait(); });
    std::atomic<bool> ran = false;
    EXPECT_FALSE(q.syncFor(30ms, [&] { ran = true; }));
    blocker.count_down();
    q.sync([] {});
    EXPECT_FALSE(ran);
    EXPECT_TRUE(q.syncFor(1s, [&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(ConcurrentQueueTest, RunsTasksSideBySide) {
    ConcurrentQueue q("test.work", 4);
    // Each task waits for the other: only parallel workers can finish both.
    std::latch both(2);
    std::atomic<int> finished = 0;
    std::atomic<bool> onQueue = true;
    for (int i = 0; i < 2; ++i) {
        q.async([&] {
            onQueue = onQueue && q.isCurrent();
            both.arrive_and_wait();
            ++finished;
        });
    }
    for (int i = 0; i < 200 && finished < 2; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(finished, 2);
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(q.isCurrent());
}

TEST_F(RuntimeTest, BackgroundQueueHopsSynchronouslyToTheMainQueue) {
    SerialQueue q("test.hop");
    std::atomic<bool> sawMain = false;
    std::atomic<bool> back = false;
    int value = 0;
    q.async([&] {
        main.sync([&] {
            sawMain = main.isCurrent();
            value = 42;
        });
        back = true;
    });
    ASSERT_TRUE(loop->runUntil([&] { return back.load(); }));
    EXPECT_TRUE(sawMain);
    EXPECT_EQ(value, 42);
}

TEST_F(RuntimeTest, SyncWithDeadlineFromBackgroundGivesUpWhenMainIsBusy) {
    SerialQueue q("test.hop.deadline");
    std::atomic<int> answer = -1;
    std::atomic<bool> ran = false;
    q.async([&] { answer = main.syncFor(20ms, [&] { ran = true; }) ? 1 : 0; });
    // The main loop is not run, as when it is busy: the hop must give up.
    q.sync([] {});
    EXPECT_EQ(answer, 0);
    loop->runPending();
    EXPECT_FALSE(ran);
}

TEST_F(RuntimeTest, MainQueueRunsPostedTasksInOrderAndTimersOnVirtualTime) {
    std::vector<std::string> seen;
    main.after(2s, [&] { seen.push_back("2s"); });
    main.async([&] { seen.push_back("a"); });
    main.after(1s, [&] { seen.push_back("1s"); });
    main.async([&] { seen.push_back("b"); });
    loop->runPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
    loop->advance(999ms);
    EXPECT_EQ(seen.size(), 2u);
    loop->advance(1ms);
    EXPECT_EQ(seen.back(), "1s");
    loop->advance(10s);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "1s", "2s"}));
}

TEST_F(RuntimeTest, TimersSeeTheirOwnTimeOnTheClock) {
    const Instant start = clock->now();
    std::vector<Duration> at;
    Timer t = main.repeating(20s, [&] { at.push_back(clock->now() - start); });
    loop->advance(70s);
    EXPECT_EQ(at, (std::vector<Duration>{20s, 40s, 60s}));
    EXPECT_EQ(clock->now() - start, 70s);
}

TEST_F(RuntimeTest, TimerStopsWhenCancelledOrWhenItsHandleGoesAway) {
    int a = 0, b = 0, c = 0;
    Timer ta = main.repeating(1s, [&] { ++a; });
    {
        Timer tb = main.oneShot(1s, [&] { ++b; });
    }
    Timer tc = main.oneShot(1s, [&] { ++c; });
    EXPECT_TRUE(tc.isActive());
    loop->advance(2500ms);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(c, 1);
    EXPECT_FALSE(tc.isActive());
    ta.cancel();
    EXPECT_FALSE(ta.isActive());
    loop->advance(10s);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(main.waiting(), 0u);
}

TEST_F(RuntimeTest, RepeatingTimerMayCancelOrReplaceItselfFromItsOwnTask) {
    int fired = 0;
    Timer t;
    t = main.repeating(1s, [&] {
        if (++fired == 3) t.cancel();
    });
    loop->advance(10s);
    EXPECT_EQ(fired, 3);

    int replaced = 0;
    t = main.repeating(1s, [&] {
        t = main.oneShot(5s, [&] { ++replaced; });
    });
    loop->advance(1s);
    loop->advance(20s);
    EXPECT_EQ(replaced, 1);
}

TEST_F(RuntimeTest, WeakCallbacksDoNothingOnceTheirOwnerIsGone) {
    struct Owner {
        int calls = 0;
    };
    int applied = 0;
    auto owner = std::make_shared<Owner>();
    auto callback = weakly(owner, [&applied](Owner& o, int n) {
        o.calls += n;
        applied += n;
    });
    main.after(1s, [callback]() mutable { callback(5); });
    callback(1);
    EXPECT_EQ(owner->calls, 1);
    owner.reset(); // the late answer must be dropped, not applied to freed memory
    loop->advance(2s);
    EXPECT_EQ(applied, 1);
}

} // namespace
