#include <regex>

#include "layer_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlayLifeTest : public test::LayerTest {};

TEST_F(OverlayLifeTest, OpensWithTheExactAddressAndLogsHowItMeasured) {
    prefs.set("nudge", {{"x", 3}, {"y", 0}});
    Geom g = slideGeom();
    g.fit = true;
    overlay->open(g, std::nullopt, "pen & ink", /*fitted=*/true);
    ASSERT_TRUE(overlay->isOpen());
    const std::string url = factory->web->url;
    const std::regex expected(
        "http://127\\.0\\.0\\.1:3921/overlay\\.html\\?sw=960&sh=540&x=100&y=200&w=960&h=540"
        "&px=[-0-9.]+&py=[-0-9.]+&pw=[-0-9.]+&ph=[-0-9.]+&nx=3&ny=0"
        "&note=PowerPoint%20reported%20the%20slide%20position&tool=pen%20%26%20ink&host=0&ax=0&pz=100"
        "&fit=1&fitted=1&slide=257&sid=[0-9a-f]{8}&v=[0-9]+");
    EXPECT_TRUE(std::regex_match(url, expected)) << url;
    EXPECT_EQ(factory->web->timeout, 60s);
    EXPECT_TRUE(factory->panel->visible); // the program is in front
    EXPECT_FALSE(factory->panel->ignoring);
    EXPECT_EQ(logged().back(), "Drawing layer open over the slide (PowerPoint reported the slide position; no "
                               "Accessibility).");
}

TEST_F(OverlayLifeTest, AddressLeavesOutWhatIsNotKnownAndEncodesText) {
    prefs.set("nudge", {{"x", 0}, {"y", 0}});
    auto g = Geom::from("960|540|100|200|1060|740", {}, std::nullopt);
    overlay->open(*g, std::nullopt, "");
    std::string url = factory->web->url;
    EXPECT_EQ(url.find("nx="), std::string::npos);
    EXPECT_EQ(url.find("tool="), std::string::npos);
    EXPECT_EQ(url.find("slide="), std::string::npos);
    EXPECT_EQ(url.find("fit="), std::string::npos);
    EXPECT_NE(url.find("&note=PowerPoint%20reported%20the%20slide%20position&host=0&ax=0&pz=100&sid="),
              std::string::npos) << url;
    // The tool is the one free text in the address.
    overlay->close(false);
    overlay->open(*g, std::nullopt, "a~b_c-d.e ü");
    url = factory->web->url;
    EXPECT_NE(url.find("&tool=a~b_c-d.e%20%C3%BC&host=0&ax=0&pz=100&sid="), std::string::npos) << url;
}

TEST_F(OverlayLifeTest, ScaleIsCutNotRoundedInTheAddress) {
    auto g = Geom::from("1000|500|0|0|853.9|426.95", {}, std::nullopt);
    overlay->open(*g, std::nullopt, "");
    EXPECT_NE(factory->web->url.find("&pz=85.30&"), std::string::npos) << factory->web->url;
}

TEST_F(OverlayLifeTest, ChoosesTheScreenOfTheSlideOrFallsBack) {
    // Slide and window on the second screen: the layer covers it, in layer coordinates.
    auto g = *Geom::from("960|540|1540|300|2500|840|100|1500|100|1600|900", {}, std::nullopt);
    overlay->open(g, std::nullopt, "");
    EXPECT_EQ(factory->panel->frame(), screens->list[1].frame);
    EXPECT_EQ(overlay->origin().x, 1440);
    EXPECT_EQ(overlay->origin().y, 0);
    EXPECT_NE(factory->web->url.find("&x=100&y=300&"), std::string::npos);

    // Off every screen: the main screen, or the primary one when there is no main screen.
    g = *Geom::from("960|540|-3000|-3000|-2040|-2460", {}, std::nullopt);
    screens->mainIndex = 1;
    overlay->open(g, std::nullopt, "");
    EXPECT_EQ(factory->panel->frame(), screens->list[1].frame);
    screens->mainIndex.reset();
    overlay->open(g, std::nullopt, "");
    EXPECT_EQ(factory->panel->frame(), screens->list[0].frame);

    // With a pane measurement, its visible part decides, not the program's window.
    PaneState p;
    p.pane = {1500, 100, 1200, 800};
    p.content = p.pane;
    p.window = {0, 0, 1400, 880};
    overlay->open(slideGeom(), p, "");
    EXPECT_EQ(factory->panel->frame(), screens->list[1].frame);
    EXPECT_NE(factory->web->url.find("&host=1&"), std::string::npos);
}

TEST_F(OverlayLifeTest, NoScreenMeansNoLayerAndTheOldOneIsGone) {
    overlay->open(slideGeom(), std::nullopt, "");
    auto* first = factory->panel;
    screens->set({});
    overlay->open(slideGeom(), std::nullopt, "");
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_TRUE(first->cleared);
    EXPECT_EQ(logged().back(), "No screen to draw on.");
}

TEST_F(OverlayLifeTest, APageThatNeverSaysReadyIsClosedAfter15s) {
    overlay->open(slideGeom(), std::nullopt, "");
    loop->advance(14999ms);
    EXPECT_TRUE(overlay->isOpen());
    loop->advance(1ms);
    EXPECT_FALSE(overlay->isOpen());
    const auto lines = logged();
    EXPECT_EQ(lines[lines.size() - 2], "The drawing layer did not start within 15 s - closed.");
    EXPECT_EQ(lines.back(), "Drawing layer closed.");
    EXPECT_EQ(workspace->activated.size(), 1u); // focus back to the program

    overlay->open(slideGeom(), std::nullopt, "");
    factory->web->post({{"type", "ready"}});
    loop->advance(20s);
    EXPECT_TRUE(overlay->isOpen());
}

TEST_F(OverlayLifeTest, SurvivesThreeCrashesAndClosesOnTheFourth) {
    openReady(slideGeom());
    for (int i = 1; i <= 3; ++i) {
        factory->web->crash();
        EXPECT_TRUE(overlay->isOpen());
        EXPECT_EQ(factory->web->reloads, i);
        EXPECT_FALSE(overlay->ready());
        factory->web->post({{"type", "ready"}});
    }
    factory->web->crash();
    EXPECT_FALSE(overlay->isOpen());
    const auto lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "The drawing layer page stopped - reloading it."), 3);
    EXPECT_EQ(lines[lines.size() - 2], "The drawing layer page keeps crashing - closed.");
}

TEST_F(OverlayLifeTest, AReloadedPageMustSayReadyAgainWithin15s) {
    openReady(slideGeom());
    loop->advance(10s);
    factory->web->crash();
    loop->advance(15s);
    EXPECT_FALSE(overlay->isOpen());
}

TEST_F(OverlayLifeTest, NavigationStaysOnThisServer) {
    overlay->open(slideGeom(), std::nullopt, "");
    auto& web = *factory->web;
    EXPECT_TRUE(overlay->allowNavigation(web, "http://127.0.0.1:3921/overlay.html?x=1"));
    EXPECT_TRUE(overlay->allowNavigation(web, "about:blank"));
    EXPECT_FALSE(overlay->allowNavigation(web, "http://127.0.0.1:3922/overlay.html"));
    EXPECT_FALSE(overlay->allowNavigation(web, "http://127.0.0.1/overlay.html"));
    EXPECT_FALSE(overlay->allowNavigation(web, "http://localhost:3921/overlay.html"));
    EXPECT_FALSE(overlay->allowNavigation(web, "https://example.com/"));
    EXPECT_FALSE(overlay->allowNavigation(web, "ABOUT:blank"));
    EXPECT_FALSE(overlay->allowNavigation(web, "not a url"));
}

TEST_F(OverlayLifeTest, OnlyTheMainDocumentsHttpErrorClosesTheLayer) {
    overlay->open(slideGeom(), std::nullopt, "");
    auto& web = *factory->web;
    EXPECT_TRUE(overlay->allowResponse(web, true, 404, false));
    EXPECT_TRUE(overlay->allowResponse(web, true, 200, true));
    EXPECT_TRUE(overlay->allowResponse(web, false, 500, true));
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_FALSE(overlay->allowResponse(web, true, 404, true));
    EXPECT_TRUE(overlay->isOpen()); // closed a moment later, not inside the callback
    loop->runPending();
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(logged()[logged().size() - 2], "The drawing layer page did not load (HTTP 404) - closed.");
}

TEST_F(OverlayLifeTest, LoadFailuresCloseExceptCancellations) {
    overlay->open(slideGeom(), std::nullopt, "");
    auto& web = *factory->web;
    overlay->loadFailed(web, {PageLoadFailureKind::cancelled, "cancelled"});
    overlay->loadFailed(web, {PageLoadFailureKind::frameInterrupted, "Frame load interrupted"});
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
    overlay->loadFailed(web, {PageLoadFailureKind::other, "Could not connect to the server."});
    loop->runPending();
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(logged()[logged().size() - 2], "The drawing layer could not load: Could not connect to the server. - closed.");
}

TEST_F(OverlayLifeTest, LateCallbacksOfAReplacedPageChangeNothing) {
    overlay->open(slideGeom(), std::nullopt, "");
    auto old = factory->web;
    overlay->open(slideGeom(), std::nullopt, "");
    EXPECT_TRUE(old->detached);
    overlay->loadFailed(*old, {PageLoadFailureKind::other, "x"});
    overlay->allowResponse(*old, true, 500, true);
    overlay->contentProcessEnded(*old);
    overlay->message(*old, {{"type", "ready"}});
    overlay->message(*old, {{"type", "cancel"}});
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_FALSE(overlay->ready());

    // A failure queued by the current page does not close a layer opened after it.
    overlay->allowResponse(*factory->web, true, 500, true);
    overlay->open(slideGeom(), std::nullopt, "");
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
}

TEST_F(OverlayLifeTest, CloseTearsDownEverythingAndChecksIdleASecondLater) {
    openReady(slideGeom());
    EXPECT_EQ(workspace->observerCount(), 2u);
    EXPECT_EQ(input->keys.size(), 1u);
    EXPECT_EQ(input->mice.size(), 1u);
    auto web = factory->web;
    overlay->close();
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_TRUE(web->detached);
    EXPECT_TRUE(web->stopped);
    EXPECT_TRUE(factory->panel->cleared);
    EXPECT_EQ(workspace->observerCount(), 0u);
    EXPECT_TRUE(input->keys.empty());
    EXPECT_TRUE(input->mice.empty());
    const auto lines = logged();
    loop->advance(10s); // no tick, no watchdog, nothing left running but the idle check
    EXPECT_EQ(logged(), lines);

    overlay->close(); // closing a closed layer does nothing
    EXPECT_EQ(logged(), lines);
}

TEST_F(OverlayLifeTest, ProgramQuittingClosesWithoutActivatingIt) {
    openReady(slideGeom());
    workspace->terminate(std::string("com.apple.Safari"));
    EXPECT_TRUE(overlay->isOpen());
    workspace->terminate(std::string("COM.MICROSOFT.POWERPOINT"));
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_TRUE(workspace->activated.empty());
    EXPECT_EQ(logged()[logged().size() - 2], "PowerPoint quit - drawing layer closed.");
}

TEST_F(OverlayLifeTest, ALayerOpenedBehindAThirdProgramWaitsForTheProgram) {
    workspace->front = FrontApp{"com.apple.Safari", false};
    overlay->open(slideGeom(), std::nullopt, "");
    EXPECT_FALSE(factory->panel->visible);
    workspace->bringToFront(FrontApp{std::nullopt, false}); // an app without a bundle id
    EXPECT_FALSE(factory->panel->visible);
    workspace->bringToFront(FrontApp{"com.microsoft.Powerpoint", false});
    EXPECT_TRUE(factory->panel->visible);
    workspace->bringToFront(FrontApp{"com.apple.Safari", false});
    EXPECT_FALSE(factory->panel->visible);
    workspace->bringToFront(FrontApp{std::nullopt, true}); // this program
    EXPECT_TRUE(factory->panel->visible);
}

} // namespace
