#pragma once
// A layer with every port faked: two screens, the program with its window and add-in, an
// accessibility tree, a page that can be played, and the clock on virtual time.
#include <gtest/gtest.h>

#include "app/settings.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "adapters/fake/fake_accessibility.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "ports/preferences.hpp"
#include "powerpoint/ppt.hpp"
#include "support/test_env.hpp"

namespace scribbet::test {

class LayerTest : public VirtualMainTest {
protected:
    LayerTest() {
        Settings::setCurrent(Settings{});
        Preferences::install(nullptr);
        screens->set({{0, 0, 1440, 900}, {1440, 0, 1920, 1080}});
        Screens::install(screens);
        ax->isTrusted = false;
        AXAccess::install(ax);
        PPT::install({transport, windows, workspace});
        windows->windows = std::vector<WindowInfo>{{4242, 0, Rect{0, 0, 1400, 880}}};
        transport->respond = [this](const fake::FakeMacroTransport::Sent&) {
            std::lock_guard lock(whereMutex);
            return fake::FakeMacroTransport::direct(where);
        };
        overlay = std::make_shared<Overlay>(Overlay::Ports{factory, input, workspace, &reader, &measureQueue});
    }
    ~LayerTest() override {
        if (overlay) overlay->teardown(); // a test may have let its layer go
        reader.queue().sync([] {});
        measureQueue.sync([] {});
        PPT::install({});
        AXAccess::install(nullptr);
        Screens::install(nullptr);
    }

    // The usual slide: 960 x 540 points at 100, 200 on the primary screen, 100 %.
    static Geom slideGeom() {
        auto g = Geom::from("960|540|100|200|1060|740|100|0|0|1400|880|257|0|100", {}, std::nullopt);
        return *g;
    }
    void setWhere(std::string reply) {
        std::lock_guard lock(whereMutex);
        where = std::move(reply);
    }
    int whereCalls() { return static_cast<int>(transport->sentSoFar().size()); }
    // Lets background hops come back, without moving virtual time.
    void settle() {
        for (int i = 0; i < 2; ++i) {
            reader.queue().sync([] {});
            measureQueue.sync([] {});
            loop->runPending();
        }
    }
    // Advances virtual time in ticks, letting every hop come back as it goes.
    void run(Duration d) {
        const Instant end = clock->now() + d;
        while (clock->now() < end) {
            loop->advance(std::min<Duration>(Overlay::tickInterval, end - clock->now()));
            settle();
        }
    }
    void openReady(const Geom& g, std::optional<PaneState> pane = std::nullopt, std::string tool = "pen") {
        overlay->open(g, pane, tool);
        factory->web->post({{"type", "ready"}});
    }
    std::vector<std::string> scriptsSent() const { return factory->web ? factory->web->scripts : std::vector<std::string>{}; }

    std::shared_ptr<fake::FakeScreens> screens = std::make_shared<fake::FakeScreens>();
    std::shared_ptr<fake::FakeAccessibility> ax = std::make_shared<fake::FakeAccessibility>();
    std::shared_ptr<fake::FakeMacroTransport> transport = std::make_shared<fake::FakeMacroTransport>();
    std::shared_ptr<fake::FakeWindowList> windows = std::make_shared<fake::FakeWindowList>();
    std::shared_ptr<fake::FakeWorkspace> workspace = std::make_shared<fake::FakeWorkspace>();
    std::shared_ptr<fake::FakeLayerFactory> factory = std::make_shared<fake::FakeLayerFactory>();
    std::shared_ptr<fake::FakeInputMonitors> input = std::make_shared<fake::FakeInputMonitors>();
    PaneReader reader{ax};
    SerialQueue measureQueue{"test.measure"};
    std::shared_ptr<Overlay> overlay;
    std::mutex whereMutex;
    std::string where = "OK|960|540|100|200|1060|740|100|0|0|1400|880|257|0|100";
};

} // namespace scribbet::test
