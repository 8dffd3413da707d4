// The layer following the stand-in's view through the real adapters: a zoom and a scroll in
// the presentation program move the layer's slide to where the program draws it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/settings.hpp"
#include "app/idle.hpp"
#include "app/notice.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "adapters/linux/standin_adapters.hpp"
#include "adapters/linux/standin_link.hpp"
#include "program/ppt.hpp"
#include "support/process.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

class LayerFollowTest : public test::VirtualMainTest {
protected:
    LayerFollowTest() {
        socket = (dir / "standin.sock").string();
        ::setenv("SCRIBBET_STANDIN_SOCKET", socket.c_str(), 1);
        standin = std::make_unique<test::Process>(
            std::vector<std::string>{SCRIBBET_STANDIN_PROGRAM, "serve", "--socket", socket},
            std::vector<std::string>{"HOME=" + dir.path().string(), "PATH=/usr/bin:/bin"});
        EXPECT_TRUE(test::eventually([&] { return standin::call({{"op", "state"}}, 1s).ok(); }));
        overlay = std::make_shared<Overlay>(Overlay::Ports{factory, input, workspace, reader, measure, main, screens,
                                                           prefs, ppt, ax, notice, idle, Settings{}.port});
    }
    ~LayerFollowTest() override {
        overlay->teardown();
        reader.queue().sync([] {});
        measure.sync([] {});
        standin::call({{"op", "quit"}}, 1s);
        standin->wait();
        ::unsetenv("SCRIBBET_STANDIN_SOCKET");
    }
    void set(const json& values) { standin::call({{"op", "set"}, {"values", values}}, 2s); }
    // Where the program draws the slide now, in global points.
    Rect programSlide() {
        const auto a = standin::call({{"op", "state"}}, 2s);
        const auto n = Geom::numbers(a.body.value("geometry", ""));
        return Rect{n[2], n[3], n[4] - n[2], n[5] - n[3]};
    }
    void run(Duration d) {
        const Instant end = clock->now() + d;
        while (clock->now() < end) {
            loop->advance(Overlay::tickInterval);
            reader.queue().sync([] {});
            measure.sync([] {});
            loop->runPending();
        }
    }
    void expectFollows() {
        const Rect want = programSlide();
        const Rect got = overlay->geom()->rect;
        EXPECT_NEAR(got.x, want.x, 0.5);
        EXPECT_NEAR(got.y, want.y, 0.5);
        EXPECT_NEAR(got.w, want.w, 0.5);
        EXPECT_NEAR(got.h, want.h, 0.5);
    }
    void openLayer(bool pane) {
        const auto where = standin::call({{"op", "macro"}, {"name", "SCBT_Pen.SCBT_Geom"}, {"args", json::array()}}, 2s);
        const auto geom = main.syncValue([&] { return Geom::from(where.body.value("direct", "").substr(3), screens, ppt); });
        ASSERT_TRUE(geom);
        std::optional<PaneState> p;
        if (pane) reader.queue().sync([&] { p = reader.read(geom->window); });
        ASSERT_EQ(p.has_value(), pane);
        overlay->open(*geom, p, "pen");
        factory->web->post({{"type", "ready"}});
    }

    std::string socket;
    std::unique_ptr<test::Process> standin;
    // The program's side through the stand-in's adapters; what the layer shows, on fakes.
    std::shared_ptr<linuxhost::StandinWorkspace> workspace = std::make_shared<linuxhost::StandinWorkspace>(main);
    linuxhost::StandinScreens screens;
    std::shared_ptr<Accessibility> axPort = std::make_shared<linuxhost::StandinAccessibility>();
    MemoryPreferences prefs;
    PPT ppt{{std::make_shared<linuxhost::StandinMacroTransport>(), std::make_shared<linuxhost::StandinWindowList>(),
             workspace},
            main,
            Settings{}.macroPrefix};
    AXAccess ax{{axPort, prefs, workspace, true, "?"}};
    PaneReader reader{axPort, main.clock(), ppt};
    Notice notice{{nullptr, nullptr, screens, main}};
    Idle idle{{main, state, nullptr, nullptr}};
    std::shared_ptr<fake::FakeLayerFactory> factory = std::make_shared<fake::FakeLayerFactory>();
    std::shared_ptr<fake::FakeInputMonitors> input = std::make_shared<fake::FakeInputMonitors>();
    SerialQueue measure{"test.measure"};
    std::shared_ptr<Overlay> overlay;
};

TEST_F(LayerFollowTest, InPaneModeAZoomAndAScrollAreFollowed) {
    set({{"fit", false}, {"zoom", 100}, {"ax.trusted", true}});
    openLayer(true);
    ASSERT_TRUE(overlay->host());
    run(200ms);
    expectFollows();
    set({{"zoom", 175}});
    run(500ms);
    expectFollows();
    set({{"scroll", "0.7,0.3"}});
    run(500ms);
    expectFollows();
}

TEST_F(LayerFollowTest, WithoutAccessibilityAWindowMoveIsMeasuredAndFollowed) {
    set({{"fit", true}, {"ax.trusted", false}});
    openLayer(false);
    ASSERT_FALSE(overlay->host());
    run(500ms);
    expectFollows();
    const auto state = standin::call({{"op", "state"}}, 2s).body;
    auto window = state["window"];
    ASSERT_TRUE(window.is_array());
    window[0] = window[0].get<double>() + 40;
    window[1] = window[1].get<double>() + 25;
    set({{"window", window}});
    run(1200ms); // seen within 0.5 s, measured 0.3 s later
    expectFollows();
}

} // namespace
