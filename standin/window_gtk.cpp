#include "window_gtk.hpp"

#include <gtk/gtk.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "picture.hpp"

namespace scribbet::standin::windowGtk {

namespace {
// The model is in global points with the primary monitor's top-left corner at (0, 0); GDK
// counts from the root window's corner.
struct Origin {
    int x = 0, y = 0;
};

constexpr double thumbWidth = 140;
constexpr double thumbGap = 16;
constexpr int pollMs = 50;

int whole(double v) { return static_cast<int>(std::lround(v)); }

// Slide `i` in the thumbnail strip, or in the slide sorter's grid, in global points.
Rect slideTile(const Layout& l, const Model& m, std::size_t i) {
    const double h = thumbWidth * m.deck.slideH / std::max(1.0, m.deck.slideW);
    if (m.window.view == View::sorter) {
        const double pitch = thumbWidth + 3 * thumbGap;
        const auto perRow = static_cast<std::size_t>(std::max(1.0, std::floor((l.window.w - thumbGap) / pitch)));
        return {l.window.x + 2 * thumbGap + double(i % perRow) * pitch,
                l.thumbnails.y + thumbGap + double(i / perRow) * (h + 2 * thumbGap), thumbWidth, h};
    }
    return {l.thumbnails.x + (l.thumbnails.w - thumbWidth) / 2, l.thumbnails.y + thumbGap + double(i) * (h + thumbGap),
            thumbWidth, h};
}

void fill(cairo_t* cr, const Rect& r, double g) {
    cairo_set_source_rgb(cr, g, g, g);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
}

void text(cairo_t* cr, double x, double y, const std::string& s, double size, double g) {
    cairo_set_source_rgb(cr, g, g, g);
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s.c_str());
}

cairo_status_t readBytes(void* closure, unsigned char* data, unsigned int length) {
    auto* s = static_cast<std::string_view*>(closure);
    if (s->size() < length) return CAIRO_STATUS_READ_ERROR;
    std::copy_n(s->data(), length, data);
    s->remove_prefix(length);
    return CAIRO_STATUS_SUCCESS;
}

gboolean drawPalette(GtkWidget* palette, cairo_t* cr, gpointer) {
    const double w = gtk_widget_get_allocated_width(palette), h = gtk_widget_get_allocated_height(palette);
    fill(cr, Rect{0, 0, w, h}, 0.93);
    fill(cr, Rect{0, 0, w, 22}, 0.82);
    text(cr, 8, 15, "Format Shape", 11, 0.2);
    return TRUE;
}

class Window {
public:
    Window(SharedModel& model, Origin origin) : model_(model), origin_(origin) {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        // Undecorated: the model's frame is the whole window, title bar included, as the
        // program draws its own title bar into the ribbon band.
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_widget_set_app_paintable(window_, TRUE);
        gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_SCROLL_MASK | GDK_STRUCTURE_MASK);
        GdkGeometry least{};
        least.min_width = 400;
        least.min_height = 300;
        gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &least, GDK_HINT_MIN_SIZE);
        g_signal_connect(window_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer w) -> gboolean {
                             static_cast<Window*>(w)->draw(cr);
                             return TRUE;
                         }),
                         this);
        g_signal_connect(window_, "configure-event", G_CALLBACK(+[](GtkWidget*, GdkEventConfigure* e, gpointer w) -> gboolean {
                             static_cast<Window*>(w)->moved(e->x, e->y, e->width, e->height);
                             return FALSE;
                         }),
                         this);
        g_signal_connect(window_, "focus-in-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer w) -> gboolean {
                             static_cast<Window*>(w)->focused();
                             return FALSE;
                         }),
                         this);
        g_signal_connect(window_, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer w) -> gboolean {
                             static_cast<Window*>(w)->pressed(e);
                             return TRUE;
                         }),
                         this);
        g_signal_connect(window_, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* e, gpointer w) -> gboolean {
                             static_cast<Window*>(w)->scrolled(e);
                             return TRUE;
                         }),
                         this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(gtk_true), nullptr);

        palette_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_decorated(GTK_WINDOW(palette_), FALSE);
        gtk_window_set_title(GTK_WINDOW(palette_), "Format Shape");
        gtk_window_set_transient_for(GTK_WINDOW(palette_), GTK_WINDOW(window_));
        gtk_window_set_type_hint(GTK_WINDOW(palette_), GDK_WINDOW_TYPE_HINT_UTILITY);
        gtk_window_set_accept_focus(GTK_WINDOW(palette_), FALSE);
        gtk_widget_set_app_paintable(palette_, TRUE);
        g_signal_connect(palette_, "draw", G_CALLBACK(drawPalette), nullptr);
        sync();
        timer_ = g_timeout_add(pollMs, +[](gpointer w) -> gboolean {
            static_cast<Window*>(w)->sync();
            return G_SOURCE_CONTINUE;
        }, this);
    }

    ~Window() {
        g_source_remove(timer_);
        gtk_widget_destroy(palette_);
        gtk_widget_destroy(window_);
    }

private:
    Model snapshot() const {
        return model_.read([](const Model& m) { return m; });
    }

    // Brings the windows in line with the model: shown or not, where, what they show.
    void sync() {
        Model m = snapshot();
        if (shown_ && m == *shown_) return;
        const bool frameChanged = !shown_ || shown_->window.frame != m.window.frame;
        const bool visibilityChanged = !shown_ || shown_->hasWindow() != m.hasWindow() ||
                                       shown_->window.palette != m.window.palette;
        shown_ = std::move(m);
        const Model& s = *shown_;
        gtk_window_set_title(GTK_WINDOW(window_), (s.deck.name + " - " + programName).c_str());
        if (frameChanged) {
            const Rect& f = s.window.frame;
            placing_ = {whole(f.x) + origin_.x, whole(f.y) + origin_.y, whole(f.w), whole(f.h)};
            gtk_window_move(GTK_WINDOW(window_), placing_.x, placing_.y);
            gtk_window_resize(GTK_WINDOW(window_), placing_.width, placing_.height);
            const Rect p = s.paletteFrame();
            gtk_window_move(GTK_WINDOW(palette_), whole(p.x) + origin_.x, whole(p.y) + origin_.y);
            gtk_window_resize(GTK_WINDOW(palette_), whole(p.w), whole(p.h));
        }
        if (visibilityChanged) {
            if (s.hasWindow()) {
                gtk_widget_show(window_);
            } else {
                gtk_widget_hide(window_);
            }
            if (s.hasWindow() && s.window.palette) {
                gtk_widget_show(palette_);
            } else {
                gtk_widget_hide(palette_);
            }
        }
        gtk_widget_queue_draw(window_);
    }

    // The user (or a window manager) moved or resized the window: the model follows.
    void moved(int x, int y, int w, int h) {
        const Rect frame{double(x - origin_.x), double(y - origin_.y), double(w), double(h)};
        if (x == placing_.x && y == placing_.y && w == placing_.width && h == placing_.height) return;
        placing_ = {x, y, w, h};
        model_.change([&](Model& m) {
            if (m.window.frame == frame) return;
            m.window.frame = frame;
            ++m.ax.generation; // the program makes its window elements anew
        });
    }

    void focused() {
        model_.change([](Model& m) {
            if (m.running) m.front = m.program();
        });
    }

    void pressed(GdkEventButton* e) {
        if (e->type != GDK_BUTTON_PRESS) return;
        gtk_window_present_with_time(GTK_WINDOW(window_), e->time);
        if (e->button != 1 || !shown_) return;
        const double gx = shown_->window.frame.x + e->x, gy = shown_->window.frame.y + e->y;
        const Layout l = shown_->layout();
        if (gy < l.ribbon.y + titleBarHeight) {
            gtk_window_begin_move_drag(GTK_WINDOW(window_), int(e->button), int(e->x_root), int(e->y_root), e->time);
            return;
        }
        for (std::size_t i = 0; i < shown_->deck.slides.size(); ++i) {
            if (slideTile(l, *shown_, i).contains({gx, gy})) {
                model_.change([i](Model& m) {
                    if (i < m.deck.slides.size()) m.deck.current = i;
                });
                return;
            }
        }
    }

    // The wheel over the slide editor scrolls it; with Ctrl it zooms, as the program does.
    void scrolled(GdkEventScroll* e) {
        double dx = 0, dy = 0;
        if (e->direction == GDK_SCROLL_SMOOTH) {
            gdk_event_get_scroll_deltas(reinterpret_cast<GdkEvent*>(e), &dx, &dy);
        } else {
            dy = e->direction == GDK_SCROLL_DOWN ? 1 : e->direction == GDK_SCROLL_UP ? -1 : 0;
            dx = e->direction == GDK_SCROLL_RIGHT ? 1 : e->direction == GDK_SCROLL_LEFT ? -1 : 0;
        }
        const bool zoom = (e->state & GDK_CONTROL_MASK) != 0;
        const bool sideways = (e->state & GDK_SHIFT_MASK) != 0;
        model_.change([&](Model& m) {
            if (m.window.view != View::normal) return; // the sorter's grid is not the slide editor
            if (zoom) {
                const double z = std::round(m.effectiveZoom());
                m.window.fit = false;
                m.window.zoom = std::clamp(z - 10 * dy, minZoom, maxZoom);
                return;
            }
            if (m.window.fit) return; // at Fit nothing scrolls
            Point& s = m.window.scroll;
            if (sideways) {
                s.x += 0.05 * dy;
            } else {
                s.x += 0.05 * dx;
                s.y += 0.05 * dy;
            }
            s.x = std::clamp(s.x, 0.0, 1.0);
            s.y = std::clamp(s.y, 0.0, 1.0);
        });
    }

    void draw(cairo_t* cr) {
        if (!shown_) return;
        const Model& m = *shown_;
        const Layout l = m.layout();
        cairo_save(cr);
        cairo_translate(cr, -m.window.frame.x, -m.window.frame.y); // draw in global points
        fill(cr, l.window, 0.96);
        fill(cr, {l.ribbon.x, l.ribbon.y, l.ribbon.w, titleBarHeight}, 0.0);
        cairo_set_source_rgb(cr, 0.72, 0.28, 0.16);
        cairo_rectangle(cr, l.ribbon.x, l.ribbon.y, l.ribbon.w, titleBarHeight);
        cairo_fill(cr);
        text(cr, l.ribbon.x + 12, l.ribbon.y + 19, m.deck.name + " - " + programName, 13, 1);
        fill(cr, {l.ribbon.x, l.ribbon.y + titleBarHeight, l.ribbon.w, l.ribbon.h - titleBarHeight}, 0.93);
        text(cr, l.ribbon.x + 12, l.ribbon.y + titleBarHeight + 24, "Home    Insert    Draw    Design    View", 12, 0.3);

        if (m.window.view == View::sorter) {
            fill(cr, {l.thumbnails.x, l.thumbnails.y, l.window.w, l.thumbnails.h}, 0.90);
            tiles(cr, m, l);
            fill(cr, l.status, 0.88);
            text(cr, l.status.x + 12, l.status.y + 21, "Slide Sorter", 12, 0.3);
            cairo_restore(cr);
            return;
        }
        fill(cr, l.thumbnails, 0.90);
        tiles(cr, m, l);

        fill(cr, l.pane, 0.84);
        cairo_save(cr);
        cairo_rectangle(cr, l.pane.x, l.pane.y, l.pane.w, l.pane.h);
        cairo_clip(cr);
        paintSlide(cr, m, l);
        if (!m.window.fit) {
            fill(cr, l.verticalBar, 0.75);
            fill(cr, l.horizontalBar, 0.75);
        }
        cairo_restore(cr);

        fill(cr, l.notes, 1.0);
        if (l.notes.h > 20) text(cr, l.notes.x + 12, l.notes.y + 20, "Click to add notes", 12, 0.55);
        fill(cr, l.status, 0.88);
        text(cr, l.status.x + 12, l.status.y + 21,
             "Slide " + std::to_string(m.deck.current + 1) + " of " + std::to_string(m.deck.slides.size()), 12, 0.3);
        text(cr, l.status.right() - 60, l.status.y + 21, std::to_string(whole(m.effectiveZoom())) + "%", 12, 0.3);
        cairo_restore(cr);
    }

    // The slides as the thumbnail strip shows them, or the slide sorter's grid.
    void tiles(cairo_t* cr, const Model& m, const Layout& l) {
        for (std::size_t i = 0; i < m.deck.slides.size(); ++i) {
            const Rect t = slideTile(l, m, i);
            if (i == m.deck.current) fill(cr, {t.x - 4, t.y - 4, t.w + 8, t.h + 8}, 0.55);
            fill(cr, t, 1.0);
            text(cr, t.x - 18, t.y + 14, std::to_string(i + 1), 11, 0.3);
        }
    }

    // The slide as the add-in exports it, at the pixels it covers, kept until it changes.
    void paintSlide(cairo_t* cr, const Model& m, const Layout& l) {
        const Slide& slide = m.currentSlide();
        const int width = std::max(1, whole(l.slide.w));
        if (!picture_ || pictureOf_ != slide || pictureTheme_ != m.theme || pictureWidth_ != width ||
            pictureSize_ != std::make_pair(m.deck.slideW, m.deck.slideH)) {
            if (picture_) cairo_surface_destroy(picture_);
            const std::string png = slidePicture(slide, m.deck.slideW, m.deck.slideH, m.theme, width);
            std::string_view bytes = png;
            picture_ = png.empty() ? nullptr : cairo_image_surface_create_from_png_stream(readBytes, &bytes);
            pictureOf_ = slide;
            pictureTheme_ = m.theme;
            pictureWidth_ = width;
            pictureSize_ = {m.deck.slideW, m.deck.slideH};
        }
        fill(cr, {l.slide.x + 3, l.slide.y + 3, l.slide.w, l.slide.h}, 0.7); // its shadow
        if (!picture_ || cairo_surface_status(picture_) != CAIRO_STATUS_SUCCESS) {
            fill(cr, l.slide, 1.0);
            return;
        }
        cairo_save(cr);
        cairo_translate(cr, l.slide.x, l.slide.y);
        cairo_scale(cr, l.slide.w / cairo_image_surface_get_width(picture_), l.slide.h / cairo_image_surface_get_height(picture_));
        cairo_set_source_surface(cr, picture_, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
    }

    SharedModel& model_;
    Origin origin_;
    GtkWidget* window_;
    GtkWidget* palette_;
    guint timer_ = 0;
    std::optional<Model> shown_;
    GdkRectangle placing_{}; // where the window was last put, in root coordinates
    cairo_surface_t* picture_ = nullptr;
    Slide pictureOf_;
    Theme pictureTheme_{};
    int pictureWidth_ = 0;
    std::pair<double, double> pictureSize_;
};

// The monitors in the model's terms: points from the primary monitor's top-left corner, the
// primary one first.
std::vector<Screen> monitors(Origin& origin) {
    GdkDisplay* d = gdk_display_get_default();
    GdkMonitor* primary = gdk_display_get_primary_monitor(d);
    if (!primary) primary = gdk_display_get_monitor(d, 0);
    GdkRectangle p{};
    if (primary) gdk_monitor_get_geometry(primary, &p);
    origin = {p.x, p.y};
    std::vector<Screen> out;
    auto add = [&](GdkMonitor* mon) {
        GdkRectangle g, w;
        gdk_monitor_get_geometry(mon, &g);
        gdk_monitor_get_workarea(mon, &w);
        out.push_back({{double(g.x - p.x), double(g.y - p.y), double(g.width), double(g.height)},
                       {double(w.x - p.x), double(w.y - p.y), double(w.width), double(w.height)},
                       double(gdk_monitor_get_scale_factor(mon))});
    };
    if (primary) add(primary);
    for (int i = 0; i < gdk_display_get_n_monitors(d); ++i) {
        GdkMonitor* mon = gdk_display_get_monitor(d, i);
        if (mon != primary) add(mon);
    }
    return out;
}
} // namespace

bool open() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    gdk_set_allowed_backends("x11");
    return gtk_init_check(nullptr, nullptr);
}

void run(SharedModel& model, const std::function<void()>& serve) {
    Origin origin;
    const auto screens = monitors(origin);
    // The desktop is the real one now: geometry answers, screens and the window list speak of it.
    model.change([&](Model& m) {
        if (!screens.empty()) m.screens = screens;
    });
    std::atomic<bool> served{false};
    {
        Window window(model, origin);
        std::thread server([&] {
            serve();
            served = true;
            g_main_context_wakeup(nullptr);
        });
        while (!served) g_main_context_iteration(nullptr, TRUE);
        server.join();
    }
}

} // namespace scribbet::standin::windowGtk
