// Keys and clicks as X delivers them: the key monitor sees this program's key presses first
// and may keep them from the page; the mouse monitor hears left-button releases and wheel
// turns that go to other programs' windows, and not those on this program's own.
#include "gtk_fixture.hpp"
// After the tests' headers: Xlib's macros (None, Bool) would break them.
#include <X11/Xlib.h>
#include <webkit2/webkit2.h>

#include "adapters/gtk/layer_window.hpp"
#include "adapters/gtk/page_view.hpp"
#include "adapters/gtk/x11_input.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;
using nlohmann::json;
using test::ForeignWindow;

namespace {

// Records what the page says; allows everything.
class PageEvents final : public LayerPageEvents {
public:
    bool allowNavigation(const LayerWebView&, const std::string&) override { return true; }
    bool allowResponse(const LayerWebView&, bool, int, bool) override { return true; }
    void loadFailed(const LayerWebView&, const PageLoadFailure&) override {}
    void contentProcessEnded(const LayerWebView&) override {}
    void message(const LayerWebView&, const json& body) override { messages.push_back(body); }
    std::vector<json> messages;
    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        for (const auto& m : messages) {
            if (m.value("type", "") == "key") out.push_back(m.value("key", ""));
        }
        return out;
    }
};

class GtkInputTest : public test::GtkDisplayTest {
protected:
    void SetUp() override {
        GtkDisplayTest::SetUp();
        if (IsSkipped()) return;
        input = std::make_unique<X11Input>(display, screens);
    }
    void TearDown() override {
        input.reset();
        GtkDisplayTest::TearDown();
    }
    std::unique_ptr<X11Input> input;
};

TEST_F(GtkInputTest, TheKeyMonitorSeesCtrlAsCommandAndMayKeepAKeyFromThePage) {
    const char* page = R"(<!doctype html><body><script>
addEventListener('keydown', (e) => window.webkit.messageHandlers.scribbet.postMessage({ type: 'key', key: e.key }));
window.webkit.messageHandlers.scribbet.postMessage({ type: 'ready' });
</script></body>)";
    auto events = std::make_shared<PageEvents>();
    LayerWindow window(screens->screens().front().frame, screens);
    GtkLayerFactory factory(screens, *main);
    auto view = std::dynamic_pointer_cast<PageView>(factory.makeWebView(window, events));
    webkit_web_view_load_html(view->view(), page, "http://127.0.0.1/");
    ASSERT_TRUE(pumpUntil([&] { return !events->messages.empty(); }, 15000ms));

    std::vector<KeyEvent> seen;
    auto token = input->addKeyMonitor([&](const KeyEvent& e) {
        seen.push_back(e);
        return e.command && e.charactersIgnoringModifiers == "w"; // keeps Ctrl+W only
    });
    window.makeKeyAndFront();
    pump(300ms);
    key("ctrl+w");
    key("ctrl+e");
    key("super+w");
    ASSERT_TRUE(pumpUntil([&] { return seen.size() >= 3 && events->keys().size() >= 3; }));
    pump(200ms);

    // Modifiers come as key presses of their own; the letters are what count.
    std::vector<KeyEvent> letters;
    std::copy_if(seen.begin(), seen.end(), std::back_inserter(letters),
                 [](const KeyEvent& e) { return e.charactersIgnoringModifiers.size() == 1; });
    ASSERT_EQ(letters.size(), 3u);
    EXPECT_TRUE(letters[0].command && !letters[0].control && letters[0].inLayerPanel);
    EXPECT_EQ(letters[0].charactersIgnoringModifiers, "w");
    EXPECT_EQ(letters[1].charactersIgnoringModifiers, "e");
    EXPECT_TRUE(letters[2].control && !letters[2].command);
    // The page never heard the kept Ctrl+W, and heard the rest.
    const auto keys = events->keys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "w"), 1); // super+w only
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "e"), 1);

    // A key in another window of this program is not the layer's.
    test::ColourWindow other(900, 600, 200, 200, 0, 0.5, 0);
    gtk_window_present(GTK_WINDOW(other.widget()));
    ASSERT_TRUE(pumpUntil([&] { return gtk_window_is_active(GTK_WINDOW(other.widget())); }));
    seen.clear();
    key("ctrl+w");
    ASSERT_TRUE(pumpUntil([&] { return other.keys > 0; }));
    ASSERT_FALSE(seen.empty());
    EXPECT_FALSE(seen.back().inLayerPanel);

    // A removed monitor sees nothing more.
    token.reset();
    seen.clear();
    key("ctrl+e");
    pump(300ms);
    EXPECT_TRUE(seen.empty());
}

TEST_F(GtkInputTest, TheMouseMonitorHearsClicksAndWheelsOnOtherProgramsOnly) {
    ASSERT_GE(input->xiOpcode(), 0) << "the X server has no XInput 2";
    int heard = 0;
    auto token = input->addMouseMonitor([&] { ++heard; });
    ForeignWindow foreign(1000, 600, 300, 200);
    test::ColourWindow own(100, 600, 300, 200, 0, 0, 0.6);
    pump(300ms);

    click(1100, 700);
    ASSERT_TRUE(pumpUntil([&] { return heard == 1; }));
    click(1100, 700, 4); // the wheel, up
    ASSERT_TRUE(pumpUntil([&] { return heard == 2; }));
    click(1100, 700, 3); // a right click is not a left-button release
    click(200, 700);     // on this program's own window
    click(200, 700, 5);
    pump(400ms);
    EXPECT_EQ(heard, 2);
    EXPECT_EQ(own.clicks, 1); // the wheel comes to GDK as a scroll, not a press

    token.reset();
    click(1100, 700);
    pump(300ms);
    EXPECT_EQ(heard, 2);
}

TEST_F(GtkInputTest, ThePointerAndHeldButtonsInThePlatformsConvention) {
    moveTo(300, 200);
    const Point p = input->pointer();
    EXPECT_EQ(p.x, 300);
    EXPECT_EQ(p.y, screens->flip().height - 200);
    EXPECT_FALSE(input->buttonsHeld());
    ASSERT_EQ(test::run({"/usr/bin/xdotool", "mousedown", "1"}), 0);
    EXPECT_TRUE(pumpUntil([&] { return input->buttonsHeld(); }));
    ASSERT_EQ(test::run({"/usr/bin/xdotool", "mouseup", "1"}), 0);
    EXPECT_TRUE(pumpUntil([&] { return !input->buttonsHeld(); }));
}

} // namespace
