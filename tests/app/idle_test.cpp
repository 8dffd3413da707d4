#include <gtest/gtest.h>

#include "support/core_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

// A launched program on virtual time whose terminate action is recorded.
class IdleTest : public test::DelegateTest {
protected:
    IdleTest() {
        screens->set({{0, 0, 1440, 900}});
        // Made before the program's idle timer and due at the same moments, so it runs first
        // at each tick: the main thread is busy that long, and the tick runs that late.
        busy = main.repeating(AppDelegate::idleInterval, [this] {
            if (ticks < lateness.size()) clock->set(clock->now() + lateness[ticks]);
            ++ticks;
        });
        launch = clock->now();
        make();
        delegate->willFinishLaunching();
        delegate->didFinishLaunching();
    }
    // Runs until the program terminates or `limit` passes; the time of the end since launch.
    std::optional<Duration> quitWithin(Duration limit) {
        const Instant end = clock->now() + limit;
        while (clock->now() < end && !app.terminated) loop->advance(100ms);
        if (!app.terminated) return std::nullopt;
        return clock->now() - launch;
    }

    Instant launch;
    std::vector<Duration> lateness; // how late each tick runs, from the first
    std::size_t ticks = 0;
    Timer busy;
};

// The same quiet launch on main loops whose ticks run late by different amounts.
class IdleLatenessTest : public IdleTest, public ::testing::WithParamInterface<std::vector<Duration>> {
protected:
    IdleLatenessTest() { lateness = GetParam(); }
};

TEST_P(IdleLatenessTest, AQuietLaunchQuitsOnTheSeventhTickEveryTime) {
    // The first tick starts the quiet minute, the fourth ends it and starts the minimum
    // lifetime, the seventh ends that: 140 s after launch, however late each tick ran.
    const auto at = quitWithin(300s);
    ASSERT_TRUE(at);
    EXPECT_GE(*at, 140s);
    EXPECT_LT(*at, 140s + 100ms);
}

INSTANTIATE_TEST_SUITE_P(
    Lateness, IdleLatenessTest,
    ::testing::Values(std::vector<Duration>{},
                      // later at the ticks that start a minute than at the ticks that end it
                      std::vector<Duration>{5ms, 0ms, 0ms, 1ms, 5ms, 0ms, 0ms, 1ms},
                      std::vector<Duration>{7ms, 6ms, 5ms, 4ms, 3ms, 2ms, 1ms, 0ms},
                      std::vector<Duration>{1us, 0us, 0us, 0us, 3us, 0us, 0us, 1us},
                      // a main thread that is busy for most of a second now and then
                      std::vector<Duration>{900ms, 0ms, 40ms, 0ms, 900ms, 0ms, 0ms, 0ms}));

TEST_F(IdleTest, ALaunchWithoutRequestsQuitsBetween140And160Seconds) {
    const auto at = quitWithin(300s);
    ASSERT_TRUE(at);
    EXPECT_GE(*at, 140s);
    EXPECT_LE(*at, 160s + 100ms);
}

TEST_F(IdleTest, EveryRequestPushesTheQuitBackAMinute) {
    loop->advance(100s);
    idle.setLastRequest(clock->now());
    const auto at = quitWithin(300s);
    ASSERT_TRUE(at);
    EXPECT_GE(*at, 160s);
}

TEST_F(IdleTest, NeverWhileALayerIsOpenOrAStartRunsOrTheStatusWindowShows) {
    overlay->open(*Geom::from("960|540|0|0|960|540", {}, std::nullopt), std::nullopt, "");
    factory->web->post({{"type", "ready"}});
    EXPECT_FALSE(quitWithin(600s));
    overlay->close(false);

    ++idle.working;
    EXPECT_FALSE(quitWithin(600s));
    --idle.working;

    delegate->showStatus();
    EXPECT_FALSE(quitWithin(600s));
    statusUI.window->visible = false; // the user went back to the program: the window hides
    // Both quiet minutes are counted from when the rule first got that far: now.
    const Duration hidden = clock->now() - launch;
    const auto at = quitWithin(300s);
    ASSERT_TRUE(at);
    EXPECT_GE(*at - hidden, 120s);
    EXPECT_LE(*at - hidden, 160s + 100ms);
}

TEST_F(IdleTest, ClosingALayerChecksASecondLaterAndQuitsWhenLongQuiet) {
    loop->advance(100s);
    idle.setLastRequest(clock->now()); // the last request: quitting waits until 160 s at least
    loop->advance(50s);
    overlay->open(*Geom::from("960|540|0|0|960|540", {}, std::nullopt), std::nullopt, "");
    factory->web->post({{"type", "ready"}});
    loop->advance(20s); // the tick at 160 s finds the layer open
    EXPECT_FALSE(app.terminated);
    overlay->close(false);
    loop->advance(999ms);
    EXPECT_FALSE(app.terminated);
    loop->advance(1ms);
    loop->runPending();
    EXPECT_TRUE(app.terminated);
    EXPECT_EQ(app.calls.back(), "terminate");
}

} // namespace
