// The program going full screen or to another Space while a layer is open: the layer goes along
// and measures afresh, or, left behind by the system, closes with one sentence.
#include "layer_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlaySpaceTest : public test::LayerTest {
protected:
    int count(const std::string& line) {
        const auto lines = logged();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    const std::string closedLine = "PowerPoint moved to another Space - drawing layer closed.";
};

TEST_F(OverlaySpaceTest, TheLayerGoesAlongToTheNewSpaceAndMeasuresThere) {
    openReady(slideGeom());
    run(1500ms);
    auto* panel = factory->panel;
    panel->visible = false; // the system took the Space away from under it
    const int calls = whereCalls();
    workspace->spaceHandlers.notify();
    EXPECT_TRUE(panel->visible); // brought to the front, on the Space the user sees
    run(Overlay::afterSpaceChange + 100ms);
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_GT(whereCalls(), calls); // the slide lies elsewhere in full screen
    EXPECT_EQ(count(closedLine), 0);
    EXPECT_TRUE(notices->shown.empty());
}

TEST_F(OverlaySpaceTest, ALayerTheSystemLeftBehindClosesWithOneSentence) {
    openReady(slideGeom());
    run(500ms);
    auto* panel = factory->panel;
    panel->onSpace = false;
    workspace->spaceHandlers.notify();
    run(Overlay::afterSpaceChange / 2);
    EXPECT_TRUE(overlay->isOpen()); // the system's slide between Spaces is not over yet
    run(Overlay::afterSpaceChange);
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_TRUE(panel->cleared);
    EXPECT_EQ(count(closedLine), 1);
    ASSERT_EQ(notices->shown.size(), 1u);
    EXPECT_NE(notices->shown[0].text.find("could not follow"), std::string::npos);
    EXPECT_TRUE(workspace->spaceHandlers.empty()); // a closed layer hears no more
}

TEST_F(OverlaySpaceTest, WithAnotherProgramInFrontTheHiddenLayerIsLeftAsItIs) {
    openReady(slideGeom());
    run(500ms);
    auto* panel = factory->panel;
    workspace->bringToFront(FrontApp{"com.example.other", false});
    ASSERT_FALSE(panel->visible);
    panel->onSpace = false;
    workspace->spaceHandlers.notify();
    run(2s);
    EXPECT_FALSE(panel->visible);
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_EQ(count(closedLine), 0);
}

} // namespace
