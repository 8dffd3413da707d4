#include "adapters/gtk/notice_panel.hpp"

#include <gtk/gtk.h>

#include <cmath>

#include "runtime/queues.hpp"

namespace scribbet::gtkhost {

namespace {
constexpr double fontPixels = 13;
constexpr double wrapWidth = 440;
constexpr double cornerRadius = 10;

// The desktop's own font family at the notice's size.
PangoFontDescription* noticeFont() {
    gchar* name = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &name, nullptr);
    PangoFontDescription* font = pango_font_description_from_string(name ? name : "Sans");
    g_free(name);
    pango_font_description_set_absolute_size(font, fontPixels * PANGO_SCALE);
    return font;
}

PangoLayout* layoutFor(PangoContext* context, const std::string& text) {
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* font = noticeFont();
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_width(layout, static_cast<int>(wrapWidth * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    return layout;
}

void roundedRect(cairo_t* cr, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, w - r, r, r, -M_PI / 2, 0);
    cairo_arc(cr, w - r, h - r, r, 0, M_PI / 2);
    cairo_arc(cr, r, h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, r, r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

struct Drawn {
    std::string text;
    Rect label; // top-left inside the panel
    bool rounded = false;
};

gboolean drawNotice(GtkWidget* widget, cairo_t* cr, gpointer data) {
    const auto* d = static_cast<const Drawn*>(data);
    const double w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    if (d->rounded) {
        roundedRect(cr, w, h, cornerRadius);
    } else {
        cairo_rectangle(cr, 0, 0, w, h);
    }
    cairo_set_source_rgba(cr, 0.11, 0.11, 0.12, d->rounded ? 0.88 : 1);
    cairo_fill(cr);
    PangoLayout* layout = layoutFor(gtk_widget_get_pango_context(widget), d->text);
    pango_layout_set_width(layout, static_cast<int>(std::ceil(d->label.w) * PANGO_SCALE));
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, d->label.x, d->label.y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return TRUE;
}
} // namespace

NoticeUI::Size NoticePanel::measure(const std::string& text) {
    PangoContext* context = gdk_pango_context_get();
    PangoLayout* layout = layoutFor(context, text);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    g_object_unref(layout);
    g_object_unref(context);
    return {double(w), double(h)};
}

void NoticePanel::show(const std::string& text, const Rect& frame, const Rect& label, std::function<void()> clicked) {
    hide();
    clicked_ = std::move(clicked);
    const Rect root = screens_->flip().toRoot(frame);
    window_ = gtk_window_new(GTK_WINDOW_POPUP);
    GtkWindow* w = GTK_WINDOW(window_);
    gtk_window_set_title(w, "Scribbet notice");
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_NOTIFICATION);
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_stick(w);
    gtk_window_move(w, static_cast<int>(std::lround(root.x)), static_cast<int>(std::lround(root.y)));
    gtk_window_set_default_size(w, static_cast<int>(std::lround(root.w)), static_cast<int>(std::lround(root.h)));
    gtk_widget_set_size_request(window_, static_cast<int>(std::lround(root.w)), static_cast<int>(std::lround(root.h)));
    auto* drawn = new Drawn{text, {label.x, frame.h - label.y - label.h, label.w, label.h}, false};
    if (GdkVisual* visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_));
        visual && gdk_screen_is_composited(gtk_widget_get_screen(window_))) {
        gtk_widget_set_visual(window_, visual);
        drawn->rounded = true;
    }
    gtk_widget_set_app_paintable(window_, TRUE);
    g_signal_connect_data(window_, "draw", G_CALLBACK(drawNotice), drawn,
                          [](gpointer d, GClosure*) { delete static_cast<Drawn*>(d); }, GConnectFlags(0));
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                         // The action takes this very window away: it runs once GTK is done with the event.
                         auto* panel = static_cast<NoticePanel*>(self);
                         if (auto action = panel->clicked_) panel->main_.async(action);
                         return TRUE;
                     }),
                     this);
    gtk_widget_show(window_);
}

void NoticePanel::hide() {
    if (!window_) return;
    GtkWidget* w = window_;
    window_ = nullptr;
    g_signal_handlers_disconnect_by_data(w, this);
    gtk_widget_destroy(w);
}

} // namespace scribbet::gtkhost
