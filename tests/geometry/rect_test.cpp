// Which points a rectangle holds: each edge belongs to exactly one of two touching rectangles.
#include <gtest/gtest.h>

#include "base/rect.hpp"

namespace scribbet {
namespace {

TEST(RectPoints, TheLeftAndTopEdgesAreInsideTheRightAndBottomOnesAreNot) {
    const Rect r{10, 20, 100, 50};
    EXPECT_TRUE(r.containsPoint(10, 20));
    EXPECT_TRUE(r.containsPoint(109.999, 69.999));
    EXPECT_FALSE(r.containsPoint(110, 30));
    EXPECT_FALSE(r.containsPoint(50, 70));
    EXPECT_FALSE(r.containsPoint(9.999, 30));
    EXPECT_FALSE(r.containsPoint(50, 19.999));
    // The right neighbour takes the shared edge.
    EXPECT_TRUE((Rect{110, 20, 100, 50}).containsPoint(110, 30));
    // A rectangle given with negative sizes holds the same points as its standardized self.
    const Rect flipped{110, 70, -100, -50};
    for (const auto& [x, y] : {std::pair{10.0, 20.0}, {110.0, 30.0}, {50.0, 70.0}, {60.0, 40.0}}) {
        EXPECT_EQ(flipped.containsPoint(x, y), r.containsPoint(x, y)) << x << "," << y;
    }
    EXPECT_FALSE((Rect{5, 5, 0, 0}).containsPoint(5, 5));
}

TEST(RectPoints, WithYGoingUpTheTopEdgeIsTheOneInside) {
    const Rect r{0, 0, 1920, 1080};
    EXPECT_TRUE(r.containsPointYUp(0, 1080));
    EXPECT_FALSE(r.containsPointYUp(0, 0));
    EXPECT_FALSE(r.containsPointYUp(1920, 500));
    // Stacked screens: the line between them is the lower screen's top edge.
    const Rect above{0, 1080, 1920, 1080};
    EXPECT_FALSE(above.containsPointYUp(100, 1080));
    EXPECT_TRUE(above.containsPointYUp(100, 1080.5));
}

} // namespace
} // namespace scribbet
