#include "adapters/mac/notice_panel_plan.hpp"

#include <limits>

#include <gtest/gtest.h>

#include "adapters/mac/text_style.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "app/notice.hpp"

namespace scribbet::mac {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(NoticePanelPlanTest, TheNoticeNeverTakesTheKeyboardAndShowsEverywhere) {
    const auto plan = noticePanelPlan({100, 600, 232, 40}, {16, 12, 200, 16});
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->styleMask, 128u);
    EXPECT_EQ(plan->collectionBehavior, 257u);
    EXPECT_EQ(plan->material, 13);
    EXPECT_EQ(plan->state, 1);
    EXPECT_EQ(plan->blending, 0);
    EXPECT_EQ(plan->cornerRadius, 10);
    EXPECT_EQ(plan->frame, (Rect{100, 600, 232, 40}));
    EXPECT_EQ(plan->label, (Rect{16, 12, 200, 16}));
}

TEST(NoticePanelPlanTest, AFrameThatIsNotFiniteShowsNothing) {
    EXPECT_FALSE(noticePanelPlan({nan, 0, 10, 10}, {}));
    EXPECT_FALSE(noticePanelPlan({0, 0, inf, 10}, {}));
    const auto oddLabel = noticePanelPlan({0, 0, 232, 40}, {16, nan, 200, 16});
    ASSERT_TRUE(oddLabel);
    EXPECT_EQ(oddLabel->label, Rect{});
    EXPECT_EQ(noticePanelPlan({10, 50, 232, -40}, {16, 12, 200, 16})->frame, (Rect{10, 10, 232, 40}));
}

TEST(NoticePanelPlanTest, FittingSizesComeInWholePointsRoundedUp) {
    const auto a = noticeFittingSize(199.2, 15.01);
    EXPECT_EQ(a.w, 200);
    EXPECT_EQ(a.h, 16);
    const auto b = noticeFittingSize(nan, -3);
    EXPECT_EQ(b.w, 0);
    EXPECT_EQ(b.h, 0);
    EXPECT_EQ(noticeFittingSize(inf, 12).w, 0);
    // Half a point over the short width is one point wider than the short notice, not the same.
    const fake::FakeScreens none;
    EXPECT_EQ(Notice::place(noticeFittingSize(200.5, 16), {}, none).frame.w, 233);
}

TEST(TextStyleTest, TheLogIsMonospacedAndTheNoticeIsTheSystemFont) {
    EXPECT_EQ(logTextStyle(), (TextStyle{TextStyle::Font::monospacedSystem, 11, TextStyle::Weight::regular,
                                         TextStyle::Colour::label}));
    EXPECT_EQ(noticeTextStyle(),
              (TextStyle{TextStyle::Font::system, 13, TextStyle::Weight::regular, TextStyle::Colour::label}));
    EXPECT_EQ(noticeWrapWidth, 440);
}

TEST(TextStyleTest, TextsAppKitCannotTakeAreRepairedNotLost) {
    EXPECT_EQ(appKitText("12:00:00  Started.\n"), "12:00:00  Started.\n");
    EXPECT_EQ(appKitText(""), "");
    EXPECT_EQ(appKitText("a\xff" "b"), "a\xef\xbf\xbd" "b");
    EXPECT_EQ(appKitText("cut \xe2\x82"), "cut \xef\xbf\xbd\xef\xbf\xbd"); // one per byte
    EXPECT_EQ(appKitText(std::string("nul\0inside", 10)), std::string("nul\0inside", 10));
}

} // namespace
} // namespace scribbet::mac
