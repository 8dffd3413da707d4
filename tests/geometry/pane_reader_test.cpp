#include <gtest/gtest.h>

#include <cmath>

#include "app/settings.hpp"
#include "geometry/pane_reader.hpp"
#include "adapters/fake/fake_accessibility.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "program/ppt.hpp"
#include "support/slide_editor.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using fake::FakeAXNode;

namespace {

using Editor = test::SlideEditor;

class PaneReaderTest : public test::VirtualMainTest {
protected:
    PaneReaderTest() {
        app = FakeAXNode::make("AXApplication");
        ax->apps[4242] = app;
    }

    std::shared_ptr<FakeAXNode> window(Rect frame) {
        auto w = FakeAXNode::make("AXWindow", frame);
        windows.push_back(w);
        std::vector<AXRef> list(windows.begin(), windows.end());
        app->attrs["AXWindows"] = list;
        return w;
    }
    // Nests `node` `depth` groups below `parent`.
    static void nest(const std::shared_ptr<FakeAXNode>& parent, std::shared_ptr<FakeAXNode> node, int depth) {
        auto at = parent;
        for (int i = 0; i < depth; ++i) at = at->add(FakeAXNode::make("AXGroup"));
        at->add(std::move(node));
    }

    std::shared_ptr<fake::FakeWorkspace> workspace = std::make_shared<fake::FakeWorkspace>();
    std::shared_ptr<fake::FakeAccessibility> ax = std::make_shared<fake::FakeAccessibility>();
    std::shared_ptr<FakeAXNode> app;
    std::vector<std::shared_ptr<FakeAXNode>> windows;
    PPT ppt{{std::make_shared<fake::FakeMacroTransport>(), std::make_shared<fake::FakeWindowList>(), workspace}, main,
            Settings{}.macroPrefix};
    PaneReader reader{ax, *clock, ppt};
};

TEST_F(PaneReaderTest, FindsTheSlideEditorBehindDecoysAndReportsIt) {
    auto w = window({0, 0, 1400, 900});
    Editor decoy({0, 100, 1300, 780}, 1300, 780, "Notes");
    Editor editor({200, 120, 900, 600}, 1500, 900);
    nest(w, decoy.scroll, 2);
    nest(w, editor.scroll, 6);
    const auto s = reader.read(std::nullopt);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pane, editor.pane);
    EXPECT_EQ(s->content, (Rect{200, 120, 1500, 900}));
    EXPECT_EQ(s->label, "Slide Editor 1");
    EXPECT_EQ(s->bars.size(), 2u);
    EXPECT_EQ(s->window, (Rect{0, 0, 1400, 900}));
    EXPECT_FALSE(s->slide); // PowerPoint's kind: the slide is only centred in the document
    EXPECT_EQ(ax->timeouts[editor.hbar.get()], 0.25);
    EXPECT_EQ(ax->timeouts[app.get()], 0.25);
}

TEST_F(PaneReaderTest, WithoutALabelTheLargestScrollAreaWinsAndTiesKeepTheFirst) {
    auto w = window({0, 0, 1400, 900});
    Editor small({0, 0, 300, 300}, 300, 300, "Other");
    Editor first({10, 10, 800, 500}, 800, 500, "Other");
    Editor same({20, 20, 500, 800}, 500, 800, "Other");
    nest(w, small.scroll, 1);
    nest(w, first.scroll, 1);
    nest(w, same.scroll, 1);
    const auto s = reader.read(std::nullopt);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pane, first.pane);
}

TEST_F(PaneReaderTest, AnEditorDeeperThanFourteenLevelsIsNotFound) {
    auto w = window({0, 0, 1400, 900});
    Editor deep({200, 120, 900, 600}, 900, 600);
    nest(w, deep.scroll, 14); // the scroll area sits at depth 15
    EXPECT_FALSE(reader.read(std::nullopt));
    auto w2 = window({0, 0, 1400, 900});
    Editor reachable({200, 120, 900, 600}, 900, 600);
    nest(w2, reachable.scroll, 13); // depth 14 is still walked
    loop->advance(1s);
    EXPECT_TRUE(reader.read(std::nullopt));
}

TEST_F(PaneReaderTest, WindowsNearTheHintComeFirstThenTheFocusedOne) {
    auto far = window({500, 500, 1000, 800});
    auto near = window({0, 0, 1400, 900});
    Editor a({600, 600, 700, 400}, 700, 400);
    Editor b({100, 100, 900, 600}, 900, 600);
    nest(far, a.scroll, 1);
    nest(near, b.scroll, 1);
    app->attrs["AXFocusedWindow"] = AXRef(far);
    auto s = reader.read(Rect{3, 2, 1405, 890});
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pane, b.pane);

    PaneReader other(ax, *clock, ppt);
    s = other.read(Rect{3000, 3000, 10, 10}); // near neither: the focused window first
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pane, a.pane);
}

TEST_F(PaneReaderTest, SearchesAreThrottledToOneEveryQuarterSecond) {
    window({0, 0, 1400, 900}); // nothing to find
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(ax->searches, 1);
    loop->advance(250ms);
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(ax->searches, 1);
    loop->advance(1ms);
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(ax->searches, 2);
}

TEST_F(PaneReaderTest, StaleReferencesAreFoundAgainAfterTheWindowMoved) {
    auto w = window({0, 0, 1400, 900});
    Editor e({200, 120, 900, 600}, 900, 600);
    nest(w, e.scroll, 3);
    ASSERT_TRUE(reader.read(Rect{0, 0, 1400, 900}));

    // The program rebuilt its window elsewhere: the old elements are dead.
    w->alive = false;
    e.scroll->alive = false;
    windows.clear();
    auto moved = window({300, 200, 1400, 900});
    Editor e2({500, 320, 900, 600}, 900, 600);
    nest(moved, e2.scroll, 3);
    EXPECT_FALSE(reader.read(Rect{300, 200, 1400, 900})); // within the throttle
    loop->advance(300ms);
    const auto s = reader.read(Rect{300, 200, 1400, 900});
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pane, e2.pane);
}

TEST_F(PaneReaderTest, NothingWithoutTrustOrWithoutTheProgram) {
    auto w = window({0, 0, 1400, 900});
    Editor e({200, 120, 900, 600}, 900, 600);
    nest(w, e.scroll, 1);
    ax->isTrusted = false;
    EXPECT_FALSE(reader.read(std::nullopt));
    ax->isTrusted = true;
    workspace->setRunning(std::nullopt);
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(ax->searches, 0);
}

TEST_F(PaneReaderTest, ScrollThenRestoreComesBackWithinThreeQuartersOfAPoint) {
    auto w = window({0, 0, 1400, 900});
    Editor e({200, 120, 900, 600}, 2000, 1200);
    e.skew = 1.07; // the program's bars don't map quite linearly
    nest(w, e.scroll, 2);
    const auto saved = reader.read(std::nullopt);
    ASSERT_TRUE(saved);

    ASSERT_TRUE(reader.scroll({200 - 500, 120 - 300}));
    auto now = reader.read(std::nullopt);
    ASSERT_TRUE(now);
    EXPECT_NEAR(now->content.x, -300, 0.75);
    EXPECT_NEAR(now->content.y, -180, 0.75);

    reader.restore(*saved);
    now = reader.read(std::nullopt);
    EXPECT_NEAR(now->content.x, saved->content.x, 0.75);
    EXPECT_NEAR(now->content.y, saved->content.y, 0.75);
}

TEST_F(PaneReaderTest, RestoreLeavesTheViewAloneAfterAZoomOrAPaneChange) {
    auto w = window({0, 0, 1400, 900});
    Editor e({200, 120, 900, 600}, 2000, 1200);
    nest(w, e.scroll, 2);
    auto saved = reader.read(std::nullopt);
    ASSERT_TRUE(reader.scroll({-100, -100}));
    const int sets = ax->sets;
    auto zoomed = *saved;
    zoomed.content.w += 1; // the user zoomed meanwhile
    reader.restore(zoomed);
    auto moved = *saved;
    moved.pane.x += 1;
    reader.restore(moved);
    EXPECT_EQ(ax->sets, sets);
    reader.restore(*saved);
    EXPECT_GT(ax->sets, sets);
}

TEST_F(PaneReaderTest, RefreshNudgesEachBarAndPutsItBack) {
    auto w = window({0, 0, 1400, 900});
    Editor e({200, 120, 900, 600}, 2000, 1200);
    nest(w, e.scroll, 2);
    ASSERT_TRUE(reader.read(std::nullopt));
    e.hbar->attrs["AXValue"] = 0.7;
    std::vector<double> seen;
    e.hbar->onSet = [&](double v) { seen.push_back(v); };
    const Instant before = clock->now();
    reader.refresh();
    EXPECT_EQ(seen, (std::vector<double>{0.7 - 0.00001, 0.7}));
    EXPECT_EQ(clock->now() - before, 30ms);
}

} // namespace

// A program that shows the slide itself inside the document: its frame is the slide's place at
// any zoom, also below Fit, where a document no larger than the pane tells no scale.
TEST_F(PaneReaderTest, TheSlidesOwnFrameWinsOverTheDocumentsMargins) {
    auto w = window({0, 0, 1400, 900});
    Editor editor({200, 120, 900, 600}, 700, 420);
    auto slide = editor.layout->add(FakeAXNode::make("AXGroup", Rect{230.5, 161, 640, 360}));
    auto decoy = editor.layout->add(FakeAXNode::make("AXGroup", Rect{0, 0, 10, 10}));
    decoy->attrs["AXDescription"] = "Slide Sorter";
    slide->attrs["AXDescription"] = "Slide";
    nest(w, editor.scroll, 3);
    auto s = reader.read(std::nullopt);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->slide);
    EXPECT_EQ(*s->slide, (Rect{230.5, 161, 640, 360}));
    EXPECT_EQ(s->scaleFromContent(960, 540), 640.0 / 960);
    EXPECT_EQ(s->slideRect(960, 540, 2.0), (Rect{230.5, 161, 640, 360}));

    slide->setFrame({100, 50, 1920, 1080}); // zoomed in: the slide's frame moves with it at once
    s = reader.read(std::nullopt);
    ASSERT_TRUE(s && s->slide);
    EXPECT_EQ(s->scaleFromContent(960, 540), 2.0);
}
