#include "adapters/mac/status_window_plan.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "app/status_layout.hpp"

namespace scribbet::mac {
namespace {

// The distance from an element's top edge to the top of the content.
double fromTop(const Rect& r, StatusLayout::Size content) { return content.h - r.maxY(); }

TEST(StatusWindowPlanTest, TheWindowIsTitledClosableMinimisableAndResizable) {
    const auto plan = statusWindowPlan(statusLayout(false));
    EXPECT_EQ(plan.styleMask, 15u);
    EXPECT_EQ(plan.content, (StatusLayout::Size{600, 480}));
    EXPECT_EQ(plan.minimum, (StatusLayout::Size{460, 380}));
    EXPECT_EQ(plan.log.frame, (Rect{20, 20, 560, 272}));
}

// The masks as AppKit applies them, against what the layout says of each element.
TEST(StatusWindowPlanTest, GrowingTheWindowKeepsTheTopRowAndStretchesTheLog) {
    const auto plan = statusWindowPlan(statusLayout(true));
    const StatusLayout::Size before = plan.content, after{800, 700};

    const Rect explanation = autoresized(plan.explanation.frame, plan.explanation.autoresizing, before, after);
    EXPECT_DOUBLE_EQ(fromTop(explanation, after), fromTop(plan.explanation.frame, before));
    EXPECT_DOUBLE_EQ(explanation.x, 20);
    EXPECT_DOUBLE_EQ(explanation.w, 760);
    EXPECT_DOUBLE_EQ(explanation.h, 116);

    for (const ElementPlan* button : {&plan.draw, &plan.accessibility}) {
        const Rect moved = autoresized(button->frame, button->autoresizing, before, after);
        EXPECT_DOUBLE_EQ(fromTop(moved, after), fromTop(button->frame, before));
        EXPECT_DOUBLE_EQ(moved.x, button->frame.x);
        EXPECT_DOUBLE_EQ(moved.w, button->frame.w);
        EXPECT_DOUBLE_EQ(moved.h, 32);
    }

    const Rect log = autoresized(plan.log.frame, plan.log.autoresizing, before, after);
    EXPECT_EQ(log, (Rect{20, 20, 760, 492}));
}

TEST(StatusWindowPlanTest, ShrinkingToTheMinimumLeavesNothingOverlapping) {
    const auto plan = statusWindowPlan(statusLayout(false));
    const Rect log = autoresized(plan.log.frame, plan.log.autoresizing, plan.content, plan.minimum);
    const Rect draw = autoresized(plan.draw.frame, plan.draw.autoresizing, plan.content, plan.minimum);
    const Rect text = autoresized(plan.explanation.frame, plan.explanation.autoresizing, plan.content, plan.minimum);
    EXPECT_LE(log.maxY(), draw.minY());
    EXPECT_LE(draw.maxY(), text.minY());
    EXPECT_LE(text.maxY(), plan.minimum.h);
    EXPECT_EQ(log, (Rect{20, 20, 420, 172}));
}

TEST(StatusWindowPlanTest, AutoresizingFollowsEachFlexiblePart) {
    const Rect f{10, 10, 100, 50};
    const StatusLayout::Size before{200, 100}, after{300, 160};
    EXPECT_EQ(autoresized(f, autoresizing::notSizable, before, after), f);
    EXPECT_EQ(autoresized(f, autoresizing::minXMargin, before, after), (Rect{110, 10, 100, 50}));
    EXPECT_EQ(autoresized(f, autoresizing::maxYMargin, before, after), f);
    EXPECT_EQ(autoresized(f, autoresizing::minXMargin | autoresizing::maxXMargin, before, after),
              (Rect{60, 10, 100, 50}));
    // A window made smaller than a view's stretch leaves it empty, never negative.
    EXPECT_EQ(autoresized(f, autoresizing::heightSizable, before, {200, 20}), (Rect{10, 10, 100, 0}));
}

TEST(StatusWindowPlanTest, OddLayoutsGiveAWindowAppKitCanMake) {
    StatusLayout odd = statusLayout(false);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    odd.content = {300, nan};
    odd.minimum = {-5, 380};
    odd.drawFrame = {14, 332, 200, -32};
    odd.logFrame = {nan, 0, 10, 10};
    const auto plan = statusWindowPlan(odd);
    EXPECT_EQ(plan.minimum, (StatusLayout::Size{0, 380}));
    EXPECT_EQ(plan.content, (StatusLayout::Size{300, 380}));
    EXPECT_EQ(plan.draw.frame, (Rect{14, 300, 200, 32}));
    EXPECT_EQ(plan.log.frame, Rect{});
    EXPECT_EQ(plan.log.autoresizing, autoresizing::widthSizable | autoresizing::heightSizable);
}

} // namespace
} // namespace scribbet::mac
