#include <thread>

#include "layer_fixture.hpp"
#include "support/slide_editor.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlayFollowTest : public test::PaneLayerTest {
protected:
};

TEST_F(OverlayFollowTest, PaneModeAsksTheAddinAboutOnceASecond) {
    openInPaneMode();
    ASSERT_TRUE(overlay->host());
    run(300ms);
    const int first = whereCalls(); // the measurement 0.35 s after opening
    EXPECT_EQ(first, 0);
    run(100ms);
    EXPECT_EQ(whereCalls(), 1);
    run(900ms); // 0.95 s after the answer
    EXPECT_EQ(whereCalls(), 1);
    run(100ms);
    EXPECT_EQ(whereCalls(), 2);
    run(3s);
    EXPECT_GE(whereCalls(), 4);
    EXPECT_LE(whereCalls(), 5);
}

TEST_F(OverlayFollowTest, ZoomInPaneModeRelinesAtOnceAndMeasuresSoonAfter) {
    openInPaneMode();
    run(1s);
    const int calls = whereCalls();
    editor.zoomTo(1956, 1116); // 200 %: (1956 - 36) / 960
    run(Overlay::tickInterval * 2);
    EXPECT_NEAR(overlay->geom()->rect.w, 1920, 0.01);
    EXPECT_EQ(overlay->geom()->note, Geom::tracked);
    EXPECT_EQ(whereCalls(), calls);
    run(200ms);
    EXPECT_EQ(whereCalls(), calls + 1);
}

// A program whose interface tells of every change to its view is looked at when it tells, and
// otherwise seldom: a layer left alone wakes twenty times a second, not sixty.
TEST_F(OverlayFollowTest, WhenTheProgramTellsOfChangesTheLayerFollowsAtOnceAndLooksSeldomOtherwise) {
    ax->tells = true;
    openInPaneMode();
    run(1s);
    ASSERT_NEAR(overlay->geom()->rect.w, 960, 0.01);
    ASSERT_EQ(ax->changes.size(), 1u);
    editor.zoomTo(1956, 1116); // 200 %, untold
    run(Overlay::tickInterval * 2);
    EXPECT_NEAR(overlay->geom()->rect.w, 960, 0.01);
    run(Overlay::toldTickInterval);
    EXPECT_NEAR(overlay->geom()->rect.w, 1920, 0.01); // the next look finds it all the same

    run(Overlay::toldTickInterval / 2); // half-way to the next look
    editor.zoomTo(2916, 1656);           // 300 %, told
    ax->changes.notify();
    run(1ms);
    EXPECT_NEAR(overlay->geom()->rect.w, 2880, 0.01);

    // Closed, the layer hears nothing more.
    overlay->close(false);
    EXPECT_EQ(ax->changes.size(), 0u);
}

TEST_F(OverlayFollowTest, PaneLabelChangesToAnotherNameMeasureAtOnce) {
    openInPaneMode();
    run(1200ms);
    const int calls = whereCalls();
    editor.layout->attrs["AXDescription"] = std::string("");
    run(Overlay::tickInterval * 3);
    EXPECT_EQ(whereCalls(), calls);
    editor.layout->attrs["AXDescription"] = std::string("Slide Editor 2");
    run(Overlay::tickInterval * 3);
    EXPECT_EQ(whereCalls(), calls + 1);
}

TEST_F(OverlayFollowTest, ScrollingInPaneModeIsFollowed) {
    openInPaneMode();
    editor.docW = 2400;
    editor.zoomTo(2400, 1400);
    run(1s);
    editor.hbar->attrs["AXValue"] = 0.5;
    editor.move(0.5, std::nullopt);
    run(Overlay::tickInterval * 3);
    const Rect content = editor.layout->frame();
    EXPECT_NEAR(overlay->geom()->rect.midX(), content.midX(), 0.5);
}

TEST_F(OverlayFollowTest, OtherSlideIsAnnouncedOnceEachWay) {
    openReady(slideGeom());
    setWhere("OK|960|540|100|200|1060|740|100|0|0|1400|880|258|0|100");
    run(500ms);
    run(1s);
    workspace->bringToFront(FrontApp{"com.microsoft.Powerpoint", false}); // a trigger: measure again
    run(500ms);
    EXPECT_EQ(commandsWith(R"("op":"slide")"), 1);
    EXPECT_EQ(commandsWith(R"({"op":"slide","other":true})"), 1);
    setWhere("OK|960|540|100|200|1060|740|100|0|0|1400|880|0|0|100"); // no id: nothing changes
    overlay->realign("960|540|100|200|1060|740|100|0|0|1400|880|0|0|100");
    EXPECT_EQ(commandsWith(R"("op":"slide")"), 1);
    overlay->realign("960|540|100|200|1060|740|100|0|0|1400|880|257|0|100");
    EXPECT_EQ(commandsWith(R"({"op":"slide","other":false})"), 1);
    const auto lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "PowerPoint shows another slide now - Place puts the drawing back on its own slide."),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Back on the drawing's slide."), 1);
}

TEST_F(OverlayFollowTest, TheSameSlideIdInAnotherPresentationIsAnotherSlide) {
    auto g = slideGeom();
    g.presentation = "Talk.pptx";
    openReady(g);
    const std::string where = "960|540|100|200|1060|740|100|0|0|1400|880|257|0|100|";
    overlay->realign(where + "Other.pptx");
    EXPECT_EQ(commandsWith(R"({"op":"slide","other":true})"), 1);
    EXPECT_EQ(overlay->presentation(), "Talk.pptx"); // the drawing still belongs to its own
    overlay->realign(where); // an add-in that names none: nothing to tell
    EXPECT_EQ(commandsWith(R"("op":"slide")"), 1);
    overlay->realign(where + "Talk.pptx");
    EXPECT_EQ(commandsWith(R"({"op":"slide","other":false})"), 1);
}

TEST_F(OverlayFollowTest, ALayerOfAnUnknownSlideNeverAnnouncesAnother) {
    auto g = slideGeom();
    g.slideID = 0;
    openReady(g);
    overlay->realign("960|540|100|200|1060|740|100|0|0|1400|880|999|0|100");
    EXPECT_EQ(commandsWith(R"("op":"slide")"), 0);
}

TEST_F(OverlayFollowTest, ZoomedPastFitWithoutAccessibilityIsNotedOnce) {
    openReady(slideGeom());
    const std::string zoomed = "960|540|-500|-300|1420|780|200|0|0|1400|880|257|0|100";
    const std::string fitted = "960|540|100|200|1060|740|100|0|0|1400|880|257|1|100";
    overlay->realign(zoomed);
    overlay->realign(zoomed);
    EXPECT_EQ(commandsWith("PowerPoint is zoomed past Fit"), 1);
    overlay->realign(fitted);
    overlay->realign(zoomed);
    EXPECT_EQ(commandsWith("PowerPoint is zoomed past Fit"), 2);
    EXPECT_NEAR(overlay->geom()->rect.w, 1920, 0.01);
}

TEST_F(OverlayFollowTest, RevokedAccessibilityFallsBackAndGrantingItComesBack) {
    openInPaneMode();
    run(100ms);
    ax->isTrusted = false;
    run(100ms);
    EXPECT_FALSE(overlay->host());
    EXPECT_EQ(commandsWith(R"({"on":false,"op":"host"})"), 1);
    auto lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Accessibility is no longer allowed - the layer is measured by the add-in from now on."),
              1);

    ax->isTrusted = true;
    run(2100ms);
    EXPECT_TRUE(overlay->host());
    lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Accessibility allowed - the layer follows PowerPoint's view now."),
              1);
    EXPECT_EQ(commandsWith("Accessibility is on: the layer now follows PowerPoint's zoom and scrolling."), 1);
}

TEST_F(OverlayFollowTest, AWindowMoveInAddinModeIsMeasured300msAfterItWasSeen) {
    openReady(slideGeom());
    run(1s);
    const int calls = whereCalls();
    windows->windows = std::vector<WindowInfo>{{4242, 0, Rect{50, 20, 1400, 880}}};
    run(299ms); // never measured before 0.3 s have passed
    EXPECT_EQ(whereCalls(), calls);
    run(550ms); // seen at a window check at most 0.5 s after the move, measured 0.3 s later
    EXPECT_EQ(whereCalls(), calls + 1);
}

TEST_F(OverlayFollowTest, ClicksInTheProgramTriggerAMeasurementOnlyInAddinMode) {
    openReady(slideGeom());
    run(1s);
    int calls = whereCalls();
    workspace->front = FrontApp{"com.apple.Safari", false};
    input->clickElsewhere();
    run(400ms);
    EXPECT_EQ(whereCalls(), calls);
    workspace->front = FrontApp{"com.microsoft.Powerpoint", false};
    input->clickElsewhere();
    run(299ms);
    EXPECT_EQ(whereCalls(), calls);
    run(20ms);
    EXPECT_EQ(whereCalls(), calls + 1);
}

TEST_F(OverlayFollowTest, MovingThePaneToAnotherScreenMovesTheLayer) {
    openInPaneMode();
    run(100ms);
    const int sent = geomCommands();
    editor.pane = {1600, 150, 1200, 700};
    editor.scroll->setFrame(editor.pane);
    editor.layout->setFrame({editor.pane.x, editor.pane.y, editor.docW, editor.docH});
    run(300ms); // the window moved: found again after the throttle
    EXPECT_EQ(factory->panel->frame(), screens->list[1].frame);
    EXPECT_EQ(overlay->origin().x, 1440);
    EXPECT_GT(geomCommands(), sent);
}

TEST_F(OverlayFollowTest, AThirdProgramHidesTheLayerAndTheProgramBringsItBack) {
    openReady(slideGeom());
    run(1s);
    workspace->bringToFront(FrontApp{"com.apple.Safari", false});
    EXPECT_FALSE(factory->panel->visible);
    const int calls = whereCalls();
    run(1s);
    EXPECT_EQ(whereCalls(), calls); // hidden: no following
    workspace->bringToFront(FrontApp{"com.microsoft.Powerpoint", false});
    EXPECT_TRUE(factory->panel->visible);
    run(150ms);
    EXPECT_EQ(whereCalls(), calls);
    run(100ms);
    EXPECT_EQ(whereCalls(), calls + 1);
}

TEST_F(OverlayFollowTest, SuspendHidesUntilPlacingIsDone) {
    openReady(slideGeom());
    overlay->suspend(true);
    EXPECT_FALSE(factory->panel->visible);
    workspace->bringToFront(FrontApp{"com.microsoft.Powerpoint", false});
    EXPECT_FALSE(factory->panel->visible); // stays hidden while suspended
    overlay->bringToFront();
    EXPECT_FALSE(factory->panel->visible);
    overlay->suspend(false);
    EXPECT_TRUE(factory->panel->visible);
    EXPECT_EQ(overlay->remeasureAt(), clock->now());
}

TEST_F(OverlayFollowTest, MeasurementsArrivingAfterCloseAreDropped) {
    openReady(slideGeom());
    transport->respond = [](const auto&) {
        std::this_thread::sleep_for(20ms);
        return fake::FakeMacroTransport::direct("OK|960|540|0|0|960|540");
    };
    run(350ms); // the measurement is on its way
    overlay->close();
    settle();
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_FALSE(overlay->geom());
}

} // namespace
