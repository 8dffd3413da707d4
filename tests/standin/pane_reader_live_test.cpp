// Scribbet's pane reader over its real Linux adapter, against a stand-in reached only
// through its socket: served from this process, and as the real program. What the reader
// measures must be what the stand-in shows.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/geom.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "live_standin.hpp"
#include "adapters/linux/standin_adapters.hpp"
#include "program/ppt.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;
using standin::test::LiveStandin;
using standin::test::Served;

namespace {

Rect rectFrom(const json& r) { return {r[0].get<double>(), r[1].get<double>(), r[2].get<double>(), r[3].get<double>()}; }

class StandinPaneReaderTest : public test::VirtualMainTest, public ::testing::WithParamInterface<Served> {
protected:
    void SetUp() override {
        ASSERT_TRUE(standin.answering());
        // Zoomed in and scrolled off the middle, so that every number means something.
        change({{"window", "100,50,1400,900"}, {"zoom", 150}, {"scroll", "0.3,0.7"}});
    }

    void change(const json& values) { ASSERT_EQ(standin.set(values), "") << values.dump(); }
    json layout() { return standin.state()["layout"]; }
    int searches() { return standin.state()["ax"]["searches"].get<int>(); }
    // Past the reader's throttle, on the test's virtual clock.
    void later() { clock->set(clock->now() + 300ms); }

    // The reader's measurement against the stand-in's own layout, number for number.
    void expectMeasures(const std::optional<PaneState>& s) {
        ASSERT_TRUE(s);
        const json l = layout();
        EXPECT_EQ(s->pane, rectFrom(l["pane"]));
        EXPECT_EQ(s->content, rectFrom(l["document"]));
        EXPECT_EQ(s->bars, (std::vector<Rect>{rectFrom(l["horizontalBar"]), rectFrom(l["verticalBar"])}));
        EXPECT_EQ(s->window, rectFrom(l["window"]));
        EXPECT_EQ(s->label, "Slide Editor Slide " + std::to_string(standin.state()["slide"].get<int>()));
    }

    std::filesystem::path socket = dir / "standin.sock";
    standin::test::SocketEnv env{socket};
    LiveStandin standin{GetParam(), socket, dir.path()};
    std::shared_ptr<linuxhost::StandinAccessibility> ax = std::make_shared<linuxhost::StandinAccessibility>();
    PPT ppt{{nullptr, nullptr, std::make_shared<linuxhost::StandinWorkspace>(main)}, main, "SCBT_Pen."};
    MemoryPreferences prefs;
    AXAccess access{{ax, prefs, nullptr, true, "?"}};
    PaneReader reader{ax, main.clock(), ppt};
};

TEST_P(StandinPaneReaderTest, FindsTheSlideEditorPastTheDecoysAndMeasuresItExactly) {
    // A low editor, so that the ribbon's scroll area is the larger one, and the palette in
    // front of the document window.
    change({{"split", 10}});
    expectMeasures(reader.read(std::nullopt));
    reader.forget();
    later();
    expectMeasures(reader.read(rectFrom(layout()["window"])));

    // Another slide changes only the description.
    change({{"slide", 3}});
    expectMeasures(reader.read(std::nullopt));

    // Without the description the largest scroll area stands in, which here is a decoy.
    change({{"ax.editor", "unlabelled"}});
    reader.forget();
    later();
    const auto fallback = reader.read(std::nullopt);
    ASSERT_TRUE(fallback);
    EXPECT_NE(fallback->pane, rectFrom(layout()["pane"]));
    change({{"split", 100}});
    reader.forget();
    later();
    const auto largest = reader.read(std::nullopt);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->pane, rectFrom(layout()["pane"]));
    EXPECT_EQ(largest->label, "");
}

TEST_P(StandinPaneReaderTest, SearchesAtMostOnceAQuarterSecondAndNotPast14Levels) {
    change({{"ax.depth", 15}});
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(searches(), 1);
    EXPECT_FALSE(reader.read(std::nullopt));
    clock->set(clock->now() + 250ms);
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(searches(), 1);
    clock->set(clock->now() + 1ms);
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(searches(), 2);

    change({{"ax.depth", 14}});
    later();
    expectMeasures(reader.read(std::nullopt));
    // Found references are used again without a search.
    expectMeasures(reader.read(std::nullopt));
    EXPECT_EQ(searches(), 3);
}

TEST_P(StandinPaneReaderTest, StaleReferencesAreFoundAgainAfterTheWindowMoved) {
    expectMeasures(reader.read(rectFrom(layout()["window"])));
    ASSERT_EQ(searches(), 1);

    change({{"window", "1600,80,1400,900"}}); // onto the 1x screen; the window is made anew
    const Rect moved{1600, 80, 1400, 900};
    EXPECT_FALSE(reader.read(moved)); // stale, and the last search is too recent
    EXPECT_EQ(searches(), 1);
    later();
    expectMeasures(reader.read(moved));
    EXPECT_EQ(searches(), 2);
    expectMeasures(reader.read(moved));
    EXPECT_EQ(searches(), 2);

    // Made anew in place: found again without a hint as well.
    change({{"ax.rebuild", true}});
    later();
    expectMeasures(reader.read(std::nullopt));
    EXPECT_EQ(searches(), 3);
}

TEST_P(StandinPaneReaderTest, ScrollThenRestoreComesBackWithinThreeQuartersOfAPoint) {
    const auto saved = reader.read(std::nullopt);
    ASSERT_TRUE(saved);
    const AXPoint to{saved->pane.x - 100, saved->pane.y - 50};
    ASSERT_TRUE(reader.scroll(to));
    Rect doc = rectFrom(layout()["document"]);
    EXPECT_LT(std::abs(doc.x - to.x), 0.75);
    EXPECT_LT(std::abs(doc.y - to.y), 0.75);
    expectMeasures(reader.read(std::nullopt));

    // A refresh nudges the bars and puts them back exactly.
    const json scroll = standin.state()["scroll"];
    reader.refresh();
    EXPECT_EQ(standin.state()["scroll"], scroll);

    reader.restore(*saved);
    doc = rectFrom(layout()["document"]);
    EXPECT_LT(std::abs(doc.x - saved->content.x), 0.75);
    EXPECT_LT(std::abs(doc.y - saved->content.y), 0.75);

    // After a zoom the saved position means something else: it is left alone.
    ASSERT_TRUE(reader.scroll(to));
    change({{"zoom", 160}});
    const json zoomed = standin.state()["scroll"];
    reader.restore(*saved);
    EXPECT_EQ(standin.state()["scroll"], zoomed);

    // At Fit nothing scrolls.
    change({{"fit", true}});
    EXPECT_FALSE(reader.scroll(to));
}

TEST_P(StandinPaneReaderTest, AZoomChangesTheDocumentTheReaderReports) {
    const auto at150 = reader.read(std::nullopt);
    ASSERT_TRUE(at150);
    EXPECT_EQ(at150->content.w, 960 * 1.5 + 36);
    EXPECT_EQ(at150->scaleFromContent(960, 540), 1.5);

    change({{"zoom", 200}});
    const auto at200 = reader.read(std::nullopt);
    expectMeasures(at200);
    EXPECT_EQ(at200->content.w, 1956);
    EXPECT_EQ(at200->content.h, 1116);
    EXPECT_EQ(at200->pane, at150->pane);

    change({{"fit", true}});
    const auto fit = reader.read(std::nullopt);
    expectMeasures(fit);
    EXPECT_FALSE(fit->scaleFromContent(960, 540));
    EXPECT_EQ(searches(), 1);
}

TEST_P(StandinPaneReaderTest, TheLinedSlideIsWhereTheStandInDrawsItOnEitherScreen) {
    change({{"units", "pixels"}});
    for (const Rect window : {Rect{100, 50, 1400, 900}, Rect{1600, 60, 1400, 900}}) { // the 2x, then the 1x screen
        change({{"window", json::array({window.x, window.y, window.w, window.h})}});
        later();
        const auto pane = reader.read(window);
        ASSERT_TRUE(pane);
        const json state = standin.state();
        const auto geom = Geom::from(state["geometry"].get<std::string>(), {2, 1}, window);
        ASSERT_TRUE(geom) << state["geometry"];
        const Rect lined = geom->lined(*pane).rect, drawn = rectFrom(state["layout"]["slide"]);
        EXPECT_LT(std::abs(lined.x - drawn.x), 0.5);
        EXPECT_LT(std::abs(lined.y - drawn.y), 0.5);
        EXPECT_LT(std::abs(lined.w - drawn.w), 0.5);
        EXPECT_LT(std::abs(lined.h - drawn.h), 0.5);
    }
}

TEST_P(StandinPaneReaderTest, WithoutPermissionOrProgramNothingIsReadOrSearched) {
    change({{"ax.trusted", false}});
    EXPECT_FALSE(access.trusted());
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_EQ(searches(), 0);
    access.prompt();
    EXPECT_EQ(standin.state()["ax"]["prompts"], 1);

    change({{"ax.trusted", true}});
    expectMeasures(reader.read(std::nullopt));
    change({{"running", false}});
    EXPECT_FALSE(reader.read(std::nullopt));
    change({{"running", true}});
    later();
    expectMeasures(reader.read(std::nullopt));
    EXPECT_EQ(searches(), 2);
}

TEST_P(StandinPaneReaderTest, AHungProgramGivesNoneWithinTheTimeOuts) {
    expectMeasures(reader.read(std::nullopt));
    change({{"ax.delay", "never"}});
    // The kept references: each of the few questions about their frames times out.
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    // A search whose first questions time out.
    reader.forget();
    later();
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(reader.read(std::nullopt));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(searches(), 2);

    change({{"ax.delay", 0.01}}); // slow, but well within the reader's 0.25 s
    later();
    expectMeasures(reader.read(std::nullopt));
}

// The slide sorter has no slide editor: what the reader falls back to is not one (it is
// the sorter's grid, the largest scroll area), and without a window there is nothing at all.
TEST_P(StandinPaneReaderTest, TheSlideSorterGivesNoSlideEditorAndNoWindowGivesNothing) {
    expectMeasures(reader.read(std::nullopt));
    change({{"view", "sorter"}});
    later();
    const auto sorter = reader.read(std::nullopt);
    ASSERT_TRUE(sorter);
    EXPECT_FALSE(sorter->label.starts_with("Slide Editor"));
    EXPECT_EQ(sorter->label, "Slide Sorter");
    EXPECT_NE(sorter->pane, rectFrom(layout()["pane"]));
    EXPECT_TRUE(sorter->bars.empty());

    change({{"view", "none"}});
    later();
    EXPECT_FALSE(reader.read(std::nullopt));
    later();
    EXPECT_FALSE(reader.read(rectFrom(layout()["window"])));

    change({{"view", "normal"}});
    later();
    expectMeasures(reader.read(std::nullopt));
}

INSTANTIATE_TEST_SUITE_P(Served, StandinPaneReaderTest, ::testing::Values(Served::inProcess, Served::asProgram),
                         standin::test::servedName);

} // namespace
