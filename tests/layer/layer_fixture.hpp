#pragma once
// A layer with every port faked: two screens, the program with its window and add-in, an
// accessibility tree, a page that can be played, and the clock on virtual time.
#include "support/core_fixture.hpp"
#include "support/slide_editor.hpp"

namespace scribbet::test {

class LayerTest : public CoreTest {
protected:
    LayerTest() {
        screens->set({{0, 0, 1440, 900}, {1440, 0, 1920, 1080}});
        ax->isTrusted = false;
        windows->windows = std::vector<WindowInfo>{{4242, 0, Rect{0, 0, 1400, 880}}};
        transport->respond = [this](const fake::FakeMacroTransport::Sent&) {
            std::lock_guard lock(whereMutex);
            return fake::FakeMacroTransport::direct(where);
        };
    }
    ~LayerTest() override { quiesce(); }

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

    std::mutex whereMutex;
    std::string where = "OK|960|540|100|200|1060|740|100|0|0|1400|880|257|0|100";
};

// The layer in pane mode, over an editor whose document is the slide at 100 % plus its margins.
class PaneLayerTest : public LayerTest {
protected:
    void openInPaneMode() {
        ax->isTrusted = true;
        programWithEditor(*ax, 4242, {0, 0, 1400, 880}, editor);
        const auto pane = reader.read(std::nullopt);
        ASSERT_TRUE(pane);
        openReady(slideGeom(), pane);
    }
    // The scripts sent to the page that hold `part`.
    int commandsWith(const std::string& part) {
        int n = 0;
        for (const auto& s : scriptsSent()) n += s.find(part) != std::string::npos;
        return n;
    }
    int geomCommands() { return commandsWith(R"("op":"geom")"); }

    SlideEditor editor{{100, 150, 1200, 700}, 996, 576};
};

} // namespace scribbet::test
