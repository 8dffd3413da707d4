// The GTK adapters' arithmetic, which needs no display: the two coordinate conventions, the
// order of the screens, the status window's resizing, key presses and WebKit's error names.
#include <gtest/gtest.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "adapters/gtk/desktop_flip.hpp"
#include "adapters/gtk/glib_loop.hpp"
#include "adapters/gtk/page_view.hpp"
#include "adapters/gtk/status_window.hpp"
#include "adapters/gtk/x11_input.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;

namespace {

// Two monitors side by side, the primary one on the right and not at the root's origin, as
// an X desktop with the laptop panel moved right and lower.
const std::vector<MonitorArea> twoMonitors = {
    {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 1, false},
    {{1920, 200, 1512, 982}, {1920, 232, 1512, 950}, 2, true},
};

TEST(GtkDesktopTest, ThePrimaryMonitorComesFirstAndStartsAtTheOrigin) {
    const Desktop d = desktopFrom(twoMonitors);
    ASSERT_EQ(d.screens.size(), 2u);
    EXPECT_EQ(d.screens[0].frame, (Rect{0, 0, 1512, 982}));
    EXPECT_EQ(d.screens[0].backingScale, 2);
    // Its work area loses 32 points at the top: in the bottom-left convention that is the top
    // of the rectangle, so only the height shrinks.
    EXPECT_EQ(d.screens[0].visibleFrame, (Rect{0, 0, 1512, 950}));
    // The other monitor lies left of it and reaches 200 points higher.
    EXPECT_EQ(d.screens[1].frame, (Rect{-1920, 102, 1920, 1080}));
    EXPECT_EQ(d.screens[1].visibleFrame, (Rect{-1920, 142, 1920, 1040}));
}

TEST(GtkDesktopTest, WithoutAPrimaryTheMonitorAtTheOriginLeads) {
    auto monitors = twoMonitors;
    monitors[1].primary = false;
    std::swap(monitors[0], monitors[1]);
    const Desktop d = desktopFrom(monitors);
    EXPECT_EQ(d.screens[0].frame, (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(d.flip.height, 1080);

    monitors[1].geometry.x = 5; // nobody at the origin: the first
    EXPECT_EQ(desktopFrom(monitors).screens[0].frame, (Rect{0, 0, 1512, 982}));
    EXPECT_TRUE(desktopFrom({}).screens.empty());
}

TEST(GtkDesktopTest, AWorkAreaOutsideItsMonitorIsIgnoredAndScalesAreAtLeastOne) {
    const Desktop d = desktopFrom({{{0, 0, 800, 600}, {700, 0, 800, 600}, 0, true}});
    EXPECT_EQ(d.screens[0].visibleFrame, d.screens[0].frame);
    EXPECT_EQ(d.screens[0].backingScale, 1);
}

TEST(GtkDesktopTest, PointsAndRectanglesGoBothWaysThroughTheFlip) {
    const DesktopFlip flip = desktopFrom(twoMonitors).flip;
    // The primary monitor's top-left pixel is the platform's (0, H).
    const Point corner = flip.pointToPlatform(1920, 200);
    EXPECT_EQ(corner.x, 0);
    EXPECT_EQ(corner.y, 982);
    const Point back = flip.pointToRoot({100, 900});
    EXPECT_EQ(back.x, 2020);
    EXPECT_EQ(back.y, 282);

    const Rect root{2000, 300, 640, 480};
    const Rect platform = flip.toPlatform(root);
    EXPECT_EQ(platform, (Rect{80, 402, 640, 480}));
    EXPECT_EQ(flip.toRoot(platform), root);
    // The core's conversion of a global top-left point (x, H - y) agrees with the flip.
    const Point topLeft = flip.pointToPlatform(root.x, root.y);
    EXPECT_EQ(topLeft.y, platform.maxY());
}

TEST(GtkDesktopTest, StatusElementsKeepTheirDistanceToTheTopAndStretchAsTold) {
    const StatusLayout::Size laidOut{600, 480};
    const Rect label{20, 344, 560, 116}, button{14, 300, 200, 32}, log{20, 20, 560, 272};
    // At the size they were laid out for: the same frames, turned upside down.
    EXPECT_EQ(placeInContent(label, laidOut, laidOut, {true, false}), (Rect{20, 20, 560, 116}));
    EXPECT_EQ(placeInContent(button, laidOut, laidOut, {}), (Rect{14, 148, 200, 32}));
    EXPECT_EQ(placeInContent(log, laidOut, laidOut, {true, true}), (Rect{20, 188, 560, 272}));
    // Bigger: the label widens, the button stays, the log view takes the rest.
    const StatusLayout::Size big{800, 600};
    EXPECT_EQ(placeInContent(label, laidOut, big, {true, false}), (Rect{20, 20, 760, 116}));
    EXPECT_EQ(placeInContent(button, laidOut, big, {}), (Rect{14, 148, 200, 32}));
    EXPECT_EQ(placeInContent(log, laidOut, big, {true, true}), (Rect{20, 188, 760, 392}));
    // At the smallest size the log view is still there; smaller than nothing it never gets.
    EXPECT_EQ(placeInContent(log, laidOut, {460, 380}, {true, true}), (Rect{20, 188, 420, 172}));
    EXPECT_EQ(placeInContent(log, laidOut, {100, 100}, {true, true}).h, 0);
}

TEST(GtkKeysTest, CtrlStandsForCommandAltForOptionSuperForControl) {
    const KeyEvent w = keyEventFrom(GDK_CONTROL_MASK, GDK_KEY_w);
    EXPECT_TRUE(w.command);
    EXPECT_FALSE(w.option);
    EXPECT_FALSE(w.control);
    EXPECT_EQ(w.charactersIgnoringModifiers, "w");
    EXPECT_FALSE(w.inLayerPanel); // the monitor sets it from the event's window

    const KeyEvent shifted = keyEventFrom(GDK_CONTROL_MASK | GDK_SHIFT_MASK, GDK_KEY_W);
    EXPECT_TRUE(shifted.command);
    EXPECT_EQ(shifted.charactersIgnoringModifiers, "W");

    const KeyEvent alt = keyEventFrom(GDK_CONTROL_MASK | GDK_MOD1_MASK, GDK_KEY_period);
    EXPECT_TRUE(alt.option);
    EXPECT_EQ(alt.charactersIgnoringModifiers, ".");

    EXPECT_TRUE(keyEventFrom(GDK_MOD4_MASK, GDK_KEY_w).control);
    EXPECT_TRUE(keyEventFrom(GDK_SUPER_MASK, GDK_KEY_w).control);
    EXPECT_FALSE(keyEventFrom(0, GDK_KEY_w).command);
    // Keys without a character, and characters beyond ASCII.
    EXPECT_EQ(keyEventFrom(GDK_CONTROL_MASK, GDK_KEY_Left).charactersIgnoringModifiers, "");
    EXPECT_EQ(keyEventFrom(0, GDK_KEY_eacute).charactersIgnoringModifiers, "\xC3\xA9");
}

TEST(GtkPageErrorsTest, CancellationsInterruptionsAndTimeOutsAreKnownAndTheRestIsOther) {
    using Kind = PageLoadFailureKind;
    const std::string network = g_quark_to_string(WEBKIT_NETWORK_ERROR);
    const std::string policy = g_quark_to_string(WEBKIT_POLICY_ERROR);
    const std::string io = g_quark_to_string(G_IO_ERROR);
    EXPECT_EQ(pageLoadFailureKind(network, WEBKIT_NETWORK_ERROR_CANCELLED), Kind::cancelled);
    EXPECT_EQ(pageLoadFailureKind(io, G_IO_ERROR_CANCELLED), Kind::cancelled);
    EXPECT_EQ(pageLoadFailureKind(policy, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE),
              Kind::frameInterrupted);
    EXPECT_EQ(pageLoadFailureKind(io, G_IO_ERROR_TIMED_OUT), Kind::timedOut);
    // Everything else closes the layer; a code is only known within its own domain.
    EXPECT_EQ(pageLoadFailureKind(network, WEBKIT_NETWORK_ERROR_FAILED), Kind::other);
    EXPECT_EQ(pageLoadFailureKind(policy, WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI), Kind::other);
    EXPECT_EQ(pageLoadFailureKind("elsewhere", WEBKIT_NETWORK_ERROR_CANCELLED), Kind::other);
}

TEST(GtkDelayTest, DelaysBecomeWholeMillisecondsNeverShorter) {
    EXPECT_EQ(GlibMainLoop::milliseconds(std::chrono::nanoseconds(1'000'000'000 / 60)), 17u);
    EXPECT_EQ(GlibMainLoop::milliseconds(std::chrono::milliseconds(15)), 15u);
    EXPECT_EQ(GlibMainLoop::milliseconds(std::chrono::microseconds(1)), 1u);
    EXPECT_EQ(GlibMainLoop::milliseconds(Duration::zero()), 0u);
    EXPECT_EQ(GlibMainLoop::milliseconds(-std::chrono::seconds(3)), 0u);
    EXPECT_EQ(GlibMainLoop::milliseconds(std::chrono::hours(24 * 365 * 200)), 4000000000u);
}

} // namespace
