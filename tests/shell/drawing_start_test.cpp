#include <gtest/gtest.h>

#include <future>
#include <map>
#include <thread>

#include "support/core_fixture.hpp"
#include "support/slide_editor.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {


class DrawingStartTest : public test::DelegateTest {
protected:
    DrawingStartTest() {
        programWithTheUsualSlide();
        make(false);
    }

    // Starts a drawing as a link would and waits until it has finished.
    void start(const std::string& geom, const std::string& tool = "pen") {
        delegate->startDrawing(geom, tool);
        EXPECT_EQ(idle.working, 1);
        ASSERT_TRUE(loop->runUntil([this] { return idle.working == 0; }, 5s));
    }
};

TEST_F(DrawingStartTest, WithoutAccessibilitySetsFitMeasuresAgainAndOpens) {
    start(slideAnswer);
    EXPECT_EQ(macros(), (std::vector<std::string>{"SCBT_Version", "SCBT_Zoom", "SCBT_Where", "SCBT_Where"}));
    EXPECT_EQ(transport->sentSoFar()[1].args, std::vector<std::string>{"fit"});
    ASSERT_TRUE(overlay->isOpen());
    EXPECT_NE(factory->web->url.find("&fitted=1&"), std::string::npos);
    const auto lines = logged();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Slide 960x540 pt at 100,200 (960x540) on screen (PowerPoint set to Fit)."),
              lines.end());
    // The first start of this version asked for Accessibility and said why.
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Asked for Accessibility, so the layer can follow PowerPoint's zoom and scrolling."),
              lines.end());
    ASSERT_EQ(notices->shown.size(), 1u);
    EXPECT_EQ(notices->shown[0].text.rfind("To follow PowerPoint's zoom and scrolling", 0), 0u);

    overlay->close(false);
    start(slideAnswer);
    EXPECT_EQ(notices->shown.size(), 1u); // not again for this version
}

TEST_F(DrawingStartTest, AFitThatNeverSettlesStillOpensWithTheFirstGeometry) {
    int n = 0;
    transport->respond = [&](const fake::FakeMacroTransport::Sent& s) {
        if (s.name.ends_with("SCBT_Where")) {
            return fake::FakeMacroTransport::direct("OK|960|540|100|200|1060|740|100|" + std::to_string(++n));
        }
        return fake::FakeMacroTransport::direct(s.name.ends_with("Version") ? "OK|dev" : "OK|");
    };
    const Instant before = clock->now();
    start(slideAnswer);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(clock->now() - before, 1200ms);
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_EQ(overlay->geom()->rect, (Rect{100, 200, 960, 540}));
}

TEST_F(DrawingStartTest, AnEmptyGeometryAsksTheAddinAndItsFailureIsShown) {
    start("");
    EXPECT_EQ(macros()[1], "SCBT_Geom");
    EXPECT_TRUE(overlay->isOpen());

    overlay->close(false);
    reply("SCBT_Geom", "ERR|No presentation is open.");
    start("");
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(logged().back(), "Could not open the drawing layer: No presentation is open.");
    EXPECT_EQ(notices->shown.back().text, "No presentation is open.");
}

TEST_F(DrawingStartTest, AGeometryThatDoesNotParseIsShown) {
    reply("SCBT_Geom", "OK|0|0|0|0|0|0");
    start("");
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(notices->shown.back().text,
              "Could not find the slide on the screen. Switch PowerPoint to Normal view, then try again.");
}

TEST_F(DrawingStartTest, AnAddinProblemStopsBeforeMeasuring) {
    reply("SCBT_Version", "OK|0.0.1");
    start(slideAnswer);
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(notices->shown.back().text.rfind("PowerPoint is still using Scribbet 0.0.1", 0), 0u);
    EXPECT_EQ(macros().back(), "SCBT_Version");
}

TEST_F(DrawingStartTest, FailedFitStillOpensTheLayer) {
    ax->isTrusted = true; // trusted, but no editor to be found
    reply("SCBT_Zoom", "ERR|The view can't be changed now.");
    start(slideAnswer);
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_EQ(factory->web->url.find("fitted="), std::string::npos);
    const auto lines = logged();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Accessibility is allowed but PowerPoint's slide editor was not found - measuring without it."),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Could not set PowerPoint to Fit: The view can't be changed now."),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Slide 960x540 pt at 100,200 (960x540) on screen."), lines.end());
}

TEST_F(DrawingStartTest, TheSlideLineKeepsEveryDigitOfAHugeRectangle) {
    windows->windows = std::vector<WindowInfo>{}; // nothing to estimate from: taken as reported
    const std::string huge = "960|540|-1e70|200|1e70|740";
    reply("SCBT_Where", "OK|" + huge);
    start(huge);
    const auto lines = logged();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Slide 960x540 pt at -10000000000000000725314363815292351261583744096465219555182101554790400"
                        ",200 (20000000000000001450628727630584702523167488192930439110364203109580800x540) on screen "
                        "(PowerPoint set to Fit)."),
              lines.end());
}

TEST_F(DrawingStartTest, AWidthPastTheLargestDoubleIsLoggedAsZeroLikeTheLayersNumbers) {
    windows->windows = std::vector<WindowInfo>{};
    // Both edges are finite, so the geometry parses, but the width between them is not.
    const std::string wide = "960|540|-1.7e308|200|1.7e308|740";
    reply("SCBT_Where", "OK|" + wide);
    start(wide);
    const auto lines = logged();
    const auto line =
        std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Slide "); });
    ASSERT_NE(line, lines.end());
    EXPECT_TRUE(line->ends_with(",200 (0x540) on screen (PowerPoint set to Fit).")) << *line;
    EXPECT_EQ(line->find('?'), std::string::npos) << *line;
}

TEST_F(DrawingStartTest, WithTheSlideEditorFoundThePaneLeadsAndFitIsLeftAlone) {
    ax->isTrusted = true;
    test::SlideEditor editor({100, 150, 1200, 700}, 1956, 1116); // 200 %
    test::programWithEditor(*ax, 4242, {0, 0, 1400, 880}, editor);
    start(slideAnswer);
    EXPECT_EQ(macros(), std::vector<std::string>{"SCBT_Version"});
    ASSERT_TRUE(overlay->isOpen());
    EXPECT_TRUE(overlay->host());
    // The log reports the slide lined up with the pane, at the geometry's own scale.
    const auto lines = logged();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Slide 960x540 pt at ", 0) == 0 && l.ends_with(" (960x540) on screen (Accessibility).");
    }));
    EXPECT_EQ(lines.back(), "Drawing layer open over the slide (Lined up with PowerPoint's view (Accessibility)).");
}

TEST_F(DrawingStartTest, WhileOpenALinkOnlySwitchesTheToolRealignsAndRaises) {
    start(slideAnswer);
    const auto before = macros().size();
    factory->web->post({{"type", "ready"}});
    factory->web->answer = [](const std::string&) { return EvalResult{std::string("select"), {}}; };
    factory->panel->visible = false;
    start("", "");
    EXPECT_EQ(macros().size(), before + 0); // the check passed once: nothing asked
    EXPECT_TRUE(factory->panel->visible);
    EXPECT_TRUE(std::none_of(factory->web->scripts.begin(), factory->web->scripts.end(),
                             [](const std::string& s) { return s.find(R"("op":"tool")") != std::string::npos; }));

    start("960|540|300|200|1260|740", "select");
    EXPECT_EQ(factory->web->scripts.back().find(R"(SCB.command({"op":"tool","tool":"select"}))"), std::string::npos);
    EXPECT_TRUE(std::any_of(factory->web->scripts.begin(), factory->web->scripts.end(), [](const std::string& s) {
        return s == R"(SCB.command({"op":"tool","tool":"select"}))";
    }));
    EXPECT_EQ(overlay->geom()->rect.x, 300); // realigned to the link's geometry

    factory->web->answer = [](const std::string&) { return EvalResult{nlohmann::json(true), {}}; };
    start("", "direct");
    EXPECT_EQ(logged().back(), "The drawing layer did not switch to direct.");
}

TEST_F(DrawingStartTest, TheSecondOfTwoQuickLinksFindsTheLayerOpen) {
    delegate->startDrawing(slideAnswer, "pen");
    delegate->startDrawing(slideAnswer, "select");
    EXPECT_EQ(idle.working, 2);
    ASSERT_TRUE(loop->runUntil([this] { return idle.working == 0; }, 5s));
    EXPECT_EQ(factory->webs.size(), 1u);
    const auto names = macros();
    EXPECT_EQ(std::count(names.begin(), names.end(), "SCBT_Zoom"), 1);
}

TEST_F(DrawingStartTest, TheStatusWindowButtonBringsTheProgramForwardAndAsksForTheGeometry) {
    delegate->drawNow();
    ASSERT_TRUE(loop->runUntil([this] { return idle.working == 0; }, 5s));
    EXPECT_EQ(workspace->activated.front(), Host::current().programId);
    EXPECT_EQ(macros()[1], "SCBT_Geom");
}

// The delegate goes (the program ends) while a start still waits its turn: the start is
// dropped and never reaches into the delegate, whose members are gone by then.
TEST_F(DrawingStartTest, AStartStillQueuedWhenTheDelegateGoesIsDropped) {
    std::promise<void> release;
    delegate->drawQueue.async([held = release.get_future().share()] { held.wait(); });
    delegate->startDrawing(slideAnswer, "pen");
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        release.set_value();
    });
    delegate.reset();
    releaser.join();
    EXPECT_TRUE(macros().empty());
    loop->runPending();
    EXPECT_EQ(idle.working, 0);
}

} // namespace
