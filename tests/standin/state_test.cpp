// Changing the model by key, as `ctl set` and the "set" request do, and a saved state
// loaded back.
#include <gtest/gtest.h>

#include "state.hpp"
#include "standin_support.hpp"

using namespace scribbet::standin;
using namespace scribbet::standin::test;
using nlohmann::json;

TEST(StandinStateTest, CommandLineTextsSetTheView) {
    Model m = placedModel();
    const std::string error = applyValues(m, {{"window", "10, 40, 800,600"}, {"zoom", "150"}, {"scroll", "0,1"},
                                              {"split", "80"}, {"units", "pixels"}, {"delay", "never"},
                                              {"automation", "denied"}, {"addin.loaded", "false"}, {"slide", "3"}});
    ASSERT_EQ(error, "");
    EXPECT_EQ(m.window.frame, (Rect{10, 40, 800, 600}));
    EXPECT_EQ(m.window.zoom, 150);
    EXPECT_FALSE(m.window.fit);
    EXPECT_EQ(m.window.scroll, (Point{0, 1}));
    EXPECT_EQ(m.window.split, 80);
    EXPECT_EQ(m.units, Units::pixels);
    EXPECT_TRUE(m.delay.never);
    EXPECT_TRUE(m.automationDenied);
    EXPECT_FALSE(m.addin.loaded);
    EXPECT_EQ(m.currentSlide().id, 258);
}

TEST(StandinStateTest, LeavingFitKeepsTheZoomItShowed) {
    Model m = placedModel();
    ASSERT_EQ(applyValues(m, {{"fit", true}}), "");
    const double shown = m.effectiveZoom();
    ASSERT_NE(std::round(shown), 100);
    ASSERT_EQ(applyValues(m, {{"fit", "off"}}), "");
    EXPECT_EQ(m.window.zoom, std::round(shown));
    // A zoom turns Fit off, even when both come together.
    ASSERT_EQ(applyValues(m, {{"zoom", 37.4}, {"fit", true}}), "");
    EXPECT_FALSE(m.window.fit);
    EXPECT_EQ(m.window.zoom, 37);
}

TEST(StandinStateTest, OneBadValueChangesNothing) {
    Model m = placedModel();
    const Model before = m;
    const json bad[] = {
        {{"zoom", 150}, {"window", "1,2,3,4"}},       // too small a window
        {{"zoom", 150}, {"window", "1,2,3"}},         // three numbers
        {{"zoom", 9}},                                 // out of range
        {{"zoom", "fast"}},                            //
        {{"scroll", "0.5,1.5"}},                       //
        {{"slide", 4}},                                // three slides only
        {{"slides", 0}},                               //
        {{"slideSize", "960,20"}},                     //
        {{"theme", "#000000,#FFFFFF"}},                //
        {{"delay", -1}},                               //
        {{"units", "inches"}},                         //
        {{"front", "com.microsoft.Powerpoint"}, {"running", false}},
        {{"link.support", "maybe"}},                   //
        {{"screens", "[]"}},                           //
        {{"screens", "[{\"frame\": [0, 0, 100, 100], \"scale\": 9}]"}},
        {{"zoom", 150}, {"colour", "blue"}},           // unknown key
        {{"layout", json::object()}},                  // read-only
        {{"addin", {{"version", "2"}, {"loaded", "perhaps"}}}},
    };
    for (const auto& values : bad) {
        const std::string error = applyValues(m, values);
        EXPECT_FALSE(error.empty()) << values.dump();
        EXPECT_EQ(m, before) << values.dump();
    }
}

TEST(StandinStateTest, TheProgramStoppingHandsTheFrontOnAndStartingTakesItBack) {
    Model m = placedModel();
    ASSERT_EQ(applyValues(m, {{"running", false}}), "");
    EXPECT_EQ(m.front.bundle, "com.apple.finder");
    ASSERT_EQ(applyValues(m, {{"front", "org.example.editor"}}), "");
    EXPECT_EQ(m.front.bundle, "org.example.editor");
    EXPECT_GT(m.front.pid, 0);
    ASSERT_EQ(applyValues(m, {{"running", true}}), "");
    EXPECT_TRUE(m.programInFront());
}

TEST(StandinStateTest, SlidesGrowAndShrinkWithFreshIdentifiers) {
    Model m = placedModel();
    ASSERT_EQ(applyValues(m, {{"slides", 5}, {"slide", 5}}), "");
    EXPECT_EQ(m.currentSlide().id, 260);
    ASSERT_EQ(applyValues(m, {{"slides", "2"}}), "");
    EXPECT_EQ(m.currentSlide().id, 257); // the current slide went with the others
    ASSERT_EQ(applyValues(m, {{"slides", 3}}), "");
    EXPECT_EQ(m.deck.slides.back().id, 261); // identifiers are never used twice
}

TEST(StandinStateTest, ASavedStateLoadsBackToTheSameModel) {
    Model m = placedModel();
    ASSERT_EQ(applyValues(m, {{"zoom", 120}, {"scroll", "0.25,0.75"}, {"slide", 2}, {"units", "pixels"},
                              {"link.extra", "soon|Later."}, {"theme", "#010101,#020202,#030303,#040404,#050505,"
                                                                       "#060606,#070707,#080808,#090909,#0A0A0A,"
                                                                       "#0B0B0B,#0C0C0C"}}),
              "");
    run(m, "SCBT_Insert", {"M 1 2 C 3 4 5 6 7.125 8 Z M 0 0 L 9 9", "theme:7", "0.75", "#ABCDEF7F"});
    run(m, "SCBT_LinkQuery", {"upgrade"});
    const json saved = json::parse(stateJson(m).dump());

    Model fresh = Model::standard("1.2.3", 4242);
    ASSERT_EQ(loadState(fresh, saved), "");
    EXPECT_EQ(fresh, m);
    EXPECT_EQ(stateJson(fresh)["geometry"], saved["geometry"]);

    // A state with a broken shape is refused whole.
    json broken = saved;
    broken["slides"][1]["shapes"][0]["path"] = "M 1 2";
    Model other = Model::standard("1.2.3", 4242);
    const Model untouched = other;
    EXPECT_NE(loadState(other, broken), "");
    EXPECT_EQ(other, untouched);
}

TEST(StandinStateTest, TheViewIsSetByNameKeptWithTheStateAndKeepsTheWindowsPlace) {
    Model m = placedModel();
    EXPECT_EQ(stateJson(m)["view"], "normal");
    const int generation = m.ax.generation;
    for (const char* bad : {"Sorter", "slide sorter", "", "1"}) {
        EXPECT_EQ(applyValues(m, {{"view", bad}}), "Not changed: view must be normal, sorter or none.") << bad;
    }
    EXPECT_EQ(applyValues(m, {{"view", true}}), "Not changed: view must be normal, sorter or none.");
    EXPECT_EQ(m.window.view, View::normal);

    ASSERT_EQ(applyValues(m, {{"view", "none"}, {"zoom", "75"}}), "");
    EXPECT_EQ(m.window.view, View::none);
    EXPECT_EQ(m.ax.generation, generation + 1);
    ASSERT_EQ(applyValues(m, {{"view", "none"}}), "");
    EXPECT_EQ(m.ax.generation, generation + 1); // no change, nothing made anew
    const json saved = json::parse(stateJson(m).dump());
    EXPECT_EQ(saved["view"], "none");
    Model fresh = Model::standard("1.2.3", 4242);
    ASSERT_EQ(loadState(fresh, saved), "");
    EXPECT_EQ(fresh.window, m.window);

    // The window comes back where it was, at the zoom it had.
    ASSERT_EQ(applyValues(m, {{"view", "sorter"}}), "");
    ASSERT_EQ(applyValues(m, {{"view", "normal"}}), "");
    EXPECT_EQ(m.ax.generation, generation + 3);
    EXPECT_EQ(m.window.frame, placedModel().window.frame);
    EXPECT_EQ(m.window.zoom, 75);
}
