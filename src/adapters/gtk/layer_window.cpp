#include "adapters/gtk/layer_window.hpp"

#include <gtk/gtk.h>

#include <cmath>
#include <optional>
#include <utility>

#include "adapters/gtk/page_view.hpp"
// After the program's headers: Xlib's macros (None, Bool) would break them.
#include <gdk/gdkx.h>

namespace scribbet::gtkhost {

namespace {
constexpr const char* layerKey = "scribbet-layer";

gboolean clearBackground(GtkWidget*, cairo_t* cr, gpointer) {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    return FALSE; // the web view draws on top
}

int whole(double v) { return static_cast<int>(std::lround(v)); }

// The window that has the X keyboard focus, when `g` is an X window: None when nobody has it.
std::optional<Window> keyboardFocus(GdkWindow* g) {
    if (!g || !GDK_IS_X11_WINDOW(g)) return std::nullopt;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(GDK_WINDOW_XDISPLAY(g), &focus, &revert);
    return focus;
}

// Moves the X keyboard focus, stamped as GTK stamps its own moves (the time of the last user
// event): the server refuses a move older than the last one, so a move stamped "now" would
// make GTK's next present() of any of this program's windows fail.
void moveKeyboard(GdkWindow* g, Window to, int revert) {
    Display* x = GDK_WINDOW_XDISPLAY(g);
    XSetInputFocus(x, to, revert, gdk_x11_display_get_user_time(gdk_window_get_display(g)));
    if (keyboardFocus(g) != to) XSetInputFocus(x, to, revert, CurrentTime);
}
} // namespace

LayerWindow::LayerWindow(const Rect& platformFrame, std::shared_ptr<MonitorScreens> screens, GdkScreen* screen)
    : screens_(std::move(screens)), frame_(platformFrame) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_set_data(G_OBJECT(window_), layerKey, GINT_TO_POINTER(1));
    GtkWindow* w = GTK_WINDOW(window_);
    if (screen) gtk_window_set_screen(w, screen);
    gtk_window_set_title(w, "Scribbet drawing layer");
    gtk_window_set_decorated(w, FALSE);
    gtk_window_set_keep_above(w, TRUE);
    gtk_window_set_skip_taskbar_hint(w, TRUE);
    gtk_window_set_skip_pager_hint(w, TRUE);
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
    // Shown by the layer only when it asks to take the keyboard.
    gtk_window_set_focus_on_map(w, FALSE);
    if (GdkVisual* visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
        gtk_widget_set_visual(window_, visual);
        rgba_ = true;
    }
    gtk_widget_set_app_paintable(window_, TRUE);
    g_signal_connect(window_, "draw", G_CALLBACK(clearBackground), nullptr);
    // There is no close button; a window manager's close shortcut must not destroy the
    // window under the layer's feet (the page has its own Close).
    g_signal_connect(window_, "delete-event", G_CALLBACK(gtk_true), nullptr);
    // Something else may destroy it (the display going away): then it is simply gone.
    g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                         auto* me = static_cast<LayerWindow*>(self);
                         me->window_ = nullptr;
                         me->content_ = nullptr;
                     }),
                     this);
    setFrame(platformFrame);
}

LayerWindow::~LayerWindow() { clear(); }

void LayerWindow::setFrame(const Rect& frame) {
    frame_ = frame;
    if (!window_) return;
    const Rect root = screens_->flip().toRoot(frame);
    gtk_window_move(GTK_WINDOW(window_), whole(root.x), whole(root.y));
    gtk_window_resize(GTK_WINDOW(window_), std::max(1, whole(root.w)), std::max(1, whole(root.h)));
    gtk_window_set_default_size(GTK_WINDOW(window_), std::max(1, whole(root.w)), std::max(1, whole(root.h)));
}

bool LayerWindow::isVisible() const { return window_ && gtk_widget_get_visible(window_); }

void LayerWindow::makeKeyAndFront() {
    if (!window_) return;
    gaveKeyboardAway_ = false;
    gtk_widget_show_all(window_);
    applyInputShape();
    gtk_window_present(GTK_WINDOW(window_));
    if (content_) gtk_widget_grab_focus(content_);
}

// Back as it was when it went: with the keyboard it gave up then, if nobody has taken the
// keyboard since.
void LayerWindow::orderFrontRegardless() {
    if (!window_) return;
    gtk_widget_show_all(window_);
    applyInputShape();
    GdkWindow* g = gtk_widget_get_window(window_);
    if (!g) return;
    gdk_window_raise(g);
    if (std::exchange(gaveKeyboardAway_, false) && keyboardFocus(g) == Window(None)) {
        moveKeyboard(g, gdk_x11_window_get_xid(g), RevertToParent);
        if (content_) gtk_widget_grab_focus(content_);
    }
}

// X hands the keyboard of a window that goes away to the one under the pointer (a window
// manager, to the one focused before), and a program handed the keyboard takes itself to be
// in front. Hidden because a third program is in front, the layer would bring the
// presentation program back, and itself with it. So the keyboard goes to nobody first.
void LayerWindow::hide() {
    if (!window_) return;
    GdkWindow* g = gtk_widget_get_window(window_);
    if (g && gtk_widget_get_mapped(window_) && keyboardFocus(g) == gdk_x11_window_get_xid(g)) {
        moveKeyboard(g, None, RevertToNone);
        gaveKeyboardAway_ = true;
    }
    gtk_widget_hide(window_);
}

void LayerWindow::setIgnoresMouse(bool ignore) {
    ignores_ = ignore;
    applyInputShape();
}

// An empty input region sends every click to the window below; none restores the whole
// window. GTK keeps the shape for a window that is not realized yet and applies it then.
void LayerWindow::applyInputShape() {
    if (!window_) return;
    if (ignores_) {
        cairo_region_t* none = cairo_region_create();
        gtk_widget_input_shape_combine_region(window_, none);
        cairo_region_destroy(none);
    } else {
        gtk_widget_input_shape_combine_region(window_, nullptr);
    }
}

// The layer may close from inside one of its web view's own signals (a "cancel" message, the
// web process ending once too often). Destroying the window there would destroy the web view
// in the middle of its emission, so the window goes off the screen now and is destroyed once
// the loop is back at rest.
void LayerWindow::clear() {
    if (!window_) return;
    GtkWidget* w = window_;
    g_signal_handlers_disconnect_by_data(w, this);
    window_ = nullptr;
    content_ = nullptr;
    gtk_widget_hide(w);
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, +[](gpointer widget) -> gboolean {
        gtk_widget_destroy(GTK_WIDGET(widget));
        return G_SOURCE_REMOVE;
    }, g_object_ref(w), g_object_unref);
}

void LayerWindow::setContent(GtkWidget* content) {
    if (!window_) return;
    if (content_) gtk_container_remove(GTK_CONTAINER(window_), content_);
    content_ = content;
    if (content_) gtk_container_add(GTK_CONTAINER(window_), content_);
}

bool LayerWindow::isLayer(GdkWindow* window) {
    if (!window) return false;
    gpointer data = nullptr;
    gdk_window_get_user_data(gdk_window_get_toplevel(window), &data);
    return data && GTK_IS_WIDGET(data) && g_object_get_data(G_OBJECT(data), layerKey) != nullptr;
}

GtkLayerFactory::GtkLayerFactory(std::shared_ptr<MonitorScreens> screens, MainQueue& main, GdkScreen* screen)
    : screens_(std::move(screens)), main_(main), screen_(screen ? screen : gdk_screen_get_default()) {}

bool GtkLayerFactory::canShowSeeThrough() const {
    return screen_ && gdk_screen_is_composited(screen_) && gdk_screen_get_rgba_visual(screen_);
}

std::unique_ptr<LayerPanel> GtkLayerFactory::makePanel(const Rect& screenFrame) {
    return std::make_unique<LayerWindow>(screenFrame, screens_, screen_);
}

std::shared_ptr<LayerWebView> GtkLayerFactory::makeWebView(LayerPanel& panel, std::weak_ptr<LayerPageEvents> events) {
    auto* window = dynamic_cast<LayerWindow*>(&panel);
    if (!window || !window->widget()) return nullptr;
    auto view = std::make_shared<PageView>(std::move(events), main_);
    window->setContent(view->widget());
    return view;
}

} // namespace scribbet::gtkhost
