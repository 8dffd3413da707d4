// The one task and timer queue and the loop that runs it through a pump: ordering, batches,
// stopping between tasks, late repeating timers, and waking a pump only when it must.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "adapters/fake/virtual_loop.hpp"
#include "runtime/run_loop.hpp"
#include "runtime/system_clock.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

TEST(TaskQueueTest, RunsByTimeThenByOrderAndLeavesLaterTasksForTheNextCall) {
    fake::VirtualClock clock;
    TaskQueue tasks;
    std::vector<int> ran;
    const Instant now = clock.now();
    EXPECT_TRUE(tasks.add(now + 2s, [&] { ran.push_back(3); }).first);
    EXPECT_TRUE(tasks.add(now, [&] { ran.push_back(1); }).first);
    EXPECT_FALSE(tasks.add(now, [&] {
        ran.push_back(2);
        tasks.add(now, [&] { ran.push_back(22); });       // due now: same call
        tasks.add(now + 1s, [&] { ran.push_back(21); });  // later: next call
    }).first);
    EXPECT_EQ(tasks.runDue(clock), now + 1s);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 22}));
    clock.set(now + 5s);
    EXPECT_EQ(tasks.runDue(clock), std::nullopt);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 22, 21, 3}));
    EXPECT_EQ(tasks.size(), 0u);
}

TEST(TaskQueueTest, StopsBetweenTasksAndKeepsTheRestInOrder) {
    fake::VirtualClock clock;
    TaskQueue tasks;
    std::vector<int> ran;
    bool stop = false;
    tasks.add(clock.now(), [&] {
        ran.push_back(1);
        stop = true;
    });
    tasks.add(clock.now(), [&] { ran.push_back(2); });
    EXPECT_EQ(tasks.runDue(clock, [&] { return stop; }), clock.now());
    EXPECT_EQ(ran, (std::vector<int>{1}));
    tasks.runDue(clock);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(TaskQueueTest, ALateRepeatingTaskSkipsWhatItMissedAndKeepsItsGrid) {
    fake::VirtualClock clock;
    const Instant start = clock.now();
    EXPECT_EQ(nextOnGrid(start, 10s, start + 3s), start + 10s);
    EXPECT_EQ(nextOnGrid(start, 10s, start + 10s), start + 20s);
    EXPECT_EQ(nextOnGrid(start, 10s, start + 35s), start + 40s);

    TaskQueue tasks;
    std::vector<Duration> at;
    TaskQueue::Id id = 0;
    id = tasks.add(start + 10s, [&] {
        at.push_back(clock.now() - start);
        if (at.size() == 1) clock.set(clock.now() + 25s); // the main thread was held
        if (at.size() == 3) tasks.cancel(id);             // a task may cancel itself
    }, 10s).id;
    clock.set(start + 10s);
    EXPECT_EQ(tasks.runDue(clock), start + 40s);
    clock.set(start + 40s);
    tasks.runDue(clock);
    clock.set(start + 50s);
    EXPECT_EQ(tasks.runDue(clock), std::nullopt);
    EXPECT_EQ(at, (std::vector<Duration>{10s, 40s, 50s}));
}

TEST(TaskQueueTest, CancelledAndClearedTasksNeverRunAndLetTheirCapturesGo) {
    fake::VirtualClock clock;
    TaskQueue tasks;
    auto held = std::make_shared<int>(0);
    const auto id = tasks.add(clock.now(), [held] { ++*held; }).id;
    tasks.add(clock.now() + 1s, [held] { ++*held; }, 1s);
    tasks.cancel(id);
    tasks.cancel(id);     // twice is harmless
    tasks.cancel(98765);  // and so is an unknown one
    EXPECT_EQ(held.use_count(), 2);
    tasks.clear();
    EXPECT_EQ(held.use_count(), 1);
    clock.set(clock.now() + 10s);
    EXPECT_EQ(tasks.runDue(clock), std::nullopt);
    EXPECT_EQ(*held, 0);
}

// A pump that counts wakes and runs the work when the test says.
struct CountingPump final : MainLoop {
    void attach(Work w) override { work = std::move(w); }
    void wake() override { ++wakes; }
    void run() override {
        while (!work().stop) {
        }
    }
    bool onLoopThread() const override { return std::this_thread::get_id() == owner; }
    Work work;
    int wakes = 0;
    std::thread::id owner = std::this_thread::get_id();
};

TEST(RunLoopTest, WakesItsPumpOnlyForATaskThePumpCouldNotKnowAbout) {
    fake::VirtualClock clock;
    CountingPump pump;
    RunLoop loop(pump, clock);
    loop.schedule(10s, [] {});
    EXPECT_EQ(pump.wakes, 1); // the first timer: the pump slept without a time
    loop.schedule(20s, [] {});
    EXPECT_EQ(pump.wakes, 1); // behind one the pump already waits for
    loop.post([&] { loop.post([] {}); });
    EXPECT_EQ(pump.wakes, 2);
    // Posted from inside the work: it looks again before it answers how long to wait.
    const auto pumped = pump.work();
    EXPECT_EQ(pump.wakes, 2);
    EXPECT_FALSE(pumped.stop);
    EXPECT_EQ(pumped.wait, 10s);
    std::thread([&] { loop.post([] {}); }).join();
    EXPECT_EQ(pump.wakes, 3);
    EXPECT_EQ(loop.waiting(), 3u);
    EXPECT_EQ(pump.work().wait, 10s);
}

TEST(RunLoopTest, ATaskFromAnotherThreadWakesAPumpAsleepUntilAFarTimer) {
    SystemClock clock;
    WaitingPump pump;
    RunLoop loop(pump, clock);
    loop.schedule(60s, [] {});
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(20ms);
        loop.post([&] {
            ran = true;
            loop.quit();
        });
    });
    const auto start = std::chrono::steady_clock::now();
    loop.run();
    poster.join();
    EXPECT_TRUE(ran);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(RunLoopTest, AQuitBeforeRunEndsOneRunAndDrainRunsOnlyWhatIsDue) {
    SystemClock clock;
    WaitingPump pump;
    RunLoop loop(pump, clock);
    std::vector<int> ran;
    loop.quit();
    loop.post([&] { ran.push_back(1); });
    loop.run(); // returns at once: the task waits
    EXPECT_TRUE(ran.empty());
    loop.post([&] {
        ran.push_back(2);
        loop.quit();
        loop.post([&] { ran.push_back(3); });
    });
    loop.run();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    loop.schedule(60s, [&] { ran.push_back(9); });
    loop.quit();
    loop.drain(); // whatever quit says, the due task runs; the far timer does not
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(loop.waiting(), 1u);
}

} // namespace
