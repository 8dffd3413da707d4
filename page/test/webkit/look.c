/*
 * Shows the drawing page in a WebKitGTK 4.1 window on an X display and does what its
 * arguments say, in order, so the page's tests can see it as the layer's own web engine does.
 * The page's "ready" message (through the "scribbet" handler, as in the layer) starts the run.
 *
 *   look URL WIDTH HEIGHT STEP...
 *     js:CODE      runs CODE as a function body (it may await) and prints its JSON-able result
 *     move:X,Y     moves the X pointer to the window's point X,Y
 *     down, up     presses or lets go of the first mouse button
 *     cursor       prints the X cursor image: size, hotspot and the ARGB pixels
 *     wait:MS      runs events for MS ms
 *     shot:PATH    saves what the web view shows as a PNG; PATH@X,Y,W,H saves only that part
 *
 * Each printed result is one line of JSON; a failed step prints {"error": ...} and ends the run
 * with status 1. No step runs longer than 10 s.
 */
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <jsc/jsc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <webkit2/webkit2.h>

static GtkWidget* window;
static WebKitWebView* view;
static gboolean ready, step_done, failed;

static void print_error(const char* what, const char* msg) {
    gchar* m = g_strescape(msg ? msg : "", NULL);
    printf("{\"error\":\"%s: %s\"}\n", what, m);
    fflush(stdout);
    g_free(m);
    failed = TRUE;
}

static void on_message(WebKitUserContentManager* m, WebKitJavascriptResult* r, gpointer data) {
    (void)m; (void)data;
    JSCValue* v = webkit_javascript_result_get_js_value(r);
    gchar* json = jsc_value_to_json(v, 0);
    if (json && strstr(json, "\"type\":\"ready\"")) ready = TRUE;
    g_free(json);
}

static void run_until(gboolean* flag, int ms) {
    gint64 end = g_get_monotonic_time() + (gint64)ms * 1000;
    while (!*flag && g_get_monotonic_time() < end) g_main_context_iteration(NULL, FALSE), g_usleep(1000);
}

static void on_js(GObject* src, GAsyncResult* res, gpointer data) {
    (void)data;
    GError* err = NULL;
    JSCValue* v = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(src), res, &err);
    if (!v) {
        print_error("js", err->message);
        g_error_free(err);
    } else {
        gchar* json = jsc_value_is_undefined(v) ? g_strdup("null") : jsc_value_to_json(v, 0);
        printf("%s\n", json ? json : "null");
        fflush(stdout);
        g_free(json);
        g_object_unref(v);
    }
    step_done = TRUE;
}

static int clip[4];
static gboolean clipped;

static void on_shot(GObject* src, GAsyncResult* res, gpointer path) {
    GError* err = NULL;
    cairo_surface_t* s = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(src), res, &err);
    if (s && clipped) {
        cairo_surface_t* part = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, clip[2], clip[3]);
        cairo_t* cr = cairo_create(part);
        cairo_set_source_surface(cr, s, -clip[0], -clip[1]);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
        s = part;
    }
    if (!s) {
        print_error("shot", err->message);
        g_error_free(err);
    } else {
        if (cairo_surface_write_to_png(s, (const char*)path) != CAIRO_STATUS_SUCCESS) print_error("shot", "could not write the PNG");
        else printf("{\"shot\":\"%s\"}\n", (const char*)path);
        fflush(stdout);
        cairo_surface_destroy(s);
    }
    step_done = TRUE;
}

static Display* xdisplay(void) { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

static void print_cursor(void) {
    XFixesCursorImage* c = XFixesGetCursorImage(xdisplay());
    if (!c) {
        print_error("cursor", "no cursor image");
        return;
    }
    printf("{\"width\":%d,\"height\":%d,\"xhot\":%d,\"yhot\":%d,\"argb\":[", c->width, c->height, c->xhot, c->yhot);
    for (int i = 0; i < c->width * c->height; i++) printf("%s%lu", i ? "," : "", (unsigned long)(c->pixels[i] & 0xffffffffUL));
    printf("]}\n");
    fflush(stdout);
    XFree(c);
}

static void pump(int ms) {
    gboolean never = FALSE;
    run_until(&never, ms);
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: look URL WIDTH HEIGHT STEP...\n");
        return 2;
    }
    gtk_init(&argc, &argv);
    const int w = atoi(argv[2]), h = atoi(argv[3]);
    WebKitUserContentManager* ucm = webkit_user_content_manager_new();
    g_signal_connect(ucm, "script-message-received::scribbet", G_CALLBACK(on_message), NULL);
    webkit_user_content_manager_register_script_message_handler(ucm, "scribbet");
    view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(ucm));
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_move(GTK_WINDOW(window), 0, 0);
    gtk_window_set_default_size(GTK_WINDOW(window), w, h);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(view, argv[1]);
    run_until(&ready, 15000);
    if (!ready) {
        print_error("load", "the page posted no \"ready\" within 15 s");
        return 1;
    }
    pump(300);
    for (int i = 4; i < argc && !failed; i++) {
        const char* s = argv[i];
        step_done = FALSE;
        if (g_str_has_prefix(s, "js:")) {
            webkit_web_view_call_async_javascript_function(view, s + 3, -1, NULL, NULL, NULL, NULL, on_js, NULL);
            run_until(&step_done, 10000);
            if (!step_done) print_error("js", "no answer within 10 s");
        } else if (g_str_has_prefix(s, "move:")) {
            int x = 0, y = 0;
            if (sscanf(s + 5, "%d,%d", &x, &y) != 2) print_error("move", s);
            // Through the X server's test extension, so WebKit sees real pointer motion.
            XTestFakeMotionEvent(xdisplay(), -1, x, y, 0);
            XFlush(xdisplay());
            pump(40);
        } else if (!strcmp(s, "down") || !strcmp(s, "up")) {
            XTestFakeButtonEvent(xdisplay(), 1, !strcmp(s, "down"), 0);
            XFlush(xdisplay());
            pump(100);
        } else if (!strcmp(s, "cursor")) {
            print_cursor();
        } else if (g_str_has_prefix(s, "wait:")) {
            pump(atoi(s + 5));
        } else if (g_str_has_prefix(s, "shot:")) {
            gchar* path = g_strdup(s + 5);
            gchar* at = strrchr(path, '@');
            clipped = at && sscanf(at + 1, "%d,%d,%d,%d", &clip[0], &clip[1], &clip[2], &clip[3]) == 4 && clip[2] > 0 && clip[3] > 0;
            if (clipped) *at = 0;
            webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, NULL, on_shot, path);
            run_until(&step_done, 10000);
            if (!step_done) print_error("shot", "no snapshot within 10 s");
            else g_free(path);
        } else {
            print_error("step", s);
        }
    }
    gtk_widget_destroy(window);
    return failed ? 1 : 0;
}
