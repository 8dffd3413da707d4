// Whether the display can show a see-through layer, as the GTK adapter reports it, and what
// the layer does with that. The test runs an X server of its own, so that it can start and
// stop a compositing manager there whatever the display the other tests run on.
#include <signal.h>

#include <fstream>

#include "app/idle.hpp"
#include "app/notice.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "program/ppt.hpp"
#include "gtk_fixture.hpp"
#include "layer/overlay.hpp"
#include "adapters/fake/fake_layer.hpp"
#include "adapters/fake/fake_status.hpp"
#include "adapters/gtk/layer_window.hpp"
#include "ports/preferences.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;

namespace {

// Real layer windows on the display under test, a page played in memory (the point here is
// the window and the display, not WebKit).
class WindowsWithPlayedPage final : public LayerFactory {
public:
    explicit WindowsWithPlayedPage(GtkLayerFactory& windows) : windows_(windows) {}
    bool canShowSeeThrough() const override { return windows_.canShowSeeThrough(); }
    std::unique_ptr<LayerPanel> makePanel(const Rect& frame) override {
        auto p = windows_.makePanel(frame);
        panel = dynamic_cast<LayerWindow*>(p.get());
        return p;
    }
    std::shared_ptr<LayerWebView> makeWebView(LayerPanel&, std::weak_ptr<LayerPageEvents> events) override {
        web = std::make_shared<fake::FakeWebView>(std::move(events));
        return web;
    }
    LayerWindow* panel = nullptr;
    std::shared_ptr<fake::FakeWebView> web;

private:
    GtkLayerFactory& windows_;
};

// What the layer works with besides its windows: the program and Accessibility on fakes.
struct LayerParts {
    LayerParts(MainQueue& main, const Screens& screens, std::shared_ptr<LayerFactory> layers)
        : main(main), ppt({nullptr, nullptr, nullptr}, main, "SCBT_Pen."),
          ax({nullptr, prefs, nullptr, true, "?"}), reader(nullptr, main.clock(), ppt),
          notice({notices, nullptr, screens, main}), idle({main, AppState::shared(), nullptr, nullptr}),
          overlay(std::make_shared<Overlay>(Overlay::Ports{std::move(layers), nullptr, nullptr, reader, measureQueue,
                                                           main, screens, prefs, ppt, ax, notice, idle, 3921})) {}
    ~LayerParts() { overlay->teardown(); }

    MainQueue& main;
    MemoryPreferences prefs;
    std::shared_ptr<fake::FakeNoticeUI> notices = std::make_shared<fake::FakeNoticeUI>();
    PPT ppt;
    AXAccess ax;
    PaneReader reader;
    Notice notice;
    Idle idle;
    SerialQueue measureQueue{"test.measure"};
    std::shared_ptr<Overlay> overlay;
};

class GtkSeeThroughTest : public test::GtkDisplayTest {
protected:
    void SetUp() override {
        GtkDisplayTest::SetUp();
        if (IsSkipped()) return;
        const auto log = dir / "xvfb.log";
        // -displayfd writes the display's number once it takes clients.
        xvfb = std::make_unique<test::Process>(
            std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
            std::vector<std::string>{"PATH=/usr/bin:/bin"}, log.string());
        ASSERT_TRUE(test::eventually([&] { return displayNumber(log).has_value(); }, 10000ms)) << test::readFile(log);
        name = ":" + *displayNumber(log);
        other = gdk_display_open(name.c_str());
        ASSERT_TRUE(other) << name;
        otherScreens = std::make_shared<MonitorScreens>(other);
        windows = std::make_unique<GtkLayerFactory>(otherScreens, *main, gdk_display_get_default_screen(other));
    }
    void TearDown() override {
        if (parts) parts->overlay->teardown();
        compositor.reset();
        if (loop) pump(100ms); // windows go once the loop is at rest
        parts.reset();
        windows.reset();
        otherScreens.reset();
        if (other) gdk_display_close(other);
        xvfb.reset();
        GtkDisplayTest::TearDown();
    }

    static std::optional<std::string> displayNumber(const std::filesystem::path& log) {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) return line;
        }
        return std::nullopt;
    }
    void startCompositor() {
        compositor = std::make_unique<test::Process>(std::vector<std::string>{"/usr/bin/xcompmgr"},
                                                     std::vector<std::string>{"DISPLAY=" + name});
        ASSERT_TRUE(pumpUntil([&] { return windows->canShowSeeThrough(); })) << "xcompmgr did not take over " << name;
    }
    void stopCompositor() {
        compositor->signal(SIGTERM);
        compositor->wait();
        compositor.reset();
    }
    int count(const std::string& line) {
        const auto lines = logged();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }

    std::unique_ptr<test::Process> xvfb, compositor;
    std::string name;
    GdkDisplay* other = nullptr;
    std::shared_ptr<MonitorScreens> otherScreens;
    std::unique_ptr<GtkLayerFactory> windows;
    std::unique_ptr<LayerParts> parts;
};

TEST_F(GtkSeeThroughTest, TheFactoryReportsACompositingManagerAsItComesAndGoes) {
    EXPECT_FALSE(windows->canShowSeeThrough());
    startCompositor();
    // A window made now is see-through: it has an alpha channel to show through.
    auto panel = windows->makePanel(otherScreens->screens().front().frame);
    auto* w = dynamic_cast<LayerWindow*>(panel.get());
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->hasRGBAVisual());
    EXPECT_EQ(gtk_widget_get_screen(w->widget()), gdk_display_get_default_screen(other));
    stopCompositor();
    EXPECT_TRUE(pumpUntil([&] { return !windows->canShowSeeThrough(); }));
}

TEST_F(GtkSeeThroughTest, TheLayerNeverCoversTheScreenWithoutACompositingManager) {
    auto layers = std::make_shared<WindowsWithPlayedPage>(*windows);
    parts = std::make_unique<LayerParts>(*main, *otherScreens, layers);
    const auto& overlay = parts->overlay;
    const auto& notices = parts->notices;
    Geom g;
    g.slideW = 960;
    g.slideH = 540;
    g.rect = {100, 100, 480, 270};
    g.note = Geom::reported;

    // No manager: no window at all, one line and one notice.
    overlay->open(g, std::nullopt, "pen");
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_EQ(layers->panel, nullptr);
    EXPECT_EQ(notices->shown.size(), 1u);
    EXPECT_TRUE(wasLogged("Could not open the drawing layer: The screen cannot show see-through windows"));

    // With one the layer opens over the screen, and closes as soon as the manager is gone.
    startCompositor();
    overlay->open(g, std::nullopt, "pen");
    ASSERT_TRUE(overlay->isOpen());
    ASSERT_TRUE(layers->panel);
    layers->web->post({{"type", "ready"}});
    ASSERT_TRUE(pumpUntil([&] { return layers->panel->isVisible(); }));
    GtkWidget* shown = layers->panel->widget();
    g_object_ref(shown);
    pump(200ms);
    EXPECT_TRUE(overlay->isOpen());
    stopCompositor();
    EXPECT_TRUE(pumpUntil([&] { return !overlay->isOpen(); }));
    EXPECT_FALSE(gtk_widget_get_visible(shown)); // off the screen
    g_object_unref(shown);
    EXPECT_EQ(count("The screen stopped showing see-through windows - drawing layer closed."), 1);
    EXPECT_EQ(notices->shown.size(), 2u);
}

} // namespace
