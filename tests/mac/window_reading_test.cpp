#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "adapters/mac/window_reading.hpp"

using namespace scribbet;
using namespace scribbet::mac;

namespace {

using Bounds = WindowReading::Bounds;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(WindowReadingTest, TheListAsksForOnScreenWindowsWithoutTheDesktop) {
    EXPECT_EQ(windowListOptions, 17u);
    EXPECT_EQ(nullWindowId, 0u);
}

TEST(WindowReadingTest, AWellFormedEntryPassesUnchanged) {
    const auto info = windowInfoOf({4242.0, 0.0, Bounds{100, 80, 1200, 800}});
    EXPECT_EQ(info.ownerPid, 4242);
    EXPECT_EQ(info.layer, 0);
    EXPECT_EQ(info.bounds, (Rect{100, 80, 1200, 800})); // top-left origin already: no flip
    // Windows on a screen left of or above the main one have negative origins.
    EXPECT_EQ(windowInfoOf({1.0, 3.0, Bounds{-1440, -300, 800, 600}}).bounds, (Rect{-1440, -300, 800, 600}));
}

TEST(WindowReadingTest, MissingValuesStayMissing) {
    const auto info = windowInfoOf({});
    EXPECT_EQ(info.ownerPid, std::nullopt);
    EXPECT_EQ(info.layer, std::nullopt);
    EXPECT_EQ(info.bounds, std::nullopt);
    EXPECT_EQ(windowInfoOf({std::nullopt, 0.0, Bounds{0, 0, 10, 10}}).ownerPid, std::nullopt);
}

TEST(WindowReadingTest, NumbersThatAreNoProcessOrLayerAreMissing) {
    EXPECT_EQ(wholeNumber(nan), std::nullopt);
    EXPECT_EQ(wholeNumber(inf), std::nullopt);
    EXPECT_EQ(wholeNumber(-inf), std::nullopt);
    EXPECT_EQ(wholeNumber(12.5), std::nullopt);
    EXPECT_EQ(wholeNumber(3e10), std::nullopt);
    EXPECT_EQ(wholeNumber(-3e10), std::nullopt);
    EXPECT_EQ(wholeNumber(-20.0), -20); // a layer below the normal one
    EXPECT_EQ(wholeNumber(2147483647.0), 2147483647);
    EXPECT_EQ(wholeNumber(-0.0), 0);
}

TEST(WindowReadingTest, OddBoundsAreStandardizedOrUnreadable) {
    EXPECT_EQ(windowInfoOf({1.0, 0.0, Bounds{300, 200, -100, -50}}).bounds, (Rect{200, 150, 100, 50}));
    EXPECT_EQ(windowInfoOf({1.0, 0.0, Bounds{0, 0, 0, 0}}).bounds, (Rect{0, 0, 0, 0}));
    EXPECT_EQ(windowInfoOf({1.0, 0.0, Bounds{nan, 0, 10, 10}}).bounds, std::nullopt);
    EXPECT_EQ(windowInfoOf({1.0, 0.0, Bounds{0, 0, inf, 10}}).bounds, std::nullopt);
    EXPECT_EQ(windowInfoOf({1.0, 0.0, Bounds{0, 0, 10, -inf}}).bounds, std::nullopt);
    // The rest of the entry still counts when only the bounds are odd.
    EXPECT_EQ(windowInfoOf({1.0, 0.0, Bounds{0, 0, 10, nan}}).ownerPid, 1);
}

} // namespace
