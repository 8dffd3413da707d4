#include <limits>
#include <thread>

#include "layer_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlayPageTest : public test::LayerTest {};

TEST_F(OverlayPageTest, GeometryIsSentOnceUntilItChangesOrThePageRestarts) {
    overlay->open(slideGeom(), std::nullopt, "");
    overlay->push(); // not ready yet: nothing
    EXPECT_TRUE(scriptsSent().empty());
    factory->web->post({{"type", "ready"}});
    factory->web->post({{"type", "ready"}}); // a repeated ready is ignored
    overlay->push();
    ASSERT_EQ(scriptsSent().size(), 1u);
    EXPECT_EQ(scriptsSent()[0].rfind(R"(SCB.command({"fit":false,"h":540.0,"host":false,"op":"geom","pane":[)", 0), 0u)
        << scriptsSent()[0];
    EXPECT_NE(scriptsSent()[0].find(R"("pz":100.0,"w":960.0,"x":100.0,"y":200.0}))"), std::string::npos);

    factory->web->crash();
    factory->web->post({{"type", "ready"}});
    EXPECT_EQ(scriptsSent().size(), 2u);
    EXPECT_EQ(scriptsSent()[1], scriptsSent()[0]);
}

TEST_F(OverlayPageTest, GeometryNumbersAreCutToTwoDecimalsTowardZero) {
    auto g = *Geom::from("960|540|-12.347|12.347|947.659|552.349", {}, std::nullopt);
    g.window.reset();
    windows->windows = std::vector<WindowInfo>{};
    overlay->open(g, std::nullopt, "");
    factory->web->post({{"type", "ready"}});
    ASSERT_EQ(scriptsSent().size(), 1u);
    EXPECT_NE(scriptsSent()[0].find(R"("x":-12.34,"y":12.34})"), std::string::npos) << scriptsSent()[0];
    EXPECT_NE(scriptsSent()[0].find(R"("w":960.0)"), std::string::npos);
    EXPECT_EQ(scriptsSent()[0].find("pane"), std::string::npos); // no window: no pane guess
}

TEST_F(OverlayPageTest, RegionsKeepOnlyUsableRectangles) {
    using nlohmann::json;
    json rects = json::parse(R"([[0,0,100,40],[5,5],[1,2,3,"a",4],[1,2,3,4,9],"junk"])");
    rects.push_back({1, 2, 3, std::numeric_limits<double>::infinity()});
    EXPECT_EQ(Overlay::regionsFrom(rects), (std::vector<Rect>{{0, 0, 100, 40}, {1, 2, 3, 4}, {1, 2, 3, 4}}));
    EXPECT_TRUE(Overlay::regionsFrom(json("not a list")).empty());

    openReady(slideGeom());
    factory->web->post({{"type", "regions"}, {"rects", rects}, {"all", "yes"}});
    EXPECT_EQ(overlay->regions().size(), 3u);
    EXPECT_FALSE(overlay->captureAll());
    factory->web->post({{"type", "regions"}, {"all", true}});
    EXPECT_TRUE(overlay->regions().empty());
    EXPECT_TRUE(overlay->captureAll());
}

TEST_F(OverlayPageTest, LogAndCancelMessagesAndJunk) {
    openReady(slideGeom());
    factory->web->post({{"type", "log"}, {"msg", std::string(600, 'x')}});
    factory->web->post({{"type", "log"}, {"msg", 42}});
    factory->web->post({{"type", 7}});
    factory->web->post(nlohmann::json::array({1, 2}));
    factory->web->post({{"type", "unknown"}});
    EXPECT_EQ(logged().back(), "Drawing layer: " + std::string(500, 'x'));
    EXPECT_TRUE(overlay->isOpen());
    factory->web->post({{"type", "cancel"}});
    EXPECT_FALSE(overlay->isOpen());
}

TEST_F(OverlayPageTest, TellIsDroppedBeforeReady) {
    overlay->open(slideGeom(), std::nullopt, "");
    overlay->tell({{"op", "note"}, {"text", "early"}});
    EXPECT_TRUE(scriptsSent().empty());
    factory->web->post({{"type", "ready"}});
    overlay->tell({{"op", "note"}, {"text", "later"}});
    EXPECT_EQ(scriptsSent().back(), R"(SCB.command({"op":"note","text":"later"}))");
    overlay->tell({{"op", "note"}, {"text", "bad \xff utf8"}}); // cannot be written: not sent
    EXPECT_EQ(scriptsSent().back(), R"(SCB.command({"op":"note","text":"later"}))");
}

TEST_F(OverlayPageTest, CommandWaitsForTheMainThreadAndKeepsOnlyTextOrJson) {
    openReady(slideGeom());
    EXPECT_EQ(overlay->command(R"({"op":"tool","tool":"pen"})"), std::nullopt);
    EXPECT_EQ(logged().back(), "Overlay.command was called on the main thread - refused");

    auto ask = [&](std::function<EvalResult(const std::string&)> answer, double timeout = 3) {
        factory->web->answer = std::move(answer);
        std::optional<std::string> got;
        std::atomic<bool> done = false;
        std::thread caller([&] {
            got = overlay->command(R"({"op":"tool","tool":"pen"})", timeout);
            done = true;
        });
        loop->runUntil([&] { return done.load(); }, 5s);
        caller.join();
        return got;
    };
    EXPECT_EQ(ask([](const std::string&) { return EvalResult{std::string("pen"), {}}; }), "pen");
    EXPECT_EQ(ask([](const std::string&) { return EvalResult{nlohmann::json{{"a", 1}}, {}}; }), R"({"a":1})");
    EXPECT_EQ(ask([](const std::string&) { return EvalResult{nlohmann::json(true), {}}; }), std::nullopt);
    EXPECT_EQ(ask([](const std::string&) { return EvalResult{std::monostate{}, std::string("TypeError: x")}; }),
              std::nullopt);
    EXPECT_EQ(logged().back(), "Drawing layer command failed: TypeError: x");
    EXPECT_EQ(factory->web->scripts.back(), R"(SCB.command({"op":"tool","tool":"pen"}))");

    // A page that never answers: none after the limit, and the late answer is harmless.
    factory->web->answer = nullptr;
    std::optional<std::string> late = "unset";
    std::thread caller([&] { late = overlay->command("{}", 0.05); });
    loop->runUntil([&] { return !factory->web->pending.empty(); }, 5s);
    caller.join();
    EXPECT_EQ(late, std::nullopt);
    factory->web->pending.back()(EvalResult{std::string("too late"), {}});
}

TEST_F(OverlayPageTest, NumbersAndEncoding) {
    EXPECT_EQ(Overlay::num(3.0), "3");
    EXPECT_EQ(Overlay::num(2.5), "2.50");
    EXPECT_EQ(Overlay::num(-1.0), "-1");
    EXPECT_EQ(Overlay::num(85.3), "85.30");
    EXPECT_EQ(Overlay::num(std::nan("")), "0");
    EXPECT_EQ(Overlay::num(-INFINITY), "0");
    EXPECT_EQ(Overlay::num(-0.004), "-0.00");
    EXPECT_EQ(Overlay::num(123456789.125), "123456789.12"); // rounded as %.2f rounds the double
    EXPECT_EQ(Overlay::num(1e15 + 0.5), "1000000000000000.50");
    // Every digit at any size: the double's exact decimal value.
    EXPECT_EQ(Overlay::num(1e63), "1000000000000000057857959942726969827393378689175040438172647424");
    EXPECT_EQ(Overlay::num(1e300).size(), 301u);
    EXPECT_EQ(Overlay::num(1e300).substr(0, 17), "10000000000000000");
    const std::string most = Overlay::num(-std::numeric_limits<double>::max());
    EXPECT_EQ(most.size(), 310u);
    EXPECT_EQ(most.substr(0, 20), "-1797693134862315708");
    EXPECT_EQ(most.find_first_not_of("-0123456789"), std::string::npos);
    EXPECT_EQ(Overlay::enc("Pen-2_a.b~"), "Pen-2_a.b~");
    EXPECT_EQ(Overlay::enc("a b&c"), "a%20b%26c");
    EXPECT_EQ(Overlay::enc("é"), "%C3%A9");
    EXPECT_EQ(Overlay::enc("+/?="), "%2B%2F%3F%3D");
}

TEST_F(OverlayPageTest, HugeNumbersReachTheAddressWhole) {
    Geom g = slideGeom();
    g.slideW = 1e70;
    g.slideH = 2.5e64;
    overlay->open(g, std::nullopt, "");
    const std::string url = factory->web->url;
    EXPECT_NE(url.find("?sw=" + Overlay::num(1e70) + "&sh=" + Overlay::num(2.5e64) + "&x="), std::string::npos) << url;
    EXPECT_EQ(Overlay::num(1e70).size(), 71u);
}

TEST_F(OverlayPageTest, GeometryIsSentAgainWhenAnyOfItsFiguresChanges) {
    openReady(slideGeom());
    auto sent = [&] { return scriptsSent().size(); };
    ASSERT_EQ(sent(), 1u);
    const std::string first = scriptsSent()[0];
    overlay->realign("960|540|100|200|1060|740|100|0|0|1400|880|257|0|100");
    EXPECT_EQ(sent(), 1u);
    overlay->realign("960|540|100.00390625|200|1060.00390625|740|100|0|0|1400|880|257|0|100"); // the same to two decimals
    EXPECT_EQ(sent(), 1u);
    overlay->realign("960|540|100|200|1060|740|100|0|0|1400|880|257|1|100"); // Fit only
    ASSERT_EQ(sent(), 2u);
    EXPECT_NE(scriptsSent()[1].find(R"("fit":true)"), std::string::npos);
    overlay->realign("960|540|100|200|1060|740|100|0|0|1400|880|257|1|60"); // the pane guess only
    ASSERT_EQ(sent(), 3u);
    EXPECT_EQ(scriptsSent()[2].substr(scriptsSent()[2].find(R"("pz")")), scriptsSent()[1].substr(scriptsSent()[1].find(R"("pz")")));
    overlay->realign("960|540|100|200|1060|740|100|0|0|1400|880|257|1|60|");
    EXPECT_EQ(sent(), 3u);
    overlay->realign("960|540|100|201|1060|741|100|0|0|1400|880|257|1|60"); // y only
    EXPECT_EQ(sent(), 4u);
    overlay->realign("1000|540|100|201|1060|741|0|0|0|1400|880|257|1|60"); // the scale only
    ASSERT_EQ(sent(), 5u);
    EXPECT_NE(scriptsSent()[4].find(R"("pz":96.0)"), std::string::npos) << scriptsSent()[4];
    // The same numbers are sent again once the page asks for them afresh.
    factory->web->crash();
    factory->web->post({{"type", "ready"}});
    ASSERT_EQ(sent(), 6u);
    EXPECT_EQ(scriptsSent()[5], scriptsSent()[4]);
}

TEST_F(OverlayPageTest, MousePassesThroughOutsideTheRegionsOnly) {
    openReady(slideGeom());
    auto* panel = factory->panel;
    const double top = panel->frame().maxY();
    loop->advance(Overlay::tickInterval);
    EXPECT_FALSE(panel->ignoring); // no regions yet: the page takes every click

    factory->web->post({{"type", "regions"}, {"rects", {{10, 10, 100, 40}}}, {"all", false}});
    input->at = {5, top - 5};
    loop->advance(Overlay::tickInterval);
    EXPECT_TRUE(panel->ignoring);
    input->at = {10, top - 10}; // on the smaller edges: inside
    loop->advance(Overlay::tickInterval);
    EXPECT_FALSE(panel->ignoring);
    input->held = true; // dragging out keeps the page's hold
    input->at = {500, top - 500};
    loop->advance(Overlay::tickInterval);
    EXPECT_FALSE(panel->ignoring);
    input->held = false;
    loop->advance(Overlay::tickInterval);
    EXPECT_TRUE(panel->ignoring);
    input->at = {110, top - 30}; // the larger x edge: outside
    loop->advance(Overlay::tickInterval);
    EXPECT_TRUE(panel->ignoring);
    const int writes = panel->ignoreWrites;
    loop->advance(Overlay::tickInterval * 10);
    EXPECT_EQ(panel->ignoreWrites, writes); // written only when it changes

    factory->web->post({{"type", "regions"}, {"rects", nlohmann::json::array()}, {"all", true}});
    loop->advance(Overlay::tickInterval);
    EXPECT_FALSE(panel->ignoring);
}

TEST_F(OverlayPageTest, CommandWAndPeriodCloseTheLayerOthersPassOn) {
    openReady(slideGeom());
    auto key = [](bool cmd, bool opt, bool ctrl, std::string ch, bool inPanel = true) {
        KeyEvent e;
        e.command = cmd;
        e.option = opt;
        e.control = ctrl;
        e.charactersIgnoringModifiers = std::move(ch);
        e.inLayerPanel = inPanel;
        return e;
    };
    EXPECT_FALSE(input->press(key(true, true, false, "w")));
    EXPECT_FALSE(input->press(key(false, false, true, "w")));
    EXPECT_FALSE(input->press(key(true, false, false, "w", false))); // another window
    EXPECT_FALSE(input->press(key(true, false, false, "q")));
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_TRUE(input->press(key(true, false, false, "W")));
    EXPECT_FALSE(overlay->isOpen());

    openReady(slideGeom());
    EXPECT_TRUE(input->press(key(true, false, false, ".")));
    EXPECT_FALSE(overlay->isOpen());
}

} // namespace
