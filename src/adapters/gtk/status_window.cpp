#include "adapters/gtk/status_window.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "runtime/queues.hpp"

namespace scribbet::gtkhost {

Rect placeInContent(const Rect& frame, StatusLayout::Size laidOut, StatusLayout::Size now, Stretch stretch) {
    const double top = laidOut.h - frame.maxY();
    const double w = frame.width() + (stretch.width ? now.w - laidOut.w : 0);
    const double h = frame.height() + (stretch.height ? now.h - laidOut.h : 0);
    return {frame.minX(), top, std::max(0.0, w), std::max(0.0, h)};
}

namespace {
// ---- A container that places its children by the layout's frames ----

struct Placement {
    Rect frame;
    Stretch stretch;
};

struct StatusBox {
    GtkFixed parent;
    StatusLayout::Size content, minimum;
};
struct StatusBoxClass {
    GtkFixedClass parent;
};

G_DEFINE_TYPE(StatusBox, status_box, GTK_TYPE_FIXED)

constexpr const char* placementKey = "scribbet-placement";

int whole(double v) { return static_cast<int>(std::lround(v)); }

void status_box_size_allocate(GtkWidget* widget, GtkAllocation* area) {
    gtk_widget_set_allocation(widget, area);
    auto* box = reinterpret_cast<StatusBox*>(widget);
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c; c = c->next) {
        GtkWidget* child = GTK_WIDGET(c->data);
        const auto* p = static_cast<const Placement*>(g_object_get_data(G_OBJECT(child), placementKey));
        if (!p || !gtk_widget_get_visible(child)) continue;
        const Rect r = placeInContent(p->frame, box->content, {double(area->width), double(area->height)}, p->stretch);
        // Never below what the child needs (GTK insists), measured at the width it gets.
        int leastW = 0, leastH = 0, natural = 0;
        gtk_widget_get_preferred_width(child, &leastW, &natural);
        const int w = std::max(whole(r.w), leastW);
        gtk_widget_get_preferred_height_for_width(child, w, &leastH, &natural);
        GtkAllocation a{area->x + whole(r.x), area->y + whole(r.y), w, std::max(whole(r.h), leastH)};
        gtk_widget_size_allocate(child, &a);
    }
    g_list_free(children);
}

void status_box_preferred_width(GtkWidget* widget, int* least, int* natural) {
    auto* box = reinterpret_cast<StatusBox*>(widget);
    *least = whole(box->minimum.w);
    *natural = whole(std::max(box->content.w, box->minimum.w));
}

void status_box_preferred_height(GtkWidget* widget, int* least, int* natural) {
    auto* box = reinterpret_cast<StatusBox*>(widget);
    *least = whole(box->minimum.h);
    *natural = whole(std::max(box->content.h, box->minimum.h));
}

void status_box_class_init(StatusBoxClass* klass) {
    auto* w = GTK_WIDGET_CLASS(klass);
    w->size_allocate = status_box_size_allocate;
    w->get_preferred_width = status_box_preferred_width;
    w->get_preferred_height = status_box_preferred_height;
}

void status_box_init(StatusBox*) {}

void put(GtkWidget* box, GtkWidget* child, const Rect& frame, Stretch stretch) {
    g_object_set_data_full(G_OBJECT(child), placementKey, new Placement{frame, stretch},
                           [](gpointer p) { delete static_cast<Placement*>(p); });
    gtk_fixed_put(GTK_FIXED(box), child, 0, 0);
}

void styled(GtkWidget* widget, const char* css) {
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// The theme's buttons stand 34 pixels high; the layout gives them 32.
void fitted(GtkWidget* button) { styled(button, "button { padding-top: 3px; padding-bottom: 3px; }"); }

// ---- The log view ----

class TextLogView final : public LogView {
public:
    TextLogView() {
        view_ = gtk_text_view_new();
        g_object_ref_sink(view_);
        gtk_text_view_set_editable(GTK_TEXT_VIEW(view_), FALSE);
        gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view_), FALSE);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view_), GTK_WRAP_WORD_CHAR);
        gtk_text_view_set_monospace(GTK_TEXT_VIEW(view_), TRUE);
        styled(view_, "textview { font-size: 11px; }");
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_));
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(buffer, &end);
        end_ = gtk_text_buffer_create_mark(buffer, "scribbet-end", &end, FALSE);
        g_object_set_data(G_OBJECT(view_), selfKey, this);
    }
    ~TextLogView() override {
        g_object_set_data(G_OBJECT(view_), selfKey, nullptr);
        g_object_unref(view_);
    }

    void append(const std::string& line) override {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_));
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(buffer, &end);
        gtk_text_buffer_insert(buffer, &end, line.c_str(), static_cast<int>(line.size()));
        gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(view_), end_, 0, TRUE, 0, 1);
        // The text view lays out new lines in idle time and may scroll before it knows how
        // tall they are: once it has (a lower priority than its own), the end is made sure of.
        if (scrollQueued_) return;
        scrollQueued_ = true;
        g_idle_add_full(G_PRIORITY_LOW, &TextLogView::scrollToEnd, g_object_ref(view_), g_object_unref);
    }
    GtkWidget* widget() const { return view_; }

private:
    static gboolean scrollToEnd(gpointer view) {
        auto* self = static_cast<TextLogView*>(g_object_get_data(G_OBJECT(view), selfKey));
        if (self) self->scrollQueued_ = false;
        GtkAdjustment* v = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view));
        if (v) gtk_adjustment_set_value(v, gtk_adjustment_get_upper(v) - gtk_adjustment_get_page_size(v));
        return G_SOURCE_REMOVE;
    }
    static constexpr const char* selfKey = "scribbet-log-view";

    GtkWidget* view_;
    GtkTextMark* end_;
    bool scrollQueued_ = false;
};

// ---- The window ----

class StatusWindowGtk final : public StatusWindowUI {
public:
    StatusWindowGtk(const StatusLayout& layout, std::function<void()> drawNow, std::function<void()> accessibility,
                    MainQueue& main)
        : main_(main), drawNow_(std::move(drawNow)), accessibility_(std::move(accessibility)) {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        g_object_ref_sink(window_);
        GtkWindow* w = GTK_WINDOW(window_);
        gtk_window_set_title(w, layout.title.c_str());
        gtk_window_set_default_size(w, whole(layout.content.w), whole(layout.content.h));
        gtk_window_set_position(w, GTK_WIN_POS_CENTER);
        // Closing only hides it: the same window, with the lines logged meanwhile, comes back.
        g_signal_connect(window_, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
        g_signal_connect(window_, "notify::is-active", G_CALLBACK(activeChanged), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(returnKey), this);

        auto* box = static_cast<StatusBox*>(g_object_new(status_box_get_type(), nullptr));
        box->content = layout.content;
        box->minimum = layout.minimum;
        GtkWidget* content = GTK_WIDGET(box);
        gtk_container_add(GTK_CONTAINER(window_), content);

        GtkWidget* label = gtk_label_new(layout.explanation.c_str());
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        gtk_label_set_yalign(GTK_LABEL(label), 0);
        put(content, label, layout.explanationFrame, {true, false});

        draw_ = gtk_button_new_with_label(layout.drawTitle.c_str());
        fitted(draw_);
        gtk_widget_set_can_default(draw_, TRUE);
        g_signal_connect(draw_, "clicked", G_CALLBACK(clicked), &drawNow_);
        put(content, draw_, layout.drawFrame, {});

        access_ = gtk_button_new_with_label(layout.accessibilityTitle.c_str());
        fitted(access_);
        gtk_widget_set_tooltip_text(access_, layout.accessibilityTooltip.c_str());
        g_signal_connect(access_, "clicked", G_CALLBACK(clicked), &accessibility_);
        put(content, access_, layout.accessibilityFrame, {});

        GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
        log_ = std::make_shared<TextLogView>();
        gtk_container_add(GTK_CONTAINER(scroller), log_->widget());
        put(content, scroller, layout.logFrame, {true, true});

        gtk_widget_show_all(content);
        gtk_window_set_default(w, draw_); // Return presses "Draw on current slide"
    }

    ~StatusWindowGtk() override {
        g_signal_handlers_disconnect_by_data(window_, this);
        g_signal_handlers_disconnect_by_data(draw_, &drawNow_);
        g_signal_handlers_disconnect_by_data(access_, &accessibility_);
        gtk_widget_destroy(window_);
        g_object_unref(window_);
    }

    bool isVisible() const override { return gtk_widget_get_visible(window_); }
    void makeKeyAndFront() override { gtk_window_present(GTK_WINDOW(window_)); }
    void setAccessibilityTitle(const std::string& title) override { gtk_button_set_label(GTK_BUTTON(access_), title.c_str()); }
    std::shared_ptr<LogView> logView() override { return log_; }

private:
    // Return is "Draw on current slide"'s key, whichever button has the focus: a key
    // equivalent, not GTK's default activation, which a focused button would take.
    static gboolean returnKey(GtkWidget*, GdkEventKey* e, gpointer data) {
        const bool enter = e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter || e->keyval == GDK_KEY_ISO_Enter;
        const auto mods = e->state & gtk_accelerator_get_default_mod_mask();
        if (!enter || mods != 0) return FALSE;
        gtk_widget_activate(static_cast<StatusWindowGtk*>(data)->draw_);
        return TRUE;
    }

    static void clicked(GtkButton*, gpointer action) {
        auto& f = *static_cast<std::function<void()>*>(action);
        if (f) f();
    }

    // Hides with the program's deactivation: once no window of this program is active.
    // Moving to another window of the program (the layer, say) is not a deactivation, but
    // leaving that one later is, and this window hears nothing then; so while it is shown
    // and not active, it looks a few times a second.
    static void activeChanged(GObject*, GParamSpec*, gpointer data) {
        auto* self = static_cast<StatusWindowGtk*>(data);
        if (gtk_window_is_active(GTK_WINDOW(self->window_))) {
            self->watch_.cancel();
            return;
        }
        self->watch_ = self->main_.repeating(deactivationPause, [self] {
            if (!gtk_widget_get_visible(self->window_)) return self->watch_.cancel();
            GList* all = gtk_window_list_toplevels();
            bool anyActive = false;
            for (GList* w = all; w; w = w->next) anyActive = anyActive || gtk_window_is_active(GTK_WINDOW(w->data));
            g_list_free(all);
            if (anyActive) return;
            self->watch_.cancel();
            gtk_widget_hide(self->window_);
        });
    }
    static constexpr Duration deactivationPause = std::chrono::milliseconds(150);

    MainQueue& main_;
    GtkWidget* window_;
    GtkWidget* draw_;
    GtkWidget* access_;
    std::shared_ptr<TextLogView> log_;
    std::function<void()> drawNow_, accessibility_;
    Timer watch_; // cancelled with the window: it never outlives it
};
} // namespace

std::shared_ptr<StatusWindowUI> GtkStatusUI::build(const StatusLayout& layout, std::function<void()> drawNow,
                                                   std::function<void()> accessibility) {
    return std::make_shared<StatusWindowGtk>(layout, std::move(drawNow), std::move(accessibility), main_);
}

} // namespace scribbet::gtkhost
