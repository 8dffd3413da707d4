#include "adapters/gtk/x11_desktop.hpp"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#define WNCK_I_KNOW_THIS_IS_UNSTABLE
#include <libwnck/libwnck.h>

#include <X11/Xatom.h>

#include <algorithm>

#include "log/app_state.hpp"

namespace scribbet::gtkhost {

namespace {
WindowKind kindOf(WnckWindowType type) {
    switch (type) {
    case WNCK_WINDOW_DESKTOP:
        return WindowKind::desktop;
    case WNCK_WINDOW_DOCK:
        return WindowKind::dock;
    case WNCK_WINDOW_DIALOG:
        return WindowKind::dialog;
    case WNCK_WINDOW_TOOLBAR:
        return WindowKind::toolbar;
    case WNCK_WINDOW_MENU:
        return WindowKind::menu;
    case WNCK_WINDOW_UTILITY:
        return WindowKind::utility;
    case WNCK_WINDOW_SPLASHSCREEN:
        return WindowKind::splash;
    default:
        return WindowKind::normal;
    }
}

std::string textOf(const char* s) { return s ? s : ""; }

bool onWorkspace(WnckWindow* w, WnckWorkspace* ws) {
    if (!ws) return true; // a window manager without workspaces shows every window
    if (wnck_workspace_is_virtual(ws)) return wnck_window_is_in_viewport(w, ws);
    return wnck_window_is_on_workspace(w, ws);
}

ManagedWindow managedFrom(WnckWindow* w, WnckWorkspace* ws) {
    ManagedWindow m;
    m.xid = wnck_window_get_xid(w);
    if (const int pid = wnck_window_get_pid(w); pid > 0) m.pid = pid;
    m.wmClass = textOf(wnck_window_get_class_group_name(w));
    m.title = wnck_window_has_name(w) ? textOf(wnck_window_get_name(w)) : "";
    int x = 0, y = 0, width = 0, height = 0;
    wnck_window_get_client_window_geometry(w, &x, &y, &width, &height);
    m.client = {double(x), double(y), double(width), double(height)};
    m.kind = kindOf(wnck_window_get_window_type(w));
    m.minimized = wnck_window_is_minimized(w) || (wnck_window_get_state(w) & WNCK_WINDOW_STATE_HIDDEN);
    m.shaded = wnck_window_is_shaded(w);
    m.above = wnck_window_is_above(w);
    m.onCurrentWorkspace = onWorkspace(w, ws);
    return m;
}

void changedThunk(gpointer self) { static_cast<X11Desktop*>(self)->refresh(); }

void openedThunk(WnckScreen*, WnckWindow* window, gpointer self);

// libwnck's signals that change what the snapshot holds.
constexpr const char* screenSignals[] = {"window-closed",          "window-stacking-changed", "active-window-changed",
                                         "active-workspace-changed", "window-manager-changed",  "viewports-changed"};
constexpr const char* windowSignals[] = {"geometry-changed", "state-changed", "workspace-changed",
                                         "name-changed",     "class-changed", "type-changed"};

void connectWindow(WnckWindow* window, X11Desktop* self) {
    for (const char* signal : windowSignals) g_signal_connect_swapped(window, signal, G_CALLBACK(changedThunk), self);
}

GdkFilterReturn destroyedFilter(GdkXEvent* xevent, GdkEvent*, gpointer self) {
    const auto* e = static_cast<XEvent*>(xevent);
    if (e->type == DestroyNotify) static_cast<X11Desktop*>(self)->windowDestroyed(e->xdestroywindow.window);
    return GDK_FILTER_CONTINUE;
}

// The window a window names as the window manager's own (EWMH's check window); 0 for none.
Window checkWindowOf(Display* x, Window of) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    Window found = 0;
    const Atom check = XInternAtom(x, "_NET_SUPPORTING_WM_CHECK", False);
    if (XGetWindowProperty(x, of, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &left, &data) == Success &&
        type == XA_WINDOW && format == 32 && count == 1) {
        found = *reinterpret_cast<const unsigned long*>(data);
    }
    if (data) XFree(data);
    return found;
}
} // namespace

X11Desktop::X11Desktop(MainQueue& main, std::shared_ptr<MonitorScreens> screens)
    : main_(main), screens_(std::move(screens)) {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) {
        log("The desktop is not an X desktop: windows of other programs are not followed.");
        return;
    }
    // A pager's requests are the user's own choice of window, which a window manager's
    // focus-stealing prevention lets through.
    handle_ = wnck_handle_new(WNCK_CLIENT_TYPE_PAGER);
    screen_ = wnck_handle_get_default_screen(handle_);
    if (!screen_) return;
    wnck_screen_force_update(screen_);
    g_signal_connect(screen_, "window-opened", G_CALLBACK(openedThunk), this);
    for (const char* signal : screenSignals) g_signal_connect_swapped(screen_, signal, G_CALLBACK(changedThunk), this);
    for (GList* l = wnck_screen_get_windows(screen_); l; l = l->next) connectWindow(WNCK_WINDOW(l->data), this);
    gdk_window_add_filter(nullptr, destroyedFilter, this);
    watchWindowManager();

    GdkWindowAttr attributes{};
    attributes.wclass = GDK_INPUT_ONLY;
    attributes.window_type = GDK_WINDOW_TOPLEVEL;
    attributes.event_mask = GDK_PROPERTY_CHANGE_MASK;
    clock_ = gdk_window_new(gdk_get_default_root_window(), &attributes, 0);
    state_ = read();
    told_ = state_;
}

X11Desktop::~X11Desktop() {
    weak_.invalidate();
    if (screen_) {
        for (GList* l = wnck_screen_get_windows(screen_); l; l = l->next) {
            g_signal_handlers_disconnect_by_data(l->data, this);
        }
        g_signal_handlers_disconnect_by_data(screen_, this);
        gdk_window_remove_filter(nullptr, destroyedFilter, this);
    }
    if (clock_) gdk_window_destroy(clock_);
    if (handle_) g_object_unref(handle_);
}

namespace {
void openedThunk(WnckScreen*, WnckWindow* window, gpointer self) {
    // Its own changes are heard from now on; the opening itself is a change too.
    connectWindow(window, static_cast<X11Desktop*>(self));
    static_cast<X11Desktop*>(self)->refresh();
}
} // namespace

// The root's property outlives a window manager that went away, and libwnck goes on naming it:
// the window manager runs while its own window lives and names itself. Its end is heard as
// that window's destruction.
void X11Desktop::watchWindowManager() {
    GdkDisplay* display = gdk_display_get_default();
    Display* x = GDK_DISPLAY_XDISPLAY(display);
    gdk_x11_display_error_trap_push(display);
    Window check = checkWindowOf(x, DefaultRootWindow(x));
    XWindowAttributes attributes{};
    if (check && checkWindowOf(x, check) == check && XGetWindowAttributes(x, check, &attributes)) {
        XSelectInput(x, check, attributes.your_event_mask | StructureNotifyMask);
    } else {
        check = 0;
    }
    if (gdk_x11_display_error_trap_pop(display) != 0) check = 0;
    wmCheck_ = check;
}

void X11Desktop::windowDestroyed(unsigned long xid) {
    if (xid == 0 || xid != wmCheck_) return;
    wmCheck_ = 0;
    refresh();
}

DesktopState X11Desktop::read() const {
    DesktopState s;
    if (!screen_) return s;
    s.managed = wmCheck_ != 0;
    s.scale = std::max(1, gdk_window_get_scale_factor(gdk_get_default_root_window()));
    WnckWorkspace* ws = wnck_screen_get_active_workspace(screen_);
    for (GList* l = wnck_screen_get_windows_stacked(screen_); l; l = l->next) {
        s.stacked.push_back(managedFrom(WNCK_WINDOW(l->data), ws));
    }
    if (WnckWindow* active = wnck_screen_get_active_window(screen_)) s.active = wnck_window_get_xid(active);
    return s;
}

void X11Desktop::refresh() {
    if (!screen_) return;
    if (!wmCheck_) watchWindowManager(); // one may have come
    DesktopState next = read();
    {
        std::lock_guard lock(mutex_);
        if (next == state_) return;
        state_ = std::move(next);
    }
    if (pending_) return;
    // Told from a task of its own: libwnck's signal has returned by then, and a burst of
    // signals (a window dragged across the screen) is told once.
    pending_ = true;
    main_.async(weakly(weak_.weak(), [](X11Desktop& d) { d.tell(); }));
}

void X11Desktop::tell() {
    pending_ = false;
    DesktopChange change;
    {
        std::lock_guard lock(mutex_);
        change = desktop_rules::between(told_, state_);
        told_ = state_;
    }
    if (change.any) changes_.notify(change);
}

bool X11Desktop::managed() const {
    std::lock_guard lock(mutex_);
    return state_.managed;
}

DesktopState X11Desktop::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::vector<DesktopWindow> X11Desktop::windows() const {
    const DesktopState s = state();
    std::vector<DesktopWindow> out;
    if (!s.managed) return out;
    const DesktopFlip flip = screens_->flip();
    for (const ManagedWindow& w : desktop_rules::frontToBack(s.stacked)) {
        out.push_back({w.xid, w.pid, w.wmClass, w.title, desktop_rules::toPoints(w.client, s.scale, flip),
                       desktop_rules::layerOf(w)});
    }
    return out;
}

std::optional<Xid> X11Desktop::activeWindow() const {
    std::lock_guard lock(mutex_);
    return desktop_rules::active(state_);
}

std::optional<int> X11Desktop::activePid() const {
    std::lock_guard lock(mutex_);
    return desktop_rules::activePid(state_);
}

std::optional<Point> X11Desktop::originIn(const DesktopState& s, Xid xid) const {
    const ManagedWindow* w = desktop_rules::find(s, xid);
    if (!s.managed || !w) return std::nullopt;
    const Rect r = desktop_rules::toPoints(w->client, s.scale, screens_->flip());
    return Point{r.x, r.y};
}

std::optional<Point> X11Desktop::clientOrigin(Xid xid) const {
    std::lock_guard lock(mutex_);
    return originIn(state_, xid);
}

Rect X11Desktop::pointsOf(const Rect& rootPixels) const {
    double scale = 1;
    {
        std::lock_guard lock(mutex_);
        scale = state_.scale;
    }
    return desktop_rules::toPoints(rootPixels, scale, screens_->flip());
}

void X11Desktop::activate(Xid xid) {
    main_.async(weakly(weak_.weak(), [xid](X11Desktop& d) { d.activateNow(xid); }));
}

void X11Desktop::activatePid(int pid) {
    main_.async(weakly(weak_.weak(), [pid](X11Desktop& d) {
        d.activateNow(desktop_rules::topmostOf(d.state(), pid));
    }));
}

void X11Desktop::activateNow(std::optional<Xid> xid) {
    if (!xid || !handle_ || !clock_) return;
    WnckWindow* window = wnck_handle_get_window(handle_, *xid);
    if (!window) return;
    // The server's time now, not "CurrentTime": window managers that prevent focus stealing
    // compare it with the focused window's last user time.
    wnck_window_activate(window, gdk_x11_get_server_time(clock_));
}

Subscription X11Desktop::onMoved(Xid xid, std::function<void(Point)> handler) {
    return changes_.add([this, xid, handler = std::move(handler)](const DesktopChange& c) {
        if (std::find(c.moved.begin(), c.moved.end(), xid) == c.moved.end()) return;
        if (const auto origin = clientOrigin(xid)) handler(*origin);
    });
}

Subscription X11Desktop::onActive(std::function<void()> handler) {
    return changes_.add([handler = std::move(handler)](const DesktopChange& c) {
        if (c.activeChanged) handler();
    });
}

Subscription X11Desktop::onClosed(int pid, std::function<void()> handler) {
    return changes_.add([pid, handler = std::move(handler)](const DesktopChange& c) {
        if (std::find(c.closedPids.begin(), c.closedPids.end(), pid) != c.closedPids.end()) handler();
    });
}

Subscription X11Desktop::onChanged(std::function<void(const DesktopChange&)> handler) {
    return changes_.add(std::move(handler));
}

} // namespace scribbet::gtkhost
