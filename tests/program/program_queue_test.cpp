// What waits for the program: the order its one thread takes calls in, shared reads, deadlines
// that pass while the program is busy, callers that leave, and a stop.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <mutex>

#include "adapters/fake/virtual_loop.hpp"
#include "program/program_queue.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using Dropped = ProgramQueue::Dropped;
using Lane = ProgramQueue::Lane;

namespace {

MacroReply answer(const std::string& field) {
    MacroReply r;
    r.ok = true;
    r.parts = {field};
    return r;
}

class ProgramQueueTest : public ::testing::Test {
protected:
    ~ProgramQueueTest() override {
        hold.count_down();
        queue.stop();
        runner.sync([] {});
    }
    // Keeps the program's thread busy until `hold` is released.
    void busy() {
        runner.async([this] { hold.wait(); });
    }
    ProgramQueue::Job job(const std::string& name, Lane lane = Lane::user, std::string share = "") {
        ProgramQueue::Job j;
        j.lane = lane;
        j.share = std::move(share);
        j.run = [this, name] {
            std::lock_guard lock(mutex);
            ran.push_back(name);
            return answer(name);
        };
        j.done = [this, name](const MacroReply& r) {
            std::lock_guard lock(mutex);
            told.push_back(name + "=" + r.parts.at(0));
        };
        j.dropped = [this, name](Dropped why) {
            std::lock_guard lock(mutex);
            dropped.emplace_back(name, why);
        };
        return j;
    }
    void settle() {
        hold.count_down();
        runner.sync([] {});
    }

    std::shared_ptr<fake::VirtualClock> clock = std::make_shared<fake::VirtualClock>();
    SerialQueue runner{"test.program"};
    ProgramQueue queue{runner, *clock, 2};
    std::latch hold{1};
    std::mutex mutex;
    std::vector<std::string> ran, told;
    std::vector<std::pair<std::string, Dropped>> dropped;
};

TEST_F(ProgramQueueTest, TheUsersCallsGoFirstAndTheSameReadRunsOnceForEveryone) {
    busy();
    queue.submit(job("theme-a", Lane::page, "theme"));
    queue.submit(job("slide", Lane::page));
    queue.submit(job("theme-b", Lane::page, "theme"));
    queue.submit(job("place"));
    EXPECT_EQ(queue.waiting(), 4u);
    settle();
    EXPECT_EQ(ran, (std::vector<std::string>{"place", "theme-a", "slide"}));
    EXPECT_EQ(told, (std::vector<std::string>{"place=place", "theme-a=theme-a", "theme-b=theme-a", "slide=slide"}));
}

TEST_F(ProgramQueueTest, PastTheLimitAPageReadIsRefusedAtOnceButTheUsersCallsAreNot) {
    busy();
    queue.submit(job("a", Lane::page));
    queue.submit(job("b", Lane::page));
    queue.submit(job("c", Lane::page));
    queue.submit(job("d", Lane::page, "shared-with-nothing"));
    queue.submit(job("mine"));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(dropped, (std::vector<std::pair<std::string, Dropped>>{{"c", Dropped::full}, {"d", Dropped::full}}));
    }
    settle();
    EXPECT_EQ(ran, (std::vector<std::string>{"mine", "a", "b"}));
}

TEST_F(ProgramQueueTest, ADeadlineThatPassesWhileTheProgramIsBusyIsAnsweredThenAndTheCallNeverRuns) {
    busy();
    auto late = job("late");
    late.deadline = clock->now() + 15s;
    queue.submit(std::move(late));
    auto inTime = job("in-time", Lane::page);
    inTime.deadline = clock->now() + 60s;
    queue.submit(std::move(inTime));
    std::promise<void> fired;
    queue.at(clock->now() + 20s, [&] { fired.set_value(); });

    clock->sleepFor(20s);
    ASSERT_EQ(fired.get_future().wait_for(2s), std::future_status::ready) << "timers run on the program's clock";
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(dropped, (std::vector<std::pair<std::string, Dropped>>{{"late", Dropped::late}}))
            << "answered while the program was still busy";
    }
    settle();
    EXPECT_EQ(ran, (std::vector<std::string>{"in-time"}));
}

TEST_F(ProgramQueueTest, ACallerThatLeftIsNeitherRunNorAnsweredButOneStillThereSharesTheRun) {
    busy();
    std::atomic<bool> here = true;
    auto leaving = job("leaving", Lane::page, "theme");
    leaving.wanted = [&] { return here.load(); };
    queue.submit(std::move(leaving));
    auto gone = job("gone", Lane::page);
    gone.wanted = [] { return false; };
    queue.submit(std::move(gone));
    queue.submit(job("staying", Lane::page, "theme"));
    here = false;
    settle();
    EXPECT_EQ(ran, (std::vector<std::string>{"leaving"})) << "the shared run is made for the one who stayed";
    EXPECT_EQ(told, (std::vector<std::string>{"staying=leaving"}));
    EXPECT_EQ(dropped, (std::vector<std::pair<std::string, Dropped>>{{"leaving", Dropped::gone}, {"gone", Dropped::gone}}));
}

TEST_F(ProgramQueueTest, AStopAnswersWhatWaitsAtOnceAndRefusesWhatComesLaterWhileTheCallInFlightGoesOn) {
    std::latch inside{1};
    auto first = job("first");
    first.run = [&] {
        inside.count_down();
        hold.wait();
        return answer("first");
    };
    queue.submit(std::move(first));
    inside.wait();
    queue.submit(job("waiting", Lane::page));
    queue.at(clock->now() + 1s, [] { FAIL() << "a stop ends the timers"; });
    queue.stop();
    queue.submit(job("later"));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(dropped, (std::vector<std::pair<std::string, Dropped>>{{"waiting", Dropped::stopping},
                                                                         {"later", Dropped::stopping}}));
    }
    clock->sleepFor(2s);
    settle();
    EXPECT_EQ(told, (std::vector<std::string>{"first=first"}));
}

} // namespace
