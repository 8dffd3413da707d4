#pragma once
// Choosing real windows at start: with an X display (DISPLAY, which a Wayland session also
// offers through XWayland), the GTK adapters; otherwise none, and the program runs
// headless. X is asked for by name because the layer needs what only X lets a program do:
// place its own windows, keep them above, and see clicks that go to other programs.
#include <pthread.h>

#include <memory>
#include <optional>
#include <string>

#include "adapters/gtk/glib_loop.hpp"
#include "adapters/gtk/layer_window.hpp"
#include "adapters/gtk/monitor_screens.hpp"
#include "adapters/gtk/notice_panel.hpp"
#include "adapters/gtk/status_window.hpp"
#include "adapters/gtk/x11_input.hpp"

namespace scribbet::gtkhost {

// What the windows need besides the loop; made once the main queue runs on the loop.
struct GtkAdapters {
    std::shared_ptr<MonitorScreens> screens;
    std::shared_ptr<GtkLayerFactory> layers;
    std::shared_ptr<X11Input> input;
    std::shared_ptr<NoticePanel> notices;
    std::shared_ptr<GtkStatusUI> status;
};

struct DisplayChoice {
    std::shared_ptr<GlibMainLoop> loop; // none without a display
    std::string why;                    // one line on why there are no windows; empty when there are
};

// Opens the display on the calling thread, which becomes the main thread.
DisplayChoice openDisplay();
// The adapters on the display openDisplay() opened, for the main queue on its loop.
GtkAdapters adaptersOn(MainQueue& main);

// WebKit's libraries start a thread of their own before main() can block SIGINT and SIGTERM
// for every thread; either signal landing there would end the process on the spot. Both are
// caught instead and handed on to `waiter`, the thread that waits for them with sigwait().
void forwardStopSignals(pthread_t waiter);

// If the display goes away while the program runs, GDK can only end the process. Instead the
// program says so in its log and on stderr, and starts itself again without a display, as
// the same instance: same socket, same port, no links replayed.
void restartHeadlessOnDisplayLoss(const char* program);

} // namespace scribbet::gtkhost
