#include "adapters/mac/screen_list.hpp"

#include <limits>
#include <thread>

#include <gtest/gtest.h>

namespace scribbet::mac {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

const ScreenReading laptop{{0, 0, 1512, 982}, {0, 0, 1512, 945}, 2};
const ScreenReading external{{1512, -100, 2560, 1440}, {1512, -100, 2560, 1415}, 1};

TEST(ScreenListTest, TheMainScreenIsTheOneAppKitNamed) {
    const auto s = snapshotOf({laptop, external}, 1);
    ASSERT_EQ(s.screens.size(), 2u);
    EXPECT_EQ(s.screens[0], (ScreenInfo{{0, 0, 1512, 982}, {0, 0, 1512, 945}, 2}));
    EXPECT_EQ(s.mainScreen(), s.screens[1]);
}

TEST(ScreenListTest, AnUnknownMainScreenIsTheFirstAndNoScreensIsNone) {
    EXPECT_EQ(snapshotOf({laptop, external}, std::nullopt).mainScreen(), snapshotOf({laptop}, 0).screens[0]);
    EXPECT_EQ(snapshotOf({laptop, external}, 7).mainScreen()->frame, laptop.frame);
    EXPECT_EQ(snapshotOf({}, std::nullopt).mainScreen(), std::nullopt);
    EXPECT_EQ(snapshotOf({}, 0).mainScreen(), std::nullopt);
    EXPECT_EQ(ScreenSnapshot{}.mainScreen(), std::nullopt);
}

TEST(ScreenListTest, OddReadingsAreMendedOrLeftOut) {
    ScreenReading broken = laptop;
    broken.frame.w = nan;
    ScreenReading unscaled = external;
    unscaled.backingScaleFactor = 0;
    unscaled.visibleFrame.h = nan;
    // The main screen's index still points at the same screen after one before it went.
    const auto s = snapshotOf({broken, unscaled}, 1);
    ASSERT_EQ(s.screens.size(), 1u);
    EXPECT_EQ(s.screens[0].backingScale, 1);
    EXPECT_EQ(s.screens[0].visibleFrame, external.frame);
    EXPECT_EQ(s.main, 0u);
    // The main screen itself left out: the first that is left.
    EXPECT_EQ(snapshotOf({external, broken}, 1).mainScreen()->frame, external.frame);
    EXPECT_EQ(screenInfo({{0, 0, 10, 10}, {0, 0, 10, 10}, -2})->backingScale, 1);
    EXPECT_EQ(screenInfo({{0, 0, 10, 10}, {0, 0, 10, 10}, nan})->backingScale, 1);
    EXPECT_EQ(screenInfo({{10, 10, -10, -10}, {0, 0, 10, 10}, 2})->frame, (Rect{0, 0, 10, 10}));
}

TEST(ScreenListTest, ReadersOnOtherThreadsSeeWholeSnapshots) {
    ScreenCache cache;
    EXPECT_TRUE(cache.snapshot().screens.empty());
    const auto one = snapshotOf({laptop}, 0), two = snapshotOf({laptop, external}, 1);
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) cache.store(i % 2 ? one : two);
    });
    for (int i = 0; i < 2000; ++i) {
        const auto s = cache.snapshot();
        // Never the screens of one with the main index of the other.
        if (s.screens.size() == 1) {
            EXPECT_EQ(s.main, 0u);
        }
        if (s.screens.size() == 2) {
            EXPECT_EQ(s.main, 1u);
        }
    }
    writer.join();
}

} // namespace
} // namespace scribbet::mac
