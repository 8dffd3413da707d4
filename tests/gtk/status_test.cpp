// The status window and the notice as a person sees them: where their parts lie, what the
// buttons do, the log view following new lines, closing as hiding, and the notice at the top
// of the screen under the pointer, gone on a click.
#include "app/notice.hpp"
#include "app/status_layout.hpp"
#include "gtk_fixture.hpp"
#include "adapters/gtk/notice_panel.hpp"
#include "adapters/gtk/status_window.hpp"
#include "adapters/gtk/x11_input.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;

namespace {

class GtkStatusTest : public test::GtkDisplayTest {};

GtkWidget* toplevelTitled(const char* title) {
    GList* all = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* w = all; w; w = w->next) {
        const char* t = gtk_window_get_title(GTK_WINDOW(w->data));
        if (t && std::string(t) == title && gtk_widget_get_visible(GTK_WIDGET(w->data))) found = GTK_WIDGET(w->data);
    }
    g_list_free(all);
    return found;
}

// The frames of the window's parts in its content area, top-left origin, in adding order.
std::vector<Rect> partFrames(GtkWidget* window) {
    GtkWidget* box = gtk_bin_get_child(GTK_BIN(window));
    std::vector<Rect> out;
    GList* children = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList* c = children; c; c = c->next) {
        GtkAllocation a;
        gtk_widget_get_allocation(GTK_WIDGET(c->data), &a);
        out.push_back({double(a.x), double(a.y), double(a.width), double(a.height)});
    }
    g_list_free(children);
    return out;
}

TEST_F(GtkStatusTest, TheStatusWindowIsLaidOutStretchesAndHidesWhenClosed) {
    int draws = 0, asks = 0;
    GtkStatusUI ui(*main);
    auto status = ui.build(statusLayout(false), [&] { ++draws; }, [&] { ++asks; });
    pump(100ms);
    EXPECT_FALSE(status->isVisible()); // built hidden
    EXPECT_EQ(toplevelTitled("Scribbet"), nullptr);

    status->makeKeyAndFront();
    GtkWidget* window = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (window = toplevelTitled("Scribbet")) && gtk_widget_get_mapped(window); }));
    ASSERT_TRUE(pumpUntil([&] { return partFrames(window).size() == 4 && partFrames(window)[3].w == 560; }));
    const auto frames = partFrames(window);
    EXPECT_EQ(frames[0], (Rect{20, 20, 560, 116}));
    EXPECT_EQ(frames[1], (Rect{14, 148, 200, 32}));
    EXPECT_EQ(frames[2], (Rect{218, 148, 190, 32}));
    EXPECT_EQ(frames[3], (Rect{20, 188, 560, 272}));
    // Centred on the screen.
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(window), &x, &y);
    EXPECT_NEAR(x + 300, 800, 2);
    EXPECT_NEAR(y + 240, 500, 2);

    for (int i = 0; i < 80; ++i) status->logView()->append("12:00:0" + std::to_string(i % 10) + "  line " + std::to_string(i) + "\n");
    pump(300ms);
    screenshot("status-window");
    // The log view follows its last line.
    GtkWidget* scroller = gtk_bin_get_child(GTK_BIN(window));
    GList* parts = gtk_container_get_children(GTK_CONTAINER(scroller));
    GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(g_list_last(parts)->data));
    g_list_free(parts);
    EXPECT_GT(gtk_adjustment_get_upper(v), gtk_adjustment_get_page_size(v));
    EXPECT_NEAR(gtk_adjustment_get_value(v), gtk_adjustment_get_upper(v) - gtk_adjustment_get_page_size(v), 1);

    // Bigger: the explanation and the log view grow, the buttons keep their place.
    gtk_window_resize(GTK_WINDOW(window), 800, 600);
    ASSERT_TRUE(pumpUntil([&] { return partFrames(window)[3].w == 760; }));
    const auto big = partFrames(window);
    EXPECT_EQ(big[0], (Rect{20, 20, 760, 116}));
    EXPECT_EQ(big[1], (Rect{14, 148, 200, 32}));
    EXPECT_EQ(big[3], (Rect{20, 188, 760, 392}));

    // The buttons' actions, Return as "Draw on current slide", and the title that changes.
    click(x + 14 + 100, y + 148 + 16);
    ASSERT_TRUE(pumpUntil([&] { return draws == 1; }));
    click(x + 218 + 95, y + 148 + 16);
    ASSERT_TRUE(pumpUntil([&] { return asks == 1; }));
    key("Return");
    ASSERT_TRUE(pumpUntil([&] { return draws == 2; }));
    status->setAccessibilityTitle("Accessibility: on");
    GList* kids = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(g_list_nth_data(kids, 2))), "Accessibility: on");
    g_list_free(kids);

    // Closing hides it; the same window comes back with what was logged meanwhile.
    GdkEvent* close = gdk_event_new(GDK_DELETE);
    close->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    gtk_main_do_event(close);
    gdk_event_free(close);
    EXPECT_FALSE(status->isVisible());
    status->logView()->append("12:01:00  while hidden\n");
    status->makeKeyAndFront();
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(toplevelTitled("Scribbet"), window);
}

TEST_F(GtkStatusTest, TheStatusWindowHidesWhenAnotherProgramTakesTheFocus) {
    GtkStatusUI ui(*main);
    auto status = ui.build(statusLayout(true), [] {}, [] {});
    status->makeKeyAndFront();
    GtkWidget* window = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (window = toplevelTitled("Scribbet")) && gtk_window_is_active(GTK_WINDOW(window)); }));
    // Another window of this program: not a deactivation.
    test::ColourWindow mine(50, 50, 100, 100, 0, 0, 1);
    gtk_window_present(GTK_WINDOW(mine.widget()));
    ASSERT_TRUE(pumpUntil([&] { return gtk_window_is_active(GTK_WINDOW(mine.widget())); }));
    pump(400ms);
    EXPECT_TRUE(status->isVisible());
    // Another program takes the focus.
    test::ForeignWindow other(1200, 50, 200, 200);
    moveTo(1300, 150);
    ASSERT_EQ(test::run({"/usr/bin/xdotool", "windowfocus", std::to_string(other.id())}), 0);
    EXPECT_TRUE(pumpUntil([&] { return !status->isVisible(); }));
}

TEST_F(GtkStatusTest, ANoticeSitsAtTheTopOfTheScreenAndGoesOnAClick) {
    auto panel = std::make_shared<NoticePanel>(screens, *main);
    auto input = std::make_shared<X11Input>(display, screens);
    Notice notice({panel, input, *screens, *main});

    const NoticeUI::Size few = panel->measure("Short words.");
    EXPECT_GT(few.w, 10);
    EXPECT_LT(few.w, 200);
    EXPECT_GT(few.h, 10);
    const std::string longText(60, 'x');
    const NoticeUI::Size wrapped = panel->measure(longText + " " + longText + " " + longText + " " + longText);
    EXPECT_LE(wrapped.w, 440);
    EXPECT_GT(wrapped.h, 2 * few.h);

    moveTo(700, 500);
    const std::string text = "PowerPoint is not running. Open your presentation in PowerPoint, then try again.";
    notice.show(text);
    ASSERT_NE(panel->window(), nullptr);
    const NoticeUI::Size size = panel->measure(text);
    const double W = (size.w <= 200 ? 200 : std::min(size.w, 440.0)) + 32;
    ASSERT_TRUE(pumpUntil([&] { return gtk_widget_get_mapped(panel->window()); }));
    pump(200ms);
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(panel->window()), &x, &y);
    EXPECT_NEAR(x, 800 - W / 2, 1);
    EXPECT_NEAR(y, 24, 1); // the work area is the whole screen here: no panels under Xvfb
    EXPECT_NEAR(gtk_widget_get_allocated_height(panel->window()), size.h + 24, 1);
    // Dark, and readable: the text's white is on it.
    EXPECT_TRUE(pixel(x + 5, y + int(size.h / 2) + 12).near(28, 28, 31, 40)) << pixel(x + 5, y + 20);
    screenshot("notice");

    // A click anywhere on it takes it away, without giving this program the focus.
    click(x + int(W / 2), y + 10);
    ASSERT_TRUE(pumpUntil([&] { return panel->window() == nullptr; }));
    EXPECT_FALSE(notice.showing());
}

} // namespace
