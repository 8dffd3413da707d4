// What one 60 Hz tick of an open layer costs when nothing changes: heap allocations per tick
// (counted here) and instructions per tick (bench/tick_instructions.sh runs this under
// callgrind). Usage: tick_bench addin|pane TICKS
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <semaphore>
#include <string>

#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "log/app_state.hpp"
#include "adapters/fake/fake_accessibility.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "adapters/fake/fake_powerpoint.hpp"
#include "adapters/fake/virtual_loop.hpp"
#include "program/ppt.hpp"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace scribbet;

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "addin";
    const long ticks = argc > 2 ? std::atol(argv[2]) : 10000;

    auto clock = std::make_shared<fake::VirtualClock>();
    auto loop = std::make_shared<fake::VirtualMainLoop>(clock);
    MainQueue::install(loop, clock);
    AppState::install("/dev/null");
    auto screens = std::make_shared<fake::FakeScreens>();
    screens->set({{0, 0, 1440, 900}});
    Screens::install(screens);
    auto workspace = std::make_shared<fake::FakeWorkspace>();
    auto windows = std::make_shared<fake::FakeWindowList>();
    windows->windows = std::vector<WindowInfo>{{4242, 0, Rect{0, 0, 1400, 880}}};
    auto transport = std::make_shared<fake::FakeMacroTransport>();
    transport->respond = [](const auto&) {
        return fake::FakeMacroTransport::direct("OK|960|540|100|200|1060|740|100|0|0|1400|880|257|0|100");
    };
    PPT::install({transport, windows, workspace});
    auto ax = std::make_shared<fake::FakeAccessibility>();
    ax->isTrusted = mode == "pane";
    AXAccess::install(ax);

    // The slide editor, for pane mode.
    auto app = fake::FakeAXNode::make("AXApplication");
    auto win = fake::FakeAXNode::make("AXWindow", Rect{0, 0, 1400, 880});
    auto scroll = win->add(fake::FakeAXNode::make("AXScrollArea", Rect{100, 150, 1200, 700}));
    auto layout = scroll->add(fake::FakeAXNode::make("AXLayoutArea", Rect{100, 150, 1200, 700}));
    layout->attrs["AXDescription"] = std::string("Slide Editor");
    app->attrs["AXWindows"] = std::vector<AXRef>{win};
    ax->apps[4242] = app;

    auto factory = std::make_shared<fake::FakeLayerFactory>();
    auto input = std::make_shared<fake::FakeInputMonitors>();
    PaneReader reader(ax);
    SerialQueue measure("bench.measure");
    auto overlay = std::make_shared<Overlay>(Overlay::Ports{factory, input, workspace, &reader, &measure});
    const Geom g = *Geom::from("960|540|100|200|1060|740|100|0|0|1400|880|257|0|100", {}, std::nullopt);
    overlay->open(g, mode == "pane" ? reader.read(std::nullopt) : std::nullopt, "pen");
    factory->web->post({{"type", "ready"}});
    factory->web->post({{"type", "regions"}, {"rects", {{0, 0, 100, 40}}}, {"all", false}});

    // Settle the first measurement, then count the quiet ticks.
    auto settle = [&] {
        reader.queue().sync([] {});
        measure.sync([] {});
        loop->runPending();
    };
    for (int i = 0; i < 120; ++i) {
        loop->advance(Overlay::tickInterval);
        settle();
    }
    // In pane mode each tick reads the pane on the reader's queue; the next tick must find
    // that read done, as it would 16 ms later. The wait itself is kept cheap (one task that
    // fits a std::function without allocating) so that what is counted is the layer's tick.
    // The add-in's measurements (about one a second) come back whenever they are done.
    std::binary_semaphore readDone{0};
    auto readerDone = [&] {
        reader.queue().async([&readDone] { readDone.release(); });
        readDone.acquire();
        loop->runPending();
    };
    const long before = allocations.load();
    for (long i = 0; i < ticks; ++i) {
        loop->advance(Overlay::tickInterval);
        if (mode == "pane") readerDone();
    }
    measure.sync([] {});
    const long used = allocations.load() - before;
    std::printf("%s mode: %ld ticks, %.2f allocations per tick, %zu geometry commands sent\n", mode.c_str(), ticks,
                ticks ? double(used) / double(ticks) : 0.0, factory->web->scripts.size());
    overlay->teardown();
    return 0;
}
