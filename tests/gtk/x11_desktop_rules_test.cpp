// What the window manager's desktop means to the ports, without an X server: pixels to points,
// which windows the list shows and in which order, the window a program is brought forward by,
// and what a new reading of the desktop changed.
#include <gtest/gtest.h>

#include "adapters/gtk/x11_desktop_rules.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace scribbet::gtkhost::desktop_rules;

namespace {

ManagedWindow window(Xid xid, std::optional<int> pid, Rect client = {10, 20, 800, 600}) {
    ManagedWindow w;
    w.xid = xid;
    w.pid = pid;
    w.client = client;
    return w;
}

std::vector<Xid> xids(const std::vector<ManagedWindow>& windows) {
    std::vector<Xid> out;
    for (const auto& w : windows) out.push_back(w.xid);
    return out;
}

DesktopState desktop(std::vector<ManagedWindow> stacked, std::optional<Xid> active = std::nullopt) {
    DesktopState s;
    s.managed = true;
    s.stacked = std::move(stacked);
    s.active = active;
    return s;
}

TEST(GtkDesktopRulesTest, PixelsBecomePointsFromThePrimaryMonitorsCorner) {
    // A doubled desktop whose primary monitor starts at (1920, 200) points on the root.
    const DesktopFlip flip{1920, 200, 982};
    EXPECT_EQ(toPoints({4000, 600, 1280, 960}, 2, flip), (Rect{80, 100, 640, 480}));
    // A window on the monitor left of the primary one lies at negative x.
    EXPECT_EQ(toPoints({100, 400, 200, 100}, 1, flip), (Rect{-1820, 200, 200, 100}));
    // A scale nobody could have meant counts as one, never as a division by zero.
    EXPECT_EQ(toPoints({10, 20, 30, 40}, 0, {}), (Rect{10, 20, 30, 40}));
}

TEST(GtkDesktopRulesTest, TheListShowsOnlyWhatTheUserSeesFrontToBackByLayer) {
    auto minimized = window(2, 100);
    minimized.minimized = true;
    auto shaded = window(3, 100);
    shaded.shaded = true;
    auto elsewhere = window(4, 100);
    elsewhere.onCurrentWorkspace = false;
    auto background = window(5, 1);
    background.kind = WindowKind::desktop;
    auto empty = window(6, 100, {0, 0, 0, 0});
    auto dock = window(7, 1);
    dock.kind = WindowKind::dock;
    auto palette = window(8, 100);
    palette.kind = WindowKind::utility;
    auto kept = window(9, 200);
    kept.above = true;
    // Bottom to top, as the window manager stacks them, docks and palettes among the rest.
    const std::vector<ManagedWindow> stacked = {dock,    window(1, 100), minimized, shaded,       elsewhere,
                                                palette, background,     empty,     window(10, 200), kept,
                                                window(11, 300)};
    EXPECT_EQ(xids(frontToBack(stacked)), (std::vector<Xid>{7, 9, 8, 11, 10, 1}));
    EXPECT_EQ(layerOf(dock), dockLayer);
    EXPECT_EQ(layerOf(palette), floatingLayer);
    EXPECT_EQ(layerOf(kept), floatingLayer);
    auto dialog = window(12, 100);
    dialog.kind = WindowKind::dialog;
    EXPECT_EQ(layerOf(dialog), normalLayer);
    EXPECT_TRUE(frontToBack({}).empty());
}

TEST(GtkDesktopRulesTest, AProgramIsBroughtForwardByItsTopmostOrdinaryWindow) {
    auto palette = window(3, 100);
    palette.kind = WindowKind::toolbar;
    auto hidden = window(4, 100);
    hidden.minimized = true;
    // Its palette is on top, yet the palette is no window to activate it by.
    EXPECT_EQ(topmostOf(desktop({window(1, 100), window(2, 200), palette}), 100), 1u);
    // A window on screen goes before a minimized one above it.
    EXPECT_EQ(topmostOf(desktop({window(1, 100), hidden}), 100), 1u);
    // With only minimized or far-away windows, the topmost of those comes back.
    auto far = window(5, 100);
    far.onCurrentWorkspace = false;
    EXPECT_EQ(topmostOf(desktop({far, hidden}), 100), 4u);
    EXPECT_EQ(topmostOf(desktop({window(1, 100), palette}), 200), std::nullopt);
    EXPECT_EQ(topmostOf(desktop({palette}), 100), std::nullopt);
}

TEST(GtkDesktopRulesTest, TheActiveWindowNamesItsProcessOrNobody) {
    const auto s = desktop({window(1, 100), window(2, std::nullopt)}, 1);
    EXPECT_EQ(activePid(s), 100);
    EXPECT_EQ(activeOwner(s), 100);
    // A window that names no process owns itself, as a number no process has.
    EXPECT_EQ(activePid(desktop(s.stacked, 2)), std::nullopt);
    EXPECT_EQ(activeOwner(desktop(s.stacked, 2)), -2);
    EXPECT_EQ(activeOwner(desktop(s.stacked)), std::nullopt);
    // An active window the list does not hold (being mapped, say) is nobody's process.
    EXPECT_EQ(activePid(desktop(s.stacked, 9)), std::nullopt);

    // What a window manager that went away left on the root names nobody; its going is a
    // change of the active window, yet no process lost a window by it.
    auto left = s;
    left.managed = false;
    EXPECT_EQ(active(left), std::nullopt);
    EXPECT_EQ(activePid(left), std::nullopt);
    EXPECT_EQ(activeOwner(left), std::nullopt);
    const DesktopChange gone = between(s, left);
    EXPECT_TRUE(gone.activeChanged);
    EXPECT_TRUE(gone.closedPids.empty());
    EXPECT_TRUE(gone.any);
}

TEST(GtkDesktopRulesTest, ANewReadingTellsWhatMovedWhoIsActiveAndWhichProcessesHaveNoWindowLeft) {
    const auto before = desktop({window(1, 100), window(2, 100), window(3, 200), window(4, 300)}, 1);

    auto after = before;
    after.stacked[0].client.x += 5;       // moved
    after.stacked[2].client.w += 1;       // resized: its origin is told too
    after.stacked.erase(after.stacked.begin() + 1); // 100 keeps a window
    after.stacked.pop_back();             // 300 has none left
    after.stacked.push_back(window(5, 400)); // a new window is no move
    after.active = 3;
    const DesktopChange c = between(before, after);
    EXPECT_EQ(c.moved, (std::vector<Xid>{1, 3}));
    EXPECT_EQ(c.closedPids, (std::vector<int>{300}));
    EXPECT_TRUE(c.activeChanged);
    EXPECT_TRUE(c.any);

    // Raising and retitling move nothing; another scale moves every window.
    auto raised = before;
    std::swap(raised.stacked[0], raised.stacked[3]);
    raised.stacked[1].title = "Renamed";
    const DesktopChange r = between(before, raised);
    EXPECT_TRUE(r.moved.empty());
    EXPECT_FALSE(r.activeChanged);
    EXPECT_TRUE(r.closedPids.empty());
    EXPECT_TRUE(r.any);
    auto doubled = before;
    doubled.scale = 2;
    EXPECT_EQ(between(before, doubled).moved.size(), 4u);

    EXPECT_FALSE(between(before, before).any);
}

TEST(GtkDesktopRulesTest, TheFrontChangesOnlyWhenAnotherOwnerComesForward) {
    const std::vector<ManagedWindow> stacked = {window(1, 100), window(2, 100), window(3, 200), window(4, std::nullopt),
                                                window(5, std::nullopt)};
    ActivationWatch watch(100);
    EXPECT_FALSE(watch.seen(desktop(stacked, 2))); // the same program's other window
    EXPECT_TRUE(watch.seen(desktop(stacked, 3)));
    EXPECT_FALSE(watch.seen(desktop(stacked, 3)));
    // Nobody active while a window closes, then the same program again: no change at all.
    EXPECT_FALSE(watch.seen(desktop(stacked)));
    EXPECT_FALSE(watch.seen(desktop(stacked, 3)));
    // Nobody in between, then another program: one change.
    EXPECT_FALSE(watch.seen(desktop(stacked)));
    EXPECT_TRUE(watch.seen(desktop(stacked, 1)));
    // Windows without a process are owners of their own, never taken for each other.
    EXPECT_TRUE(watch.seen(desktop(stacked, 4)));
    EXPECT_TRUE(watch.seen(desktop(stacked, 5)));

    ActivationWatch fresh;
    EXPECT_TRUE(fresh.seen(desktop(stacked, 1)));
}

} // namespace
