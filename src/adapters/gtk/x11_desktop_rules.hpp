#pragma once
// What the window manager's desktop means to Scribbet, in portable C++: which windows count as
// on screen, in which order and layer the window list gives them, how X's pixels become the
// global points the ports speak, and what changed between two readings of the desktop.
//
// X keeps coordinates in device pixels with the origin at the root window's top-left corner.
// GDK divides them by its one window scale (GDK_SCALE), which gives the root points the
// monitors are measured in; the ports count from the primary monitor's top-left corner, which
// need not be the root's.
#include <optional>
#include <string>
#include <vector>

#include "adapters/gtk/desktop_flip.hpp"

namespace scribbet::gtkhost {

using Xid = unsigned long;

// The window types of the EWMH, those a presentation program's desktop shows.
enum class WindowKind { normal, dialog, utility, toolbar, menu, splash, dock, desktop };

struct ManagedWindow {
    Xid xid = 0;
    std::optional<int> pid; // from _NET_WM_PID; none when the client does not say
    std::string wmClass;    // WM_CLASS's class part
    std::string title;
    Rect client;            // the client area, without the frame: root pixels, top-left origin
    WindowKind kind = WindowKind::normal;
    bool minimized = false; // minimized or otherwise hidden by the window manager
    bool shaded = false;
    bool above = false;
    bool onCurrentWorkspace = true;

    friend bool operator==(const ManagedWindow&, const ManagedWindow&) = default;
};

// One reading of the desktop.
struct DesktopState {
    bool managed = false;               // an EWMH window manager runs
    std::vector<ManagedWindow> stacked; // every managed window, bottom to top
    std::optional<Xid> active;
    double scale = 1;                   // device pixels per point

    friend bool operator==(const DesktopState&, const DesktopState&) = default;
};

// What a new reading changed.
struct DesktopChange {
    std::vector<Xid> moved;     // windows whose client area moved or changed size
    bool activeChanged = false; // another window (or none) is active
    std::vector<int> closedPids; // processes that had windows and have none now
    bool any = false;           // anything differs at all, a title say
};

namespace desktop_rules {

// Layers as the window list gives them, in the Mac's window-level numbers the core knows:
// ordinary windows, floating palettes and windows kept above, the dock.
inline constexpr int normalLayer = 0;
inline constexpr int floatingLayer = 3;
inline constexpr int dockLayer = 20;

// A rectangle in root pixels as global points from the primary monitor's top-left corner.
Rect toPoints(const Rect& pixels, double scale, const DesktopFlip& flip);
// A window the user can see on this workspace: not minimized, shaded or empty, and not the
// desktop's own background window.
bool onScreen(const ManagedWindow& w);
int layerOf(const ManagedWindow& w);
// The windows on screen, front to back: higher layers first, then the window manager's
// stacking from the top.
std::vector<ManagedWindow> frontToBack(const std::vector<ManagedWindow>& stacked);
const ManagedWindow* find(const DesktopState& s, Xid xid);
// The active window; none when nobody is, or when no window manager keeps the desktop any more
// (the last one's word stays on the root after it went).
std::optional<Xid> active(const DesktopState& s);
std::optional<int> activePid(const DesktopState& s);
// The window of this process to bring to the front: its topmost ordinary window on screen,
// else its topmost ordinary window anywhere (minimized, another workspace), else none.
std::optional<Xid> topmostOf(const DesktopState& s, int pid);
DesktopChange between(const DesktopState& before, const DesktopState& after);

// Who owns the active window: its process, or for a window that names none, the window itself
// (as a negative number, so it never meets a process); none when no window is active.
std::optional<long long> activeOwner(const DesktopState& s);

// Tells when the front goes to another owner. Nobody active in between (the window manager's
// focus passing through the root while a window closes) is no change: the owner before it
// is still the one the front comes back to.
class ActivationWatch {
public:
    explicit ActivationWatch(std::optional<long long> front = std::nullopt) : last_(front) {}
    // The desktop as it is now; true when another owner came to the front.
    bool seen(const DesktopState& s);

private:
    std::optional<long long> last_;
};

} // namespace desktop_rules

} // namespace scribbet::gtkhost
