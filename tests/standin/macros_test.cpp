// The add-in's macros as the stand-in answers them: the geometry answer at known places, in
// points and in a 2x screen's pixels, Fit, the slide picture, the theme, placing freeforms,
// link queries, the refusals outside Normal view, and the events that never reach a macro.
#include <gtest/gtest.h>

#include "standin_support.hpp"
#include "state.hpp"

using namespace scribbet::standin;
using namespace scribbet::standin::test;

namespace {
std::string geometry(Model& m) {
    const std::string r = run(m, "SCBT_Geom");
    EXPECT_EQ(r.substr(0, 3), "OK|");
    EXPECT_EQ(run(m, "SCBT_Where"), r);
    return r.substr(3);
}

// The shape lines of a placing answer: each one's ten TAB-separated fields.
std::vector<std::vector<std::string>> placed(const std::string& answer, std::string& count) {
    auto lines = split(answer.substr(3), '\n');
    count = lines.at(0);
    std::vector<std::vector<std::string>> out;
    for (std::size_t i = 1; i < lines.size(); ++i) out.push_back(split(lines[i], '\t'));
    return out;
}

std::vector<std::string> insertArgs(const std::string& path, const std::string& stroke = "#1F1F1F",
                                    const std::string& width = "1", const std::string& fill = "none",
                                    const std::string& replace = "", const std::string& slide = "",
                                    const std::string& presentation = "") {
    return {path, stroke, width, fill, replace, slide, presentation};
}
} // namespace

// ---- the geometry answer ----

TEST(StandinGeometryAnswerTest, ReportsTheSlideWhereTheWindowShowsIt) {
    Model m = placedModel();
    // Pane: 300, 190, 1200 by 727; the 960 x 540 slide centred in it.
    EXPECT_EQ(geometry(m), "960|540|420|283.5|1380|823.5|100|100|50|1400|900|256|0|100|Presentation1");

    m.units = Units::pixels; // the window is on the 2x screen
    EXPECT_EQ(geometry(m), "960|540|840|567|2760|1647|100|100|50|1400|900|256|0|100|Presentation1");

    m.window.frame.x = 1600; // now on the 1x screen to the right: pixels are points
    EXPECT_EQ(geometry(m), "960|540|1920|284|2880|824|100|1600|50|1400|900|256|0|100|Presentation1");
}

TEST(StandinGeometryAnswerTest, ScrollingMovesTheDocumentWithItsMargins) {
    Model m = placedModel();
    m.window.zoom = 150; // the slide 1440 x 810, the document 1476 x 846 in a 1200 x 727 pane
    m.deck.current = 1;
    m.window.scroll = {0, 0};
    EXPECT_EQ(geometry(m), "960|540|318|208|1758|1018|150|100|50|1400|900|257|0|100|Presentation1");
    m.window.scroll = {1, 1};
    EXPECT_EQ(geometry(m), "960|540|42|89|1482|899|150|100|50|1400|900|257|0|100|Presentation1");
    m.window.scroll = {0.5, 0.5};
    EXPECT_EQ(geometry(m), "960|540|180|148.5|1620|958.5|150|100|50|1400|900|257|0|100|Presentation1");

    // A notes pane leaves the editor half the height, so even 100 % scrolls vertically.
    m.window.zoom = 100;
    m.window.split = 50;
    EXPECT_EQ(geometry(m), "960|540|420|101.75|1380|641.75|100|100|50|1400|900|257|0|50|Presentation1");
}

TEST(StandinGeometryAnswerTest, FitMakesTheSlideAndItsMarginsFitThePane) {
    const Rect windows[] = {{100, 50, 1400, 900}, {0, 40, 400, 300}, {20, 40, 1480, 420}, {10, 40, 600, 930}};
    for (const Rect& w : windows) {
        Model m = placedModel();
        m.window.frame = w;
        m.window.zoom = 400;
        m.window.scroll = {1, 0};
        const std::string reply = run(m, "SCBT_Zoom", {"fit"});
        const Layout l = m.layout();
        std::string fields = geometry(m);
        EXPECT_TRUE(fields.ends_with("|Presentation1")) << fields;
        const auto n = numbersOf(fields.substr(0, fields.rfind('|')));
        EXPECT_EQ(n[12], 1);
        EXPECT_EQ(reply, "OK|" + num(n[6]));
        // Fits on both axes with its margins, tightly on one, centred in the pane.
        EXPECT_LE(l.slide.w + 36, l.pane.w + 1e-9);
        EXPECT_LE(l.slide.h + 36, l.pane.h + 1e-9);
        EXPECT_NEAR(std::min(l.pane.w - l.slide.w, l.pane.h - l.slide.h), 36, 1e-9);
        EXPECT_NEAR(l.slide.midX(), l.pane.midX(), 1e-9);
        EXPECT_NEAR(l.slide.midY(), l.pane.midY(), 1e-9);
        // The reported rectangle is that slide, and the whole-percent zoom explains its width.
        EXPECT_NEAR(n[2], l.slide.x, 1e-3);
        EXPECT_NEAR(n[5], l.slide.bottom(), 1e-3);
        EXPECT_EQ(n[6], std::round((n[4] - n[2]) / 960 * 100));
    }
}

TEST(StandinGeometryAnswerTest, ZoomTakesOnlyFit) {
    Model m = placedModel();
    const Model before = m;
    EXPECT_EQ(run(m, "SCBT_Zoom", {"75"}).substr(0, 4), "ERR|");
    EXPECT_EQ(m, before);
}

// ---- picture and theme ----

TEST(StandinSlidePictureTest, IsAPngOfTheAskedWidth) {
    Model m = placedModel();
    const auto fields = split(run(m, "SCBT_Slide", {"64"}), '|');
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[0], "OK");
    EXPECT_EQ(fields[1], "1");
    EXPECT_EQ(fields[2], "960");
    EXPECT_EQ(fields[3], "540");
    const std::string png = unbase64(fields[4]);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    auto be32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(png[at + i]);
        return v;
    };
    EXPECT_EQ(be32(16), 64u);
    EXPECT_EQ(be32(20), 36u);

    m.deck.current = 2;
    EXPECT_EQ(split(run(m, "SCBT_Slide", {"100"}), '|').at(1), "3");
}

TEST(StandinSlidePictureTest, ShowsTheShapesInTheirColoursAndFollowsTheTheme) {
    Model m = placedModel();
    run(m, "SCBT_Insert", insertArgs("M 96 96 L 288 96 L 288 288 L 96 288 Z", "none", "1", "#FF0000"));
    run(m, "SCBT_Insert", insertArgs("M 480 96 L 672 96 L 672 288 L 480 288 Z", "none", "1", "theme:5"));
    run(m, "SCBT_Insert", insertArgs("M 0 480 L 960 480", "theme:12", "20", "none"));
    auto picture = [&] { return Picture::fromPng(unbase64(split(run(m, "SCBT_Slide", {"480"}), '|').at(4))); };

    Picture p = picture(); // half the slide's size: a slide point is half a pixel
    ASSERT_EQ(p.width, 480);
    ASSERT_EQ(p.height, 270);
    EXPECT_EQ(p.rgb(96, 96), 0xFF0000u);
    EXPECT_EQ(p.rgb(288, 96), 0x4472C4u); // accent 1, the fifth theme colour
    EXPECT_EQ(p.rgb(200, 240), 0x954F72u); // followed hyperlink, the twelfth
    EXPECT_EQ(p.rgb(400, 200), 0xFFFFFFu);
    EXPECT_EQ(p.rgb(30, 30), 0xFFFFFFu);

    m.theme[4] = 0x00FF00;
    EXPECT_EQ(picture().rgb(288, 96), 0x00FF00u);
}

TEST(StandinSlidePictureTest, RefusesWidthsItCannotMake) {
    Model m = placedModel();
    for (const char* width : {"0", "-5", "8193", "12.5", "abc", ""}) {
        EXPECT_EQ(run(m, "SCBT_Slide", {width}).substr(0, 4), "ERR|") << width;
    }
    m.deck.slideW = 72;
    m.deck.slideH = 4032; // a tall slide: 8000 px wide would be far taller than 8192
    EXPECT_EQ(run(m, "SCBT_Slide", {"8000"}).substr(0, 4), "ERR|");
}

TEST(StandinThemeTest, AnswersTheTwelveColoursInTheProgramsOrder) {
    Model m = placedModel();
    for (std::size_t i = 0; i < m.theme.size(); ++i) m.theme[i] = static_cast<std::uint32_t>(0x101010 * (i + 1));
    const auto f = split(run(m, "SCBT_Theme"), '|');
    ASSERT_EQ(f.size(), 13u);
    EXPECT_EQ(f[1], "#101010");  // dark 1
    EXPECT_EQ(f[5], "#505050");  // accent 1
    EXPECT_EQ(f[12], "#C0C0C0"); // followed hyperlink
}

// ---- placing freeforms ----

TEST(StandinInsertTest, EachSubpathBecomesOneFreeformAndIsReported) {
    Model m = placedModel();
    const std::string answer = run(m, "SCBT_Insert",
                                   insertArgs("M 10 20 L 110 70 M 200 200 C 200 100 300 100 300 200 Z", "#12345680",
                                              "2.5", "theme:3"));
    std::string count;
    const auto lines = placed(answer, count);
    EXPECT_EQ(count, "2");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (std::vector<std::string>{"0", "Freeform: Shape 1", "2", "10", "20", "100", "50", "0", "0", "0"}));
    EXPECT_EQ(lines[1], (std::vector<std::string>{"1", "Freeform: Shape 2", "3", "200", "125", "100", "75", "0", "0", "0"}));

    const auto& shapes = m.currentSlide().shapes;
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[1].subpaths.size(), 1u);
    EXPECT_TRUE(shapes[1].subpaths[0].closed);
    EXPECT_EQ(shapes[0].stroke.text(), "#12345680");
    EXPECT_EQ(shapes[0].stroke.opacity, 0x80);
    EXPECT_EQ(shapes[0].fill.text(), "theme:3");
    EXPECT_EQ(shapes[0].width, 2.5);

    // Only the path given: the outline, width and fill the page would have sent.
    run(m, "SCBT_Insert", {"M 0 0 L 1 1"});
    const Shape& plain = m.currentSlide().shapes.back();
    EXPECT_EQ(plain.id, 4);
    EXPECT_EQ(plain.stroke.text(), "#1F1F1F");
    EXPECT_EQ(plain.width, 1);
    EXPECT_EQ(plain.fill.text(), "none");
}

TEST(StandinInsertTest, PlacesOnTheNamedSlideAndReplacesAfterPlacing) {
    Model m = placedModel();
    std::string count;
    const auto first = placed(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5 M 9 9 L 8 8", "#000000", "1", "none", "",
                                                                "257")),
                              count);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_TRUE(m.currentSlide().shapes.empty());
    Slide& second = *m.slideById(257);
    ASSERT_EQ(second.shapes.size(), 2u);

    // The redrawn stroke replaces the first shape; its new id is never an old one.
    const auto again = placed(run(m, "SCBT_Insert", insertArgs("M 1 1 L 6 6", "#000000", "1", "none", " 2 ,", "257")),
                              count);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0][2], "4");
    ASSERT_EQ(second.shapes.size(), 2u);
    EXPECT_EQ(second.shapes[0].id, 3);
    EXPECT_EQ(second.shapes[1].id, 4);
}

TEST(StandinInsertTest, AnEmptyPathWithShapesToReplaceOnlyRemovesThem) {
    Model m = placedModel();
    run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5 M 9 9 L 8 8 M 1 1 L 2 2")); // shapes 2, 3, 4 on slide 256
    run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "257"));

    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("", "#1F1F1F", "1", "none", "3")), "OK|0");
    auto ids = [](const Slide& s) {
        std::vector<std::int64_t> out;
        for (const auto& shape : s.shapes) out.push_back(shape.id);
        return out;
    };
    EXPECT_EQ(ids(m.currentSlide()), (std::vector<std::int64_t>{2, 4}));

    // Blanks for a path, several identifiers with blanks and empty pieces between them.
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs(" \t\r\n", "#1F1F1F", "1", "none", " 4, ,2 ,")), "OK|0");
    EXPECT_TRUE(m.currentSlide().shapes.empty());
    EXPECT_EQ(ids(*m.slideById(257)), std::vector<std::int64_t>{2}); // the same number on another slide stays

    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("", "#1F1F1F", "1", "none", "2", "257")), "OK|0");
    EXPECT_TRUE(m.slideById(257)->shapes.empty());

    // A removal takes no identifier: the next shape placed on slide 256 is the one after 4.
    std::string count;
    EXPECT_EQ(placed(run(m, "SCBT_Insert", {"M 0 0 L 1 1"}), count).at(0).at(2), "5");
}

TEST(StandinInsertTest, RefusesAndLeavesTheSlidesAsTheyWere) {
    Model m = placedModel();
    run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5")); // shape 2 on slide 256
    const Model before = m;
    const std::vector<std::vector<std::string>> refused = {
        insertArgs(""),
        insertArgs("M 0 0 L 5 5 l 1 1"),
        insertArgs("M 0 0 L 5 5 M 3 3"),
        insertArgs("M 0 0 L 5 5", "#12345"),
        insertArgs("M 0 0 L 5 5", "red"),
        insertArgs("M 0 0 L 5 5", "theme:0"),
        insertArgs("M 0 0 L 5 5", "theme:13"),
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "#GG0000"),
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "thick"),
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "-1"),
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "2000"),
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "2,99"), // one of them unknown
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "two"),
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "2", "257"), // shape 2 is not on 257
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "999"),
        insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "99999999999999999999999"),
        // nothing to place and nothing to remove
        insertArgs(" \t\n"),
        insertArgs("", "#1F1F1F", "1", "none", " , ,"),
        // removals that name a shape the slide does not have, or carry a bad style
        insertArgs("", "#1F1F1F", "1", "none", "2,99"),
        insertArgs("", "#1F1F1F", "1", "none", "two"),
        insertArgs("", "#1F1F1F", "1", "none", "2", "257"),
        insertArgs("", "#1F1F1F", "1", "none", "2", "999"),
        insertArgs("", "red", "1", "none", "2"),
        insertArgs("M 0 0 l 1 1", "#1F1F1F", "1", "none", "2"), // a bad path is not a removal
    };
    for (const auto& args : refused) {
        const std::string r = run(m, "SCBT_Insert", args);
        EXPECT_EQ(r.substr(0, 4), "ERR|") << args[0] << " / " << args[1] << " / " << args[2] << " / " << args[3];
        EXPECT_GT(r.size(), 5u);
        EXPECT_EQ(r.back(), '.') << r;
        EXPECT_EQ(m, before) << r;
    }
}

// ---- the presentation a drawing was made on ----

std::string lastField(const std::string& answer) { return answer.substr(answer.rfind('|') + 1); }

// Slide 256 is in every presentation: the one the geometry answer named receives the drawing
// while another is in front, and once it has closed the insert is refused with nothing changed.
TEST(StandinPresentationTest, TheNamedPresentationReceivesTheDrawingAndAClosedOneNothing) {
    Model m = placedModel();
    ASSERT_EQ(applyValues(m, {{"second", "front"}}), "");
    const std::string key = lastField(run(m, "SCBT_Geom"));
    EXPECT_EQ(key, "Presentation2");
    ASSERT_EQ(applyValues(m, {{"second", "behind"}}), ""); // the first presentation comes back to the front
    EXPECT_EQ(lastField(run(m, "SCBT_Geom")), "Presentation1");

    std::string count;
    EXPECT_EQ(placed(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "256", key)), count)
                  .at(0).at(2), "2");
    ASSERT_TRUE(m.other);
    EXPECT_EQ(m.other->slides.at(0).shapes.size(), 1u);
    EXPECT_TRUE(m.deck.slides.at(0).shapes.empty());
    // Its current slide when none is named, also in a presentation behind.
    m.other->current = 2;
    run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "", key));
    EXPECT_EQ(m.other->slides.at(2).shapes.size(), 1u);

    ASSERT_EQ(applyValues(m, {{"second", "none"}}), "");
    EXPECT_FALSE(m.other);
    const Model before = m;
    for (const auto& args : {insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "256", key),
                             insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "", key),
                             insertArgs("", "#1F1F1F", "1", "none", "2", "256", key)}) {
        EXPECT_EQ(run(m, "SCBT_Insert", args),
                  "ERR|The presentation you drew on is no longer open in PowerPoint, so the drawing was not placed.");
        EXPECT_EQ(m, before);
    }
    // Named, the presentation needs no window; unnamed, the window's presentation as before.
    m.window.view = View::none;
    EXPECT_EQ(placed(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "257",
                                                      "Presentation1")), count).at(0).at(2), "2");
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "257")),
              "ERR|PowerPoint has no window showing a presentation.");
}

// The key stays one field whatever the name holds, and is compared whole: two presentations
// of one name cannot be told apart, and are refused rather than guessed between.
TEST(StandinPresentationTest, TheKeyIsOneFieldAndTwoOfOneNameAreRefused) {
    Model m = placedModel();
    ASSERT_EQ(applyValues(m, {{"title", "Q3|Q4 100%\tdone\n"}}), "");
    const std::string geom = run(m, "SCBT_Geom");
    EXPECT_EQ(split(geom, '|').size(), 16u) << geom;
    EXPECT_EQ(lastField(geom), "Q3%7CQ4 100%25%09done%0A");
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "256", "Q3|Q4 100%\tdone\n"))
                  .substr(0, 4), "ERR|");
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "256", lastField(geom)))
                  .substr(0, 4), "OK|1");
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "256", " " + lastField(geom)))
                  .substr(0, 4), "ERR|");

    ASSERT_EQ(applyValues(m, {{"second", "behind"}, {"title", "Presentation2"}}), "");
    const Model before = m;
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "256", "Presentation2")),
              "ERR|More than one open presentation is called \"Presentation2\", so the add-in cannot tell which one "
              "the drawing belongs to.");
    EXPECT_EQ(m, before);
    EXPECT_NE(applyValues(m, {{"second", "beside"}}), "");
}

// With the thumbnail strip focused the add-in still reads and fits the slide editor, and
// leaves the focus where it was.
TEST(StandinPresentationTest, TheThumbnailPaneFocusedChangesNoAnswerAndStays) {
    Model m = placedModel();
    m.window.fit = false;
    m.window.zoom = 75;
    const std::string geom = run(m, "SCBT_Geom");
    ASSERT_EQ(applyValues(m, {{"focus", "thumbnails"}}), "");
    EXPECT_EQ(run(m, "SCBT_Geom"), geom);
    const std::string fitted = run(m, "SCBT_Zoom", {"fit"});
    EXPECT_EQ(m.focus, Focus::thumbnails);
    EXPECT_TRUE(m.window.fit);
    Model slideFocused = placedModel();
    EXPECT_EQ(run(slideFocused, "SCBT_Zoom", {"fit"}), fitted);
    EXPECT_EQ(stateJson(m)["focus"], "thumbnails");
    EXPECT_NE(applyValues(m, {{"focus", "notes"}}), "");
}

// ---- links, version ----

TEST(StandinLinkQueryTest, AnswersKnownLinksAndNotesThem) {
    Model m = placedModel();
    EXPECT_EQ(run(m, "SCBT_LinkQuery", {"upgrade"}), "OK|opened");
    EXPECT_EQ(run(m, "SCBT_LinkQuery", {"support"}).substr(0, 8), "OK|soon|");
    EXPECT_EQ(run(m, "SCBT_LinkQuery", {"elsewhere"}).substr(0, 4), "ERR|");
    EXPECT_EQ(m.opened, (std::vector<std::string>{"upgrade", "support"}));
    EXPECT_EQ(run(m, "SCBT_Version"), "OK|1.2.3");
}

// ---- events that do not reach a macro ----

TEST(StandinMacroEventTest, AnUnloadedAddinLeavesTheEventUnhandled) {
    Model m = placedModel();
    m.addin.loaded = false;
    const Model before = m;
    const MacroReply r = runMacro(m, "SCBT_Pen.SCBT_Insert", insertArgs("M 0 0 L 1 1"));
    EXPECT_EQ(r.errn, -1708);
    EXPECT_TRUE(r.errs.empty());
    EXPECT_TRUE(r.direct.empty());
    EXPECT_EQ(m, before);
}

TEST(StandinMacroEventTest, DeniedAutomationAndAStoppedProgramComeFirst) {
    Model m = placedModel();
    m.addin.loaded = false;
    m.automationDenied = true;
    const MacroReply denied = runMacro(m, "SCBT_Pen.SCBT_Version", {});
    EXPECT_EQ(denied.errn, -1743);
    EXPECT_NE(denied.errs.find("Not authorized"), std::string::npos);
    m.running = false;
    EXPECT_EQ(runMacro(m, "SCBT_Pen.SCBT_Version", {}).errn, -600);
}

TEST(StandinMacroEventTest, OnlyTheAddinsPrefixAndArgumentCountsReachAMacro) {
    Model m = placedModel();
    const MacroReply other = runMacro(m, "Other.SCBT_Version", {});
    EXPECT_EQ(other.errn, -1708);
    EXPECT_NE(other.errs.find("macro"), std::string::npos); // shown as the add-in's problem
    EXPECT_EQ(runMacro(m, "SCBT_Version", {}).errn, -1708);
    EXPECT_EQ(runMacro(m, "SCBT_Pen.SCBT_Nothing", {}).errn, -1708);

    m.addin.prefix = "Pen2.";
    EXPECT_EQ(runMacro(m, "Pen2.SCBT_Version", {}).direct, "OK|1.2.3");
    EXPECT_EQ(runMacro(m, "Pen2.SCBT_Version", {"extra"}).errn, -50);
    EXPECT_EQ(runMacro(m, "Pen2.SCBT_Slide", {}).errn, -50);
    EXPECT_EQ(runMacro(m, "Pen2.SCBT_Insert", {"1", "2", "3", "4", "5", "6", "7", "8", "9"}).errn, -50);
}

// ---- arrows: the program's own arrowhead at a line's end ----

TEST(StandinArrowTest, AnArrowIsOneFreeformWhoseLineEndsInTheArrowhead) {
    Model m = placedModel();
    auto args = insertArgs("M 0 270 L 480 270", "#FF0000", "20");
    args.push_back("triangle");
    std::string count;
    const auto shapes = placed(run(m, "SCBT_Insert", args), count);
    EXPECT_EQ(count, "1");
    ASSERT_EQ(shapes.size(), 1u);
    const auto& onSlide = m.currentSlide().shapes;
    ASSERT_EQ(onSlide.size(), 1u);
    EXPECT_TRUE(onSlide[0].endArrowhead);
    EXPECT_EQ(onSlide[0].fill.text(), "none");
    // ctl state tells it, and a state with it set reads back the same.
    const auto state = stateJson(m);
    const auto& shape = state["slides"][0]["shapes"][0];
    EXPECT_EQ(shape["arrowhead"], "triangle");

    // The head is painted past where a plain line of that width would end: 60 points long
    // (3 widths), its tip at the line's end; a round cap alone reaches only 10 points back.
    const Picture p = Picture::fromPng(unbase64(split(run(m, "SCBT_Slide", {"960"}), '|').at(4)));
    EXPECT_EQ(p.rgb(425, 270 + 20), 0xFF0000u); // inside the head, wider than the line
    EXPECT_EQ(p.rgb(300, 270 + 20), 0xFFFFFFu); // beside the shaft: the line is 20 wide
    EXPECT_EQ(p.rgb(490, 270), 0xFFFFFFu);      // nothing past the tip's cap
}

TEST(StandinArrowTest, NoneOrNothingIsAPlainLineAndABadValueChangesNothing) {
    Model m = placedModel();
    auto none = insertArgs("M 0 0 L 10 10");
    none.push_back("none");
    run(m, "SCBT_Insert", none);
    run(m, "SCBT_Insert", insertArgs("M 0 0 L 20 20"));
    ASSERT_EQ(m.currentSlide().shapes.size(), 2u);
    EXPECT_FALSE(m.currentSlide().shapes[0].endArrowhead);
    EXPECT_FALSE(m.currentSlide().shapes[1].endArrowhead);

    const Model before = m;
    for (const std::string bad : {"arrow", "Triangle2", "1"}) {
        auto args = insertArgs("M 5 5 L 50 50", "#1F1F1F", "1", "none", std::to_string(m.currentSlide().shapes[0].id));
        args.push_back(bad);
        EXPECT_EQ(run(m, "SCBT_Insert", args), "ERR|The arrowhead \"" + bad + "\" is not one the add-in knows.");
        EXPECT_EQ(m, before);
    }
}

TEST(StandinArrowTest, AnAddinFromBeforeArrowheadsHasNoFeaturesAndSevenInsertArguments) {
    Model m = placedModel();
    EXPECT_EQ(run(m, "SCBT_Features"), "OK|arrowhead");
    m.addin.arrowheads = false;
    EXPECT_EQ(runMacro(m, "SCBT_Pen.SCBT_Features", {}).errn, -1708);
    auto args = insertArgs("M 0 0 L 10 10");
    EXPECT_EQ(run(m, "SCBT_Insert", args).substr(0, 5), "OK|1\n");
    args.push_back("triangle");
    const Model before = m;
    EXPECT_EQ(runMacro(m, "SCBT_Pen.SCBT_Insert", args).errn, -50);
    EXPECT_EQ(m, before);
}

// ---- the window's view ----

// In the slide sorter and without a window, what works on the slide showing is refused in
// the add-in's words after the macro's own checks, and leaves the whole model as it was.
TEST(StandinViewTest, MacrosOnTheSlideShowingAreRefusedAndChangeNothing) {
    const std::string sorter =
        "ERR|PowerPoint's window is not in Normal view: choose View > Normal to draw on a slide.";
    const std::string noWindow = "ERR|PowerPoint has no window showing a presentation.";
    for (const auto& [view, sentence] : {std::pair{View::sorter, sorter}, std::pair{View::none, noWindow}}) {
        Model m = placedModel();
        run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5")); // shape 2 on slide 256
        m.window.zoom = 75;
        m.window.fit = false;
        m.window.view = view;
        const Model before = m;
        const std::vector<std::pair<std::string, std::vector<std::string>>> refused = {
            {"SCBT_Geom", {}},
            {"SCBT_Where", {}},
            {"SCBT_Zoom", {"fit"}},
            {"SCBT_Slide", {"64"}},
            {"SCBT_Theme", {}},
            {"SCBT_Insert", insertArgs("M 0 0 L 9 9")},
            {"SCBT_Insert", insertArgs("M 0 0 L 9 9", "#1F1F1F", "1", "none", "2")},
            {"SCBT_Insert", insertArgs("", "#1F1F1F", "1", "none", "2")},
        };
        for (const auto& [macro, args] : refused) {
            EXPECT_EQ(run(m, macro, args), sentence) << macro;
            EXPECT_EQ(m, before) << macro;
        }
        // Their own arguments are checked first, as the add-in checks them.
        EXPECT_EQ(run(m, "SCBT_Zoom", {"75"}), "ERR|The add-in cannot set the zoom to \"75\".");
        EXPECT_EQ(run(m, "SCBT_Slide", {"0"}),
                  "ERR|The picture width must be a whole number of pixels from 1 to 8192.");
        EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 1 2")), "ERR|A part of the drawing has no lines or curves.");
        EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 1 2 L 3 4", "red")),
                  "ERR|The outline colour \"red\" is not one the add-in knows.");
        // The add-in itself answers in every view.
        EXPECT_EQ(run(m, "SCBT_Version"), "OK|1.2.3");
        EXPECT_EQ(m, before);
    }
}

TEST(StandinViewTest, ASlideNamedByIdentifierTakesInsertsInTheSorterButNotWithoutAWindow) {
    Model m = placedModel();
    m.window.view = View::sorter;
    std::string count;
    const auto shapes =
        placed(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "257")), count);
    EXPECT_EQ(count, "1");
    ASSERT_EQ(m.slideById(257)->shapes.size(), 1u);
    EXPECT_EQ(shapes.at(0).at(2), "2");
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "999")),
              "ERR|There is no slide with the identifier 999.");

    m.window.view = View::none;
    const Model before = m;
    for (const auto& args : {insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "257"),
                             insertArgs("", "#1F1F1F", "1", "none", "2", "257"),
                             insertArgs("M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "999")}) {
        EXPECT_EQ(run(m, "SCBT_Insert", args), "ERR|PowerPoint has no window showing a presentation.");
        EXPECT_EQ(m, before);
    }

    // Back in Normal view the shape is still there, and the next one comes after it.
    m.window.view = View::normal;
    EXPECT_EQ(run(m, "SCBT_Insert", insertArgs("", "#1F1F1F", "1", "none", "2", "257")), "OK|0");
    EXPECT_EQ(placed(run(m, "SCBT_Insert", insertArgs("M 0 0 L 5 5")), count).at(0).at(2), "2"); // slide 256's first
}
