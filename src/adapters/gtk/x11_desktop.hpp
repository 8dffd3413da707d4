#pragma once
// The real X desktop around the presentation program, as the window manager keeps it (EWMH):
// the managed windows with their process, class, title, client area, stacking and state, and
// the active window. libwnck reads the window manager's properties and tells of every change
// as a signal on GLib's main loop, which is the main queue's loop here, so nothing polls.
//
// Each change is read once into a snapshot that any thread may ask (the pane reader and the
// program's queue ask from theirs); subscribers hear of it in a task of the main queue, after
// libwnck's signal has returned, so a handler may drop its subscription or the desktop itself.
//
// The client area is the application's own window without the frame the window manager puts
// around it: libwnck takes the client window's position on the root (XTranslateCoordinates)
// and its size each time the window manager tells the client it moved (ConfigureNotify).
//
// Without a window manager (a bare X server, an XWayland without one) there is no managed
// window and no active one: the desktop says so instead of guessing.
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "adapters/gtk/monitor_screens.hpp"
#include "adapters/gtk/x11_desktop_rules.hpp"
#include "ports/input_monitors.hpp"
#include "ports/subscription.hpp"
#include "runtime/queues.hpp"
#include "runtime/weak.hpp"

typedef struct _WnckHandle WnckHandle;
typedef struct _WnckScreen WnckScreen;
typedef struct _WnckWindow WnckWindow;
typedef struct _GdkWindow GdkWindow;

namespace scribbet::gtkhost {

// A window as the window list gives it: its client area in global points.
struct DesktopWindow {
    Xid xid = 0;
    std::optional<int> pid;
    std::string wmClass;
    std::string title;
    Rect client; // global points from the primary monitor's top-left corner
    int layer = desktop_rules::normalLayer;
};

class X11Desktop {
public:
    // Main thread, with GTK initialised on an X display (on another GDK backend the desktop
    // stays empty and unmanaged).
    X11Desktop(MainQueue& main, std::shared_ptr<MonitorScreens> screens);
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // ---- Any thread ----
    // Whether a window manager keeps the desktop.
    bool managed() const;
    // The windows on screen on this workspace, front to back.
    std::vector<DesktopWindow> windows() const;
    std::optional<Xid> activeWindow() const;
    std::optional<int> activePid() const;
    // The client area's top-left corner in global points; none for a window not managed.
    std::optional<Point> clientOrigin(Xid xid) const;
    // A rectangle in the root window's pixels, as X and the programs on it measure, in global
    // points.
    Rect pointsOf(const Rect& rootPixels) const;
    DesktopState state() const;

    // Brings the window to the front and gives it the focus, as a click on it in a task bar
    // would; a minimized one comes back. Asked from any thread, done on the main queue.
    void activate(Xid xid);
    // The process's topmost ordinary window.
    void activatePid(int pid);

    // ---- Notifications, on the main queue until the subscription is dropped ----
    // The window moved or changed size: its new client origin.
    Subscription onMoved(Xid xid, std::function<void(Point)> handler);
    // Another window, or none, is active.
    Subscription onActive(std::function<void()> handler);
    // The process has no managed window left (it quit, or closed its last window).
    Subscription onClosed(int pid, std::function<void()> handler);
    // Anything changed: the change, with the new state already readable.
    Subscription onChanged(std::function<void(const DesktopChange&)> handler);

    // Reads the desktop again, and has the subscribers told. Main thread; libwnck's signals
    // call it.
    void refresh();
    // X destroyed a window (the window manager's own, perhaps). Main thread, from X's events.
    void windowDestroyed(unsigned long xid);

private:
    void watchWindowManager();
    DesktopState read() const;
    void tell(); // what changed since the subscribers were last told
    void activateNow(std::optional<Xid> xid);
    std::optional<Point> originIn(const DesktopState& s, Xid xid) const;

    MainQueue& main_;
    std::shared_ptr<MonitorScreens> screens_;
    WnckHandle* handle_ = nullptr;
    WnckScreen* screen_ = nullptr;
    GdkWindow* clock_ = nullptr; // a hidden window whose property changes tell the server's time
    unsigned long wmCheck_ = 0;  // the running window manager's own window; main thread
    bool pending_ = false; // a task to tell the subscribers waits
    DesktopState told_;    // the desktop as the subscribers last heard of it; main thread
    mutable std::mutex mutex_;
    DesktopState state_;
    CallbackList<void(const DesktopChange&)> changes_;
    WeakFactory<X11Desktop> weak_{this};
};

} // namespace scribbet::gtkhost
