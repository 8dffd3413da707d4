// A layer must never hide the program behind an opaque window: without see-through windows
// it does not open, and it closes when they go away. And the ways making a layer can fail.
#include "app/notice.hpp"
#include "layer_fixture.hpp"
#include "adapters/fake/fake_status.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlaySeeThroughTest : public test::LayerTest {
protected:
    int count(const std::string& line) {
        const auto lines = logged();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }

    const std::string refused =
        "The screen cannot show see-through windows, so the drawing layer would hide PowerPoint. Start a compositing "
        "manager (or turn on your desktop's compositing), then try again.";
};

TEST_F(OverlaySeeThroughTest, WithoutSeeThroughWindowsNoLayerOpensAndTheUserIsTold) {
    openReady(slideGeom());
    auto* earlier = factory->panel;
    factory->seeThrough = false;
    overlay->open(slideGeom(), std::nullopt, "pen");
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_TRUE(earlier->cleared); // the layer before goes all the same
    EXPECT_EQ(factory->panels.size(), 1u); // no window was made
    EXPECT_EQ(count("Could not open the drawing layer: " + refused), 1);
    ASSERT_EQ(notices->shown.size(), 1u);
    EXPECT_EQ(notices->shown[0].text, refused);
    run(2s);
    EXPECT_EQ(whereCalls(), 0);

    factory->seeThrough = true; // a compositing manager started
    overlay->open(slideGeom(), std::nullopt, "pen");
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_EQ(notices->shown.size(), 1u);
}

TEST_F(OverlaySeeThroughTest, LosingSeeThroughWindowsClosesTheLayerOnceWithOneLine) {
    openReady(slideGeom());
    run(500ms);
    auto* panel = factory->panel;
    ASSERT_TRUE(panel->visible);
    factory->seeThrough = false;
    run(Overlay::tickInterval);
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_FALSE(panel->visible);
    EXPECT_TRUE(panel->cleared);
    EXPECT_EQ(count("The screen stopped showing see-through windows - drawing layer closed."), 1);
    EXPECT_EQ(logged().back(), "Drawing layer closed.");
    ASSERT_EQ(notices->shown.size(), 1u);
    EXPECT_NE(notices->shown[0].text.find("stopped showing see-through windows"), std::string::npos);
    run(1s);
    EXPECT_EQ(count("The screen stopped showing see-through windows - drawing layer closed."), 1);
}

TEST_F(OverlaySeeThroughTest, AHiddenOrSuspendedLayerIsClosedAsWell) {
    openReady(slideGeom());
    overlay->suspend(true);
    factory->seeThrough = false;
    run(Overlay::tickInterval);
    EXPECT_FALSE(overlay->isOpen());
}

TEST_F(OverlaySeeThroughTest, AWindowOrWebViewThatCannotBeMadeHasItsOwnSentence) {
    factory->failPanel = true;
    overlay->open(slideGeom(), std::nullopt, "");
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(logged().back(), "Could not make the drawing layer's window.");

    factory->failPanel = false;
    factory->failWebView = true;
    overlay->open(slideGeom(), std::nullopt, "");
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(logged().back(), "Could not make the drawing layer's web view.");
    ASSERT_EQ(factory->panels.size(), 1u);
    EXPECT_TRUE(factory->panels[0]->cleared); // the window made for it goes
    EXPECT_EQ(count("No screen to draw on."), 0);
    EXPECT_TRUE(notices->shown.empty());
}

} // namespace
