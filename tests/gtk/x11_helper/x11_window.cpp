// Another program with a window, for the desktop tests: a process of its own whose window the
// window manager manages, with the process id (_NET_WM_PID, which GDK sets) and the class a
// real program's window has.
// Usage: x11_window CLASS TITLE X Y WIDTH HEIGHT
// Prints the window's X id on a line of its own once the window is mapped, then runs until it
// is killed or its window is closed.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

namespace {
gboolean mapped(GtkWidget* window, GdkEvent*, gpointer) {
    std::printf("%lu\n", static_cast<unsigned long>(gdk_x11_window_get_xid(gtk_widget_get_window(window))));
    std::fflush(stdout);
    return FALSE;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: x11_window CLASS TITLE X Y WIDTH HEIGHT\n");
        return 2;
    }
    g_set_prgname(argv[1]);
    gdk_set_program_class(argv[1]);
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "x11_window: no X display\n");
        return 1;
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), argv[2]);
    gtk_window_set_default_size(GTK_WINDOW(window), std::atoi(argv[5]), std::atoi(argv[6]));
    gtk_window_move(GTK_WINDOW(window), std::atoi(argv[3]), std::atoi(argv[4]));
    g_signal_connect(window, "map-event", G_CALLBACK(mapped), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show(window);
    gtk_main();
    return 0;
}
