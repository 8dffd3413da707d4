#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "geometry/geom.hpp"
#include "geometry/pane_state.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "program/ppt.hpp"
#include "runtime/queues.hpp"

using namespace scribbet;

namespace {

const std::optional<Rect> noWindow;
const std::optional<Rect> window = Rect{0, 0, 1400, 900};

TEST(GeomTest, PointsAndPixelsOfA2xScreenGiveTheSameRectangle) {
    auto g = Geom::from("960|540|100|200|1060|740|100", {2.0}, window);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->rect, (Rect{100, 200, 960, 540}));
    EXPECT_EQ(g->note, Geom::reported);

    g = Geom::from("960,540,200,400,2120,1480,100", {2.0}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->rect, (Rect{100, 200, 960, 540}));
    EXPECT_EQ(g->note, Geom::converted);

    g = Geom::from("960|540|300|600|3180|2220|100", {}, noWindow); // k = 3
    ASSERT_TRUE(g);
    EXPECT_EQ(g->rect, (Rect{100, 200, 960, 540}));
}

TEST(GeomTest, ReversedCornersAreStandardized) {
    auto g = Geom::from("960|540|1060|740|100|200", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->rect, (Rect{100, 200, 960, 540}));
}

TEST(GeomTest, WithoutAZoomTheWindowDecidesBetweenPointsAndPixels) {
    // Fits the window as it stands: points.
    auto g = Geom::from("960|540|100|100|1060|640", {2.0}, window);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->note, Geom::reported);
    // Too big for the window until divided by the largest scale that makes it fit.
    g = Geom::from("960|540|200|200|2120|1280", {1.0, 2.0, 2.0, 3.0}, window);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->note, Geom::converted);
    EXPECT_DOUBLE_EQ(g->rect.w, 1920.0 / 3);
    // A zoom that fits no k (r = 1.2) falls back to the window test.
    g = Geom::from("960|540|0|0|576|324|50", {2.0}, window);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->note, Geom::reported);
    EXPECT_EQ(g->rect.w, 576);
    // Nothing fits: estimated around the window's centre.
    g = Geom::from("960|540|0|0|9000|9000|50", {2.0}, window);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->note, Geom::estimated);
    EXPECT_EQ(g->rect, (Rect{700 - 240 + 60, 450 - 135 + 40, 480, 270}));
}

TEST(GeomTest, MissingRectangleIsEstimatedOrRefused) {
    auto g = Geom::from("960|540|0|0|0|0|100", {}, window);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->note, Geom::estimated);
    EXPECT_EQ(g->rect, (Rect{700 - 480 + 60, 450 - 270 + 40, 960, 540}));
    EXPECT_FALSE(Geom::from("960|540|0|0|0|0|100", {}, noWindow));
    // Flat but wide without a window is taken as it stands.
    g = Geom::from("960|540|10|10|500|10", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->note, Geom::reported);
}

TEST(GeomTest, RefusesUnusableAnswers) {
    for (const char* bad : {"", "960|540|1|2|3", "0|540|1|2|3|4", "-960|540|1|2|3|4", "960|540|nan|2|3|4",
                            "960|540|1|2|3|4|inf", "960|540|1|2|3|4|100|1|2|3|4|5|6|-infinity", "words only",
                            "960|NaN|1|2|3|4"}) {
        EXPECT_FALSE(Geom::from(bad, {2.0}, window)) << bad;
    }
}

TEST(GeomTest, WordsAreSkippedAndTheFollowingNumbersMoveUp) {
    EXPECT_EQ(Geom::numbers("OK| 960 |x|\t540\t||+1e2,-2.5,0x10,1 2"), (std::vector<double>{960, 540, 100, -2.5}));
    auto g = Geom::from("slide|960|540|100|200|1060|740", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->rect, (Rect{100, 200, 960, 540}));
}

TEST(GeomTest, NumbersBeyondADoubleReadAsInfinityOrZeroAndKeepTheirPlace) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Geom::numbers("1e400|-1e400|1e-400|+1e400|1E+400|2e308"), (std::vector<double>{inf, -inf, 0, inf, inf, inf}));
    const auto tiny = Geom::numbers("-1e-400|0.0001e-320|1e-99999999999999999999|1e99999999999999999999");
    ASSERT_EQ(tiny.size(), 4u);
    EXPECT_EQ(tiny[0], 0);
    EXPECT_TRUE(std::signbit(tiny[0]));
    EXPECT_EQ(tiny[1], 0);
    EXPECT_EQ(tiny[2], 0);
    EXPECT_EQ(tiny[3], inf);
    // Written out without an exponent: 400 digits overflow, 400 places after the point underflow.
    EXPECT_EQ(Geom::numbers("1" + std::string(400, '0') + "|0." + std::string(400, '0') + "1|-" +
                            std::string(400, '9') + ".5"),
              (std::vector<double>{inf, 0, -inf}));
    // The largest double and the smallest normal one still read as themselves.
    EXPECT_EQ(Geom::numbers("1.7976931348623157e308|2.2250738585072014e-308"),
              (std::vector<double>{std::numeric_limits<double>::max(), std::numeric_limits<double>::min()}));

    // An overflowing left edge is infinite: refused, not an estimate from the fields moved up.
    EXPECT_FALSE(Geom::from("960|540|1e400|200|1060|740|100", {}, window));
    EXPECT_FALSE(Geom::from("960|540|100|-1e400|1060|740|100", {}, window));
    EXPECT_FALSE(Geom::from("960|540|100|200|1060|740|100|0|0|1400|900|1e400", {}, window));
    // An underflowing one is zero, in its own place.
    auto g = Geom::from("960|540|1e-400|200|960|740", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->rect, (Rect{0, 200, 960, 540}));
}

TEST(GeomTest, OptionalFieldsHaveTheirDefaultsAndAreReadByPosition) {
    auto g = Geom::from("960|540|100|200|1060|740", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->zoom, 0);
    EXPECT_EQ(g->window, std::nullopt);
    EXPECT_EQ(g->slideID, 0);
    EXPECT_EQ(g->fit, std::nullopt);
    EXPECT_EQ(g->split, 100);

    g = Geom::from("960|540|100|200|1060|740|100|10|20|1400|900|257.9|0|70", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->window, (Rect{10, 20, 1400, 900}));
    EXPECT_EQ(g->slideID, 257);
    EXPECT_EQ(g->fit, false);
    EXPECT_EQ(g->split, 70);

    // A window 50 wide or less is no window; the later fields still count.
    g = Geom::from("960|540|100|200|1060|740|100|10|20|50|900|-3.7|2|-5", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->window, std::nullopt);
    EXPECT_EQ(g->slideID, -3);
    EXPECT_EQ(g->fit, true);
    EXPECT_EQ(g->split, 100);

    g = Geom::from("960|540|100|200|1060|740|100|10|20|1400|900|1e30", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->slideID, 0);
}

// The presentation comes after the numbers, as a text of the add-in's own: digits, commas
// and spaces in it move no number, and a reader counts it by bars alone.
TEST(GeomTest, ThePresentationIsTheFifteenthFieldWhateverItHolds) {
    const std::string fields = "960|540|100|200|1060|740|100|10|20|1400|900|257|1|70";
    auto g = Geom::from(fields + "|/Users/ann/Talks/Q3, 2026 v2.pptx", {}, noWindow);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->presentation, "/Users/ann/Talks/Q3, 2026 v2.pptx");
    EXPECT_EQ(g->slideID, 257);
    EXPECT_EQ(g->split, 70);
    EXPECT_EQ(g->window, (Rect{10, 20, 1400, 900}));

    // With the reply's "OK" in front, the same field; a field after it is not part of it.
    EXPECT_EQ(Geom::presentationOf("OK|" + fields + "| 300 |later"), "300");
    EXPECT_EQ(Geom::presentationOf(fields + "|Deck%7C2"), "Deck%7C2");
    // An older add-in's answer names none, and an empty field is none.
    EXPECT_EQ(Geom::from(fields, {}, noWindow)->presentation, "");
    EXPECT_EQ(Geom::presentationOf(fields + "|"), "");
    EXPECT_EQ(Geom::presentationOf("960|540|100|200|1060|740|100|10|20|1400|900|257|Deck"), "");
    // "OK" only counts as the reply's word in front.
    EXPECT_EQ(Geom::presentationOf("960|OK|540|100|200|1060|740|100|10|20|1400|900|257|1|70"), "70");
}

TEST(GeomTest, EachNoteHasItsOwnWordsForTheLogAndThePage) {
    EXPECT_EQ(noteText(Geom::reported), "PowerPoint reported the slide position");
    EXPECT_EQ(noteText(Geom::converted), "PowerPoint answered in pixels; converted to points");
    EXPECT_EQ(noteText(Geom::estimated),
              "Position estimated - press Shift+I to show the slide and Option+arrows to line it up");
    EXPECT_EQ(noteText(Geom::tracked), "Lined up with PowerPoint's view (Accessibility)");
}

Geom withRect(Rect r, std::optional<bool> fit, double split, std::optional<Rect> win) {
    Geom g;
    g.slideW = 960;
    g.slideH = 540;
    g.rect = r;
    g.fit = fit;
    g.split = split;
    g.window = win;
    return g;
}

TEST(GeomTest, PaneGuessCentresTheSlideInTheWindowsShareOfPane) {
    const Rect win{0, 0, 1400, 900};
    const auto g = withRect({300, 200, 800, 450}, false, 100, win);
    const auto guess = g.paneGuess(std::nullopt);
    ASSERT_TRUE(guess);
    EXPECT_DOUBLE_EQ(guess->x, 0);  // 2 * 700 - 1400 = 0
    EXPECT_DOUBLE_EQ(guess->w, 1400);
    const double bottom = 900 - 33;
    const double top = std::max(60.0, (425 - bottom * 0.5) / 0.5);
    EXPECT_DOUBLE_EQ(guess->y, top);
    EXPECT_DOUBLE_EQ(guess->h, bottom - top);

    // split 5 counts as 10 percent and 250 as 100: only the second leaves room for the slide.
    EXPECT_FALSE(withRect({300, 200, 800, 450}, false, 5, win).paneGuess(std::nullopt));
    EXPECT_EQ(withRect({300, 200, 800, 450}, false, 250, win).paneGuess(std::nullopt), guess);
    // No window at all: no guess.
    EXPECT_FALSE(withRect({300, 200, 800, 450}, false, 100, std::nullopt).paneGuess(std::nullopt));
}

TEST(GeomTest, CanScrollOnlyWhenKnownNotAtFitAndTheSlideOverflows) {
    const Rect win{0, 0, 1400, 900};
    EXPECT_FALSE(withRect({300, 200, 800, 450}, std::nullopt, 100, win).canScroll(std::nullopt));
    EXPECT_FALSE(withRect({300, 200, 800, 450}, true, 100, win).canScroll(std::nullopt));
    EXPECT_FALSE(withRect({300, 200, 800, 450}, false, 100, win).canScroll(std::nullopt));
    EXPECT_TRUE(withRect({-200, 0, 1800, 1000}, false, 100, win).canScroll(std::nullopt));
    EXPECT_TRUE(withRect({300, 200, 800, 450}, false, 100, std::nullopt).canScroll(std::nullopt));
}

TEST(GeomTest, TheProgramsFactsAreTheScreensScalesAndItsWindowAsTheyAreNow) {
    auto windows = std::make_shared<fake::FakeWindowList>();
    auto workspace = std::make_shared<fake::FakeWorkspace>();
    windows->windows = std::vector<WindowInfo>{{4242, 0, Rect{0, 0, 1400, 900}}};
    SerialQueue notMain("test.not-main");
    const PPT ppt({std::make_shared<fake::FakeMacroTransport>(), windows, workspace}, notMain, "SCBT_Pen.");
    fake::FakeScreens screens;
    screens.set({{0, 0, 1440, 900}}, 2);

    // Too big for the program's window in points: backing pixels of the 2x screen.
    auto g = Geom::from("960|540|200|200|2120|1280", screens, ppt);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->note, Geom::converted);
    EXPECT_EQ(g->rect, (Rect{100, 100, 960, 540}));

    // A geometry without a window of its own guesses from the program's window.
    const auto bare = withRect({300, 200, 800, 450}, false, 100, std::nullopt);
    ASSERT_TRUE(bare.paneGuess(ppt));
    EXPECT_EQ(bare.paneGuess(ppt), bare.paneGuess(Rect{0, 0, 1400, 900}));
    EXPECT_FALSE(bare.canScroll(ppt));
    workspace->setRunning(std::nullopt); // the program quit: no window to go by
    EXPECT_FALSE(bare.paneGuess(ppt));
    EXPECT_TRUE(bare.canScroll(ppt));
}

TEST(PaneStateTest, VisibleLeavesOutBarsOnTheFarSides) {
    PaneState p;
    p.pane = {100, 100, 800, 600};
    p.bars = {{100, 100, 15, 600}}; // vertical bar at the left edge
    EXPECT_EQ(p.visible(), p.pane);
    p.bars = {{885, 100, 15, 600}, {100, 685, 800, 15}, {2000, 2000, 15, 600}};
    EXPECT_EQ(p.visible(), (Rect{100, 100, 785, 585}));
}

TEST(PaneStateTest, ScaleFromContentNeedsADocumentLargerThanThePane) {
    PaneState p;
    p.pane = {0, 0, 800, 600};
    p.content = {0, 0, 801, 601};
    EXPECT_EQ(p.scaleFromContent(960, 540), std::nullopt);
    p.content = {-500, 0, 1956, 600};
    EXPECT_DOUBLE_EQ(*p.scaleFromContent(960, 540), 2.0);
    p.content = {0, -100, 800, 1116};
    EXPECT_DOUBLE_EQ(*p.scaleFromContent(960, 540), 2.0);
    EXPECT_EQ(p.scaleFromContent(0, 0), std::nullopt);
}

TEST(PaneStateTest, LinedPutsTheSlideAtTheCentreOfTheDocument) {
    PaneState p;
    p.content = {-500, -100, 1956, 1116};
    auto g = withRect({1, 2, 480, 270}, false, 100, std::nullopt);
    g.note = Geom::reported;
    const Geom at2 = g.lined(p, 2.0);
    EXPECT_EQ(at2.rect, (Rect{-500 + 978 - 960, -100 + 558 - 540, 1920, 1080}));
    EXPECT_EQ(at2.note, Geom::tracked);
    EXPECT_EQ(at2.fit, g.fit);
    EXPECT_DOUBLE_EQ(g.lined(p).rect.w, 480); // its own scale, 0.5
}

TEST(FitOnOpenTest, SettlesOnlyOnTwoEqualSuccesses) {
    EXPECT_TRUE(FitOnOpen::wanted(std::nullopt));
    EXPECT_FALSE(FitOnOpen::wanted(PaneState{}));
    using FitOnOpen::Step;
    auto step = [](std::string_view last, std::string_view now) {
        return FitOnOpen::step(fromMacro(last), fromMacro(now));
    };
    EXPECT_EQ(step("", "OK|1|2"), Step::again);
    EXPECT_EQ(step("OK|1|2", "OK|1|2"), Step::settled);
    EXPECT_EQ(step("OK|1|2", "OK|1|3"), Step::again);
    EXPECT_EQ(step("ERR|x", "ERR|x"), Step::failed);
    EXPECT_EQ(step("", ""), Step::failed);
}

} // namespace
