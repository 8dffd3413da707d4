#include "adapters/gtk/gtk_host.hpp"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <iostream>

#include "log/app_state.hpp"

namespace scribbet::gtkhost {

namespace {
const char* restartProgram = nullptr;
pthread_t stopWaiter{};

void handOnStop(int sig) { ::pthread_kill(stopWaiter, sig); }

bool set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

void closeInheritedFiles() {
    if (::close_range(3, UINT_MAX, 0) == 0) return;
    const long limit = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
    for (int fd = 3; fd < limit; ++fd) ::close(fd);
}

int displayLost(Display*) {
    log("The display went away - Scribbet goes on without windows.");
    std::cerr << "scribbet: the display went away - going on without windows.\n";
    AppState::shared().flush();
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    // The listening sockets, the log and GDK's dead connection must not outlive the exec.
    closeInheritedFiles();
    char* const argv[] = {const_cast<char*>(restartProgram), nullptr};
    ::execv("/proc/self/exe", argv);
    ::_exit(1);
}
} // namespace

DisplayChoice openDisplay() {
    if (!set("DISPLAY")) {
        return {nullptr, set("WAYLAND_DISPLAY") ? "no X display (Wayland without XWayland) - running without windows."
                                                      : "no display - running without windows."};
    }
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr)) {
        return {nullptr, std::string("cannot open the display ") + std::getenv("DISPLAY") +
                                  " - running without windows."};
    }
    return {std::make_shared<GlibMainLoop>(), ""};
}

GtkAdapters adaptersOn(MainQueue& main) {
    GdkDisplay* display = gdk_display_get_default();
    GtkAdapters a;
    a.screens = std::make_shared<MonitorScreens>(display);
    a.layers = std::make_shared<GtkLayerFactory>(a.screens, main);
    a.input = std::make_shared<X11Input>(display, a.screens);
    a.notices = std::make_shared<NoticePanel>(a.screens, main);
    a.status = std::make_shared<GtkStatusUI>(main);
    return a;
}

void forwardStopSignals(pthread_t waiter) {
    stopWaiter = waiter;
    struct sigaction sa {};
    sa.sa_handler = handOnStop;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

void restartHeadlessOnDisplayLoss(const char* program) {
    restartProgram = program;
    XSetIOErrorHandler(displayLost);
}

} // namespace scribbet::gtkhost
