#include "adapters/mac/pump_turns.hpp"

#include <gtest/gtest.h>

namespace scribbet::mac {
namespace {

using namespace std::chrono_literals;

TEST(PumpTurnsTest, AWaitBecomesTheTimersDelayAndNoWaitNone) {
    PumpTurns turns;
    ASSERT_TRUE(turns.begin());
    const auto after = turns.end({false, 250ms});
    EXPECT_FALSE(after.stop);
    EXPECT_FALSE(after.again);
    ASSERT_TRUE(after.fireIn);
    EXPECT_DOUBLE_EQ(*after.fireIn, 0.25);

    ASSERT_TRUE(turns.begin());
    EXPECT_EQ(turns.end({false, std::nullopt}).fireIn, std::nullopt);
}

TEST(PumpTurnsTest, ATurnFromANestedRunLoopIsHeldBackUntilTheOuterOneIsOver) {
    PumpTurns turns;
    ASSERT_TRUE(turns.begin());
    EXPECT_TRUE(turns.working());
    EXPECT_FALSE(turns.begin()); // a task spun the run loop, which fired the source again
    EXPECT_FALSE(turns.begin());
    const auto after = turns.end({false, 1s});
    EXPECT_TRUE(after.again);
    EXPECT_FALSE(turns.working());
    // Once run, the held-back turn is not run a second time.
    ASSERT_TRUE(turns.begin());
    EXPECT_FALSE(turns.end({false, std::nullopt}).again);
}

TEST(PumpTurnsTest, AStopArmsNoTimerButKeepsAHeldBackTurn) {
    PumpTurns turns;
    ASSERT_TRUE(turns.begin());
    EXPECT_FALSE(turns.begin());
    const auto after = turns.end({true, 5s});
    EXPECT_TRUE(after.stop);
    EXPECT_EQ(after.fireIn, std::nullopt);
    EXPECT_TRUE(after.again);
}

TEST(PumpTurnsTest, DelaysAreNeverNegativeNeverEarlyAndNeverEndless) {
    EXPECT_EQ(PumpTurns::seconds(-3s), 0);
    EXPECT_EQ(PumpTurns::seconds(Duration::zero()), 0);
    EXPECT_EQ(PumpTurns::seconds(1ns), 1e-6);
    EXPECT_GE(PumpTurns::seconds(1500ns), 1.5e-6);
    EXPECT_DOUBLE_EQ(PumpTurns::seconds(20s), 20);
    EXPECT_EQ(PumpTurns::seconds(Duration::max()), PumpTurns::farFuture);
    EXPECT_EQ(PumpTurns::seconds(std::chrono::hours(24 * 365 * 100)), PumpTurns::farFuture);
}

} // namespace
} // namespace scribbet::mac
