#include "adapters/gtk/monitor_screens.hpp"

#include <gtk/gtk.h>

namespace scribbet::gtkhost {

namespace {
Rect rectOf(const GdkRectangle& r) { return {double(r.x), double(r.y), double(r.width), double(r.height)}; }

void changed(gpointer self) { static_cast<MonitorScreens*>(self)->refresh(); }
} // namespace

MonitorScreens::MonitorScreens(GdkDisplay* display) : display_(display), owner_(std::this_thread::get_id()) {
    g_object_ref(display_);
    refresh();
    g_signal_connect_swapped(display_, "monitor-added", G_CALLBACK(changed), this);
    g_signal_connect_swapped(display_, "monitor-removed", G_CALLBACK(changed), this);
    GdkScreen* screen = gdk_display_get_default_screen(display_);
    g_signal_connect_swapped(screen, "monitors-changed", G_CALLBACK(changed), this);
    g_signal_connect_swapped(screen, "size-changed", G_CALLBACK(changed), this);
}

MonitorScreens::~MonitorScreens() {
    g_signal_handlers_disconnect_by_data(gdk_display_get_default_screen(display_), this);
    g_signal_handlers_disconnect_by_data(display_, this);
    g_object_unref(display_);
}

void MonitorScreens::refresh() {
    std::vector<MonitorArea> monitors;
    const int n = gdk_display_get_n_monitors(display_);
    GdkMonitor* primary = gdk_display_get_primary_monitor(display_);
    for (int i = 0; i < n; ++i) {
        GdkMonitor* m = gdk_display_get_monitor(display_, i);
        GdkRectangle geometry, work;
        gdk_monitor_get_geometry(m, &geometry);
        gdk_monitor_get_workarea(m, &work);
        monitors.push_back({rectOf(geometry), rectOf(work), gdk_monitor_get_scale_factor(m), m == primary});
    }
    Desktop d = desktopFrom(monitors);
    std::lock_guard lock(mutex_);
    desktop_ = std::move(d);
}

std::vector<ScreenInfo> MonitorScreens::screens() const {
    std::lock_guard lock(mutex_);
    return desktop_.screens;
}

DesktopFlip MonitorScreens::flip() const {
    std::lock_guard lock(mutex_);
    return desktop_.flip;
}

std::optional<ScreenInfo> MonitorScreens::mainScreen() const {
    const auto all = screens();
    if (all.empty()) return std::nullopt;
    if (std::this_thread::get_id() != owner_) return all.front();
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display_));
    if (!pointer) return all.front();
    int x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    const Point p = flip().pointToPlatform(x, y);
    for (const auto& s : all) {
        const Rect& f = s.frame;
        if (f.containsPointYUp(p.x, p.y)) return s;
    }
    return all.front();
}

} // namespace scribbet::gtkhost
