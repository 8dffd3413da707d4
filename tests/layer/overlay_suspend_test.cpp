// A layer put aside while a drawing is placed: readings and answers that were on their way
// when it was, a page that restarts meanwhile, and placings that overlap.
#include <future>

#include "layer_fixture.hpp"
#include "support/slide_editor.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlaySuspendTest : public test::PaneLayerTest {
protected:
    ~OverlaySuspendTest() override { release(); } // a failed test must not leave a queue held

    // Holds `queue` until release(): what the layer asks there waits, and its answer comes
    // back only when the test lets it.
    void hold(Queue& queue) {
        queue.async([gate = gate.get_future().share()] { gate.wait(); });
    }
    void release() {
        if (released) return;
        released = true;
        gate.set_value();
    }
    // The editor's pane on the second screen, as after dragging the program's window there.
    void paneToSecondScreen() {
        editor.pane = {1600, 150, 1200, 700};
        editor.scroll->setFrame(editor.pane);
        editor.layout->setFrame({editor.pane.x, editor.pane.y, editor.docW, editor.docH});
    }

    std::promise<void> gate;
    bool released = false;
};

TEST_F(OverlaySuspendTest, APaneReadingOnItsWayNeitherMovesASuspendedLayerNorReachesThePage) {
    openInPaneMode();
    run(1s);
    const int sent = geomCommands();
    const Rect frame = factory->panel->frame();
    const Geom before = *overlay->geom();
    hold(reader.queue());
    paneToSecondScreen();
    loop->advance(Overlay::tickInterval); // a tick asks the reader, which answers once let go
    overlay->suspend(true);
    release();
    settle();
    run(1s);
    EXPECT_FALSE(factory->panel->visible);
    EXPECT_EQ(factory->panel->frame(), frame);
    EXPECT_EQ(overlay->geom()->rect, before.rect);
    EXPECT_EQ(geomCommands(), sent);

    // Back as it was, then following again: the pane's new place is read and sent.
    overlay->suspend(false);
    EXPECT_TRUE(factory->panel->visible);
    EXPECT_EQ(geomCommands(), sent);
    run(500ms);
    EXPECT_EQ(factory->panel->frame(), screens->list[1].frame);
    EXPECT_GT(geomCommands(), sent);
}

TEST_F(OverlaySuspendTest, AnAnswerOrARealignmentWhileSuspendedIsNotSentAndTheLayerMeasuresOnceBack) {
    openReady(slideGeom());
    run(1s);
    const int sent = geomCommands();
    overlay->realign("960|540|300|200|1260|740|100|0|0|1400|880|257|0|100");
    EXPECT_EQ(geomCommands(), sent + 1); // not suspended yet: followed at once
    setWhere("OK|960|540|400|200|1360|740|100|0|0|1400|880|257|0|100");
    hold(measureQueue);
    loop->advance(400ms); // the measurement after the realignment is asked for, and waits
    overlay->suspend(true);
    release();
    settle();
    overlay->realign("960|540|500|200|1460|740|100|0|0|1400|880|257|0|100");
    run(1s);
    EXPECT_EQ(geomCommands(), sent + 1);
    EXPECT_EQ(overlay->geom()->rect.x, 300);

    overlay->suspend(false);
    EXPECT_EQ(geomCommands(), sent + 1);
    const int asked = whereCalls();
    run(Overlay::tickInterval * 2);
    EXPECT_EQ(whereCalls(), asked + 1); // measured at once, not 0.35 s after the realignment
    EXPECT_EQ(overlay->geom()->rect.x, 400);
    EXPECT_EQ(geomCommands(), sent + 2);
}

TEST_F(OverlaySuspendTest, APageThatRestartsWhileSuspendedGetsItsGeometryOnlyOnceTheLayerIsBack) {
    openReady(slideGeom());
    run(500ms);
    overlay->suspend(true);
    factory->web->crash();
    factory->web->post({{"type", "ready"}});
    const int sent = geomCommands();
    run(500ms);
    EXPECT_EQ(geomCommands(), sent);
    overlay->suspend(false);
    EXPECT_EQ(geomCommands(), sent + 1);
    EXPECT_EQ(scriptsSent().back().find("SCB.command("), 0u);
}

TEST_F(OverlaySuspendTest, OverlappingPlacingsKeepTheLayerHiddenUntilTheLastHasEnded) {
    openReady(slideGeom());
    overlay->suspend(true);
    overlay->suspend(true);
    overlay->suspend(false); // the first placing failed; the second still runs
    EXPECT_TRUE(overlay->suspended());
    EXPECT_FALSE(factory->panel->visible);
    workspace->bringToFront(FrontApp{"com.microsoft.Powerpoint", false});
    overlay->bringToFront();
    EXPECT_FALSE(factory->panel->visible);
    overlay->suspend(false);
    EXPECT_FALSE(overlay->suspended());
    EXPECT_TRUE(factory->panel->visible);
    // A release nobody asked for changes nothing, and leaves no debt for the next placing.
    overlay->suspend(false);
    overlay->suspend(true);
    EXPECT_FALSE(factory->panel->visible);
    overlay->suspend(false);
    EXPECT_TRUE(factory->panel->visible);
}

} // namespace
