#include "adapters/gtk/x11_input.hpp"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <X11/extensions/XInput2.h>

#include "adapters/gtk/layer_window.hpp"

namespace scribbet::gtkhost {

namespace {
GdkFilterReturn rawEvents(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* self = static_cast<X11Input*>(data);
    const auto* cookie = &static_cast<XEvent*>(xevent)->xcookie;
    if (cookie->type == GenericEvent && cookie->data && cookie->extension == self->xiOpcode()) {
        self->rawButton(cookie->evtype, static_cast<const XIRawEvent*>(cookie->data)->detail);
    }
    return GDK_FILTER_CONTINUE;
}
} // namespace

KeyEvent keyEventFrom(unsigned state, unsigned keyval) {
    KeyEvent e;
    e.command = (state & GDK_CONTROL_MASK) != 0;
    e.option = (state & GDK_MOD1_MASK) != 0;
    e.control = (state & (GDK_SUPER_MASK | GDK_MOD4_MASK)) != 0;
    const gunichar c = gdk_keyval_to_unicode(keyval);
    if (c != 0) {
        char utf8[8] = {};
        const int n = g_unichar_to_utf8(c, utf8);
        e.charactersIgnoringModifiers.assign(utf8, static_cast<std::size_t>(n));
    }
    return e;
}

X11Input::X11Input(GdkDisplay* display, std::shared_ptr<MonitorScreens> screens)
    : display_(display), screens_(std::move(screens)) {
    gdk_event_handler_set(&X11Input::onEvent, this, nullptr);
    if (!GDK_IS_X11_DISPLAY(display_)) return;
    Display* x = GDK_DISPLAY_XDISPLAY(display_);
    int event = 0, error = 0, opcode = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(x, "XInputExtension", &opcode, &event, &error) || XIQueryVersion(x, &major, &minor) != Success) {
        return;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(x, DefaultRootWindow(x), &mask, 1);
    xiOpcode_ = opcode;
    gdk_window_add_filter(nullptr, rawEvents, this);
}

X11Input::~X11Input() {
    if (xiOpcode_ >= 0) {
        gdk_window_remove_filter(nullptr, rawEvents, this);
        Display* x = GDK_DISPLAY_XDISPLAY(display_);
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        XISelectEvents(x, DefaultRootWindow(x), &mask, 1);
    }
    gdk_event_handler_set([](GdkEvent* e, gpointer) { gtk_main_do_event(e); }, nullptr, nullptr);
}

Subscription X11Input::addKeyMonitor(std::function<bool(const KeyEvent&)> handler) {
    return keys_.add(std::move(handler));
}

Subscription X11Input::addMouseMonitor(std::function<void()> handler) { return mice_.add(std::move(handler)); }

Point X11Input::pointer() const {
    GdkDevice* device = gdk_seat_get_pointer(gdk_display_get_default_seat(display_));
    if (!device) return {};
    double x = 0, y = 0;
    gdk_device_get_position_double(device, nullptr, &x, &y);
    return screens_->flip().pointToPlatform(x, y);
}

bool X11Input::buttonsHeld() const {
    GdkDevice* device = gdk_seat_get_pointer(gdk_display_get_default_seat(display_));
    if (!device) return false;
    GdkModifierType mask{};
    gdk_window_get_device_position(gdk_get_default_root_window(), device, nullptr, nullptr, &mask);
    return (mask & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK)) != 0;
}

bool X11Input::keyDown(const KeyEvent& e) {
    // A handler may close the layer, which ends monitors on the way: the list allows it.
    return keys_.notifyUntilTaken(e);
}

void X11Input::mouseElsewhere() { mice_.notify(); }

void X11Input::onEvent(GdkEvent* event, void* data) {
    auto* self = static_cast<X11Input*>(data);
    if (event->type == GDK_KEY_PRESS) {
        KeyEvent e = keyEventFrom(event->key.state, event->key.keyval);
        e.inLayerPanel = LayerWindow::isLayer(event->key.window);
        if (self->keyDown(e)) return;
    }
    gtk_main_do_event(event);
}

bool X11Input::overOwnWindow() const {
    GdkDevice* device = gdk_seat_get_pointer(gdk_display_get_default_seat(display_));
    return device && gdk_device_get_window_at_position(device, nullptr, nullptr) != nullptr;
}

void X11Input::rawButton(int evtype, int button) {
    const bool leftUp = evtype == XI_RawButtonRelease && button == 1;
    const bool wheel = evtype == XI_RawButtonPress && button >= 4 && button <= 7;
    if ((leftUp || wheel) && !overOwnWindow()) mouseElsewhere();
}

} // namespace scribbet::gtkhost
