#pragma once
// Tests that need an X display: GTK initialised once per process, the main queue on GLib's
// loop in real time, helpers to pump that loop, to drive the mouse and keyboard through the
// X server (xdotool, so that events take the same road as a person's), and to read and keep
// what is on the screen. They run under scripts/test-gtk.sh, which starts Xvfb and a
// compositing manager and sets SCRIBBET_GTK_DISPLAY; elsewhere they are skipped, so that a
// plain test run never puts windows on a developer's desktop.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.hpp"
#include "log/app_state.hpp"
#include "adapters/gtk/glib_loop.hpp"
#include "adapters/gtk/monitor_screens.hpp"
#include "runtime/queues.hpp"
#include "runtime/shared_slot.hpp"
#include "runtime/system_clock.hpp"
#include "support/process.hpp"
#include "support/test_env.hpp"

namespace scribbet::test {

inline bool displayWanted() {
    const char* v = std::getenv("SCRIBBET_GTK_DISPLAY");
    return v && *v && std::getenv("DISPLAY");
}

inline bool gtkReady() {
    static const bool ready = displayWanted() && gtk_init_check(nullptr, nullptr);
    return ready;
}

// Where screenshots go: never into the repository.
inline std::filesystem::path artifacts() {
    std::filesystem::path dir;
    if (const char* a = std::getenv("SCRIBBET_GTK_ARTIFACTS"); a && *a) {
        dir = a;
    } else if (const char* src = std::getenv("SCRIBBET_TEST_SOURCE"); src && *src) {
        dir = std::filesystem::path(src) / "build" / "gtk-artifacts";
    } else {
        dir = std::filesystem::temp_directory_path() / "scribbet-gtk-artifacts";
    }
    std::filesystem::create_directories(dir);
    return dir;
}

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool near(int R, int G, int B, int tolerance = 24) const {
        return std::abs(r - R) <= tolerance && std::abs(g - G) <= tolerance && std::abs(b - B) <= tolerance;
    }
};

inline std::ostream& operator<<(std::ostream& o, const Rgb& c) {
    return o << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

// Runs a program to its end with this display; its exit status.
inline int run(std::vector<std::string> argv, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    std::vector<std::string> env = {std::string("DISPLAY=") + std::getenv("DISPLAY"), "PATH=/usr/bin:/bin"};
    Process p(std::move(argv), env);
    return p.wait(limit);
}

// The main queue on GLib's loop in real time, the log in a temporary folder.
class GtkDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gtkReady()) GTEST_SKIP() << "needs an X display: run scripts/test-gtk.sh";
        display = gdk_display_get_default();
        loop = std::make_shared<gtkhost::GlibMainLoop>();
        main = std::make_unique<MainQueue>(loop, std::make_shared<SystemClock>());
        state = std::make_unique<AppState>(dir / "Logs" / "Scribbet.log", main.get());
        stateSlot.emplace(*state);
        screens = std::make_shared<gtkhost::MonitorScreens>(display);
    }
    void TearDown() override {
        if (loop) pump(std::chrono::milliseconds(20));
    }

    std::vector<std::string> logged() {
        state->flush();
        return messages(readFile(state->logFile()));
    }
    bool wasLogged(const std::string& prefix) {
        const auto lines = logged();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    }

    // Runs GTK's and the program's events until `done` holds; false when time ran out.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(8000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // Runs events for a while.
    void pump(std::chrono::milliseconds d) {
        pumpUntil([] { return false; }, d);
    }

    // ---- The mouse and keyboard, through the X server ----
    void moveTo(int x, int y) {
        ASSERT_EQ(run({"/usr/bin/xdotool", "mousemove", std::to_string(x), std::to_string(y)}), 0);
        pump(std::chrono::milliseconds(50));
    }
    void click(int x, int y, int button = 1) {
        moveTo(x, y);
        ASSERT_EQ(run({"/usr/bin/xdotool", "click", std::to_string(button)}), 0);
    }
    void key(const std::string& keys) { ASSERT_EQ(run({"/usr/bin/xdotool", "key", keys}), 0); }
    void drag(int x0, int y0, int x1, int y1, int steps = 12) {
        moveTo(x0, y0);
        ASSERT_EQ(run({"/usr/bin/xdotool", "mousedown", "1"}), 0);
        for (int i = 1; i <= steps; ++i) {
            moveTo(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
        }
        ASSERT_EQ(run({"/usr/bin/xdotool", "mouseup", "1"}), 0);
    }

    // ---- The screen ----
    // What the screen shows at a root point, compositing included.
    Rgb pixel(int x, int y) {
        GdkPixbuf* p = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, 1, 1);
        if (!p) return {-1, -1, -1};
        const guchar* px = gdk_pixbuf_get_pixels(p);
        Rgb c{px[0], px[1], px[2]};
        g_object_unref(p);
        return c;
    }
    // The whole screen as a PNG among the artefacts.
    std::filesystem::path screenshot(const std::string& name) {
        GdkWindow* root = gdk_get_default_root_window();
        GdkPixbuf* p = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
        const auto path = artifacts() / (name + ".png");
        if (p) {
            gdk_pixbuf_save(p, path.c_str(), "png", nullptr, nullptr);
            g_object_unref(p);
        }
        return path;
    }

    TempDir dir;
    GdkDisplay* display = nullptr;
    std::shared_ptr<gtkhost::GlibMainLoop> loop;
    std::unique_ptr<MainQueue> main;
    std::unique_ptr<AppState> state;
    std::optional<SharedSlot<AppState>> stateSlot;
    std::shared_ptr<gtkhost::MonitorScreens> screens;
};

// A plain window of one colour that counts the clicks it gets: something to lie under the
// layer, as the presentation program's window would.
class ColourWindow {
public:
    ColourWindow(int x, int y, int w, int h, double r, double g, double b) : colour_{r, g, b} {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_window_move(GTK_WINDOW(window_), x, y);
        gtk_window_set_default_size(GTK_WINDOW(window_), w, h);
        gtk_widget_set_app_paintable(window_, TRUE);
        gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
        g_signal_connect(window_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer self) -> gboolean {
                             const auto* c = static_cast<ColourWindow*>(self)->colour_;
                             cairo_set_source_rgb(cr, c[0], c[1], c[2]);
                             cairo_paint(cr);
                             return TRUE;
                         }),
                         this);
        g_signal_connect(window_, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer self) -> gboolean {
                             if (e->type == GDK_BUTTON_PRESS) static_cast<ColourWindow*>(self)->clicks++;
                             return TRUE;
                         }),
                         this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey*, gpointer self) -> gboolean {
                             static_cast<ColourWindow*>(self)->keys++;
                             return TRUE;
                         }),
                         this);
        gtk_widget_show(window_);
    }
    ~ColourWindow() { gtk_widget_destroy(window_); }
    GtkWidget* widget() const { return window_; }
    int clicks = 0;
    int keys = 0;

private:
    double colour_[3];
    GtkWidget* window_;
};

// A window of another X client, which GDK has never heard of: another program's window.
class ForeignWindow {
public:
    ForeignWindow(int x, int y, int w, int h);
    ~ForeignWindow();
    unsigned long id() const { return window_; }

private:
    void* display_;
    unsigned long window_;
};

} // namespace scribbet::test
