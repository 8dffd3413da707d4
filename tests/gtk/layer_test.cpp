// The layer's window and web view under X, with a real WebKitGTK page served by the
// program's own server: the page's messages and script results as the layer receives them,
// the navigation policies and load failures with their names, a web process that ends, and
// what a person sees and clicks: a transparent window that lets the mouse through on demand.
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include "gtk_fixture.hpp"
#include "adapters/gtk/layer_window.hpp"
#include "adapters/gtk/page_view.hpp"
#include "server/http_client.hpp"
#include "server/server.hpp"
// After the tests' headers: Xlib's macros (None, Bool) would break them.
#include <gdk/gdkx.h>

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// A page that says what happens to it.
const char* probePage = R"(<!doctype html>
<html><head><style>
html, body { margin: 0; background: transparent; }
#box { position: absolute; left: 100px; top: 100px; width: 200px; height: 150px; background: rgb(0, 0, 255); }
</style></head><body><div id="box"></div><script>
const post = (m) => window.webkit.messageHandlers.scribbet.postMessage(m);
window.SCB = {
  text: () => 'hello', list: () => [1, 'a', { b: 2 }], obj: () => ({ x: 1.5, y: [true, null] }),
  num: () => 42, flag: () => true, nothing: () => null, undef: () => undefined, fn: () => () => 1,
  boom: () => { throw new Error('the page broke'); },
  go: (url) => { location.href = url; return 'going'; },
};
addEventListener('mousedown', (e) => post({ type: 'mouse', x: e.clientX, y: e.clientY }));
addEventListener('keydown', (e) => post({ type: 'key', key: e.key, ctrl: e.ctrlKey }));
post({ type: 'ready' });
post('just text');
post(undefined);
post({ type: 'regions', rects: [[100, 100, 200, 150]], all: false });
</script><img src="missing.png"><iframe src="missing-frame.html"></iframe></body></html>
)";

struct Response {
    bool http;
    int status;
    bool mainFrame;
};

// The layer's side, recording every call; it answers as the layer would.
class Recorder final : public LayerPageEvents {
public:
    bool allowNavigation(const LayerWebView&, const std::string& url) override {
        navigations.push_back(url);
        if (allowAll) return true;
        return url.find("127.0.0.1:" + std::to_string(port) + "/") != std::string::npos || url.rfind("about:", 0) == 0;
    }
    bool allowResponse(const LayerWebView&, bool isHTTP, int status, bool mainFrame) override {
        responses.push_back({isHTTP, status, mainFrame});
        return !(isHTTP && status >= 400 && mainFrame);
    }
    void loadFailed(const LayerWebView&, const PageLoadFailure& failure) override { failures.push_back(failure); }
    void contentProcessEnded(const LayerWebView&) override { ++ended; }
    void message(const LayerWebView&, const json& body) override { messages.push_back(body); }

    std::size_t count(const std::string& type) const {
        return std::count_if(messages.begin(), messages.end(), [&](const json& m) {
            return m.is_object() && m.value("type", "") == type;
        });
    }
    const json* last(const std::string& type) const {
        for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
            if (it->is_object() && it->value("type", "") == type) return &*it;
        }
        return nullptr;
    }

    std::uint16_t port = 0;
    bool allowAll = false; // to reach servers the layer would never ask
    std::vector<std::string> navigations;
    std::vector<Response> responses;
    std::vector<PageLoadFailure> failures;
    int ended = 0;
    std::vector<json> messages;
};

class GtkLayerTest : public test::GtkDisplayTest {
protected:
    void SetUp() override {
        GtkDisplayTest::SetUp();
        if (IsSkipped()) return;
        Settings s;
        s.port = test::freePort();
        test::writeFile(dir / "web" / "probe.html", probePage);
        server = std::make_unique<Server>(dir / "web", Server::Options{.port = s.port});
        ASSERT_TRUE(pumpUntil([&] { return wasLogged("Web server ready on port"); }));
        recorder->port = s.port;
        layers = std::make_unique<GtkLayerFactory>(screens, *main);
        const Rect monitor = screens->screens().front().frame;
        window = std::make_unique<LayerWindow>(monitor, screens);
        page = std::dynamic_pointer_cast<PageView>(factory().makeWebView(*window, recorder));
        ASSERT_TRUE(page);
    }
    void TearDown() override {
        if (page) page->detach();
        window.reset();
        page.reset();
        GtkDisplayTest::TearDown();
        if (server) server->stop();
    }

    GtkLayerFactory& factory() { return *layers; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(recorder->port) + path;
    }
    void openProbe() {
        page->load(url("/probe.html"), 10s);
        ASSERT_TRUE(pumpUntil([&] { return recorder->count("regions") > 0; }, 15000ms)) << "the page did not start";
    }
    EvalResult eval(const std::string& script) {
        std::optional<EvalResult> got;
        page->evaluate(script, [&](EvalResult r) { got = std::move(r); });
        EXPECT_TRUE(pumpUntil([&] { return got.has_value(); }));
        return got.value_or(EvalResult{});
    }

    std::unique_ptr<Server> server;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::unique_ptr<LayerWindow> window;
    std::shared_ptr<PageView> page;
    std::unique_ptr<GtkLayerFactory> layers;
};

TEST_F(GtkLayerTest, ThePageSaysReadyAndItsMessagesArriveAsJSONInOrder) {
    openProbe();
    ASSERT_GE(recorder->messages.size(), 4u);
    EXPECT_EQ(recorder->messages[0], (json{{"type", "ready"}}));
    EXPECT_EQ(recorder->messages[1], json("just text"));
    EXPECT_TRUE(recorder->messages[2].is_null()); // undefined has no JSON
    EXPECT_EQ(recorder->messages[3], (json{{"type", "regions"}, {"rects", {{100, 100, 200, 150}}}, {"all", false}}));
    // The page was asked for as the layer asks: navigation allowed, a 200 for the main frame,
    // a 404 for its missing frame that is not the main frame's, so it does not count as the
    // page failing (a missing picture is not even asked about).
    EXPECT_EQ(recorder->navigations.front(), url("/probe.html"));
    ASSERT_TRUE(pumpUntil([&] { return recorder->responses.size() >= 2; }));
    EXPECT_TRUE(recorder->responses[0].http && recorder->responses[0].mainFrame);
    EXPECT_EQ(recorder->responses[0].status, 200);
    EXPECT_TRUE(recorder->responses[1].http);
    EXPECT_EQ(recorder->responses[1].status, 404);
    EXPECT_FALSE(recorder->responses[1].mainFrame);
    EXPECT_EQ(recorder->responses.size(), 2u);
    EXPECT_TRUE(recorder->failures.empty());
}

TEST_F(GtkLayerTest, ScriptResultsComeBackAsTextJSONNothingOrError) {
    openProbe();
    EXPECT_EQ(std::get<std::string>(eval("SCB.text()").value), "hello");
    EXPECT_EQ(std::get<json>(eval("SCB.list()").value), json::parse(R"([1,"a",{"b":2}])"));
    EXPECT_EQ(std::get<json>(eval("SCB.obj()").value), json::parse(R"({"x":1.5,"y":[true,null]})"));
    for (const char* nothing : {"SCB.num()", "SCB.flag()", "SCB.nothing()", "SCB.undef()"}) {
        const EvalResult r = eval(nothing);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(r.value)) << nothing;
        EXPECT_FALSE(r.error) << nothing;
    }
    // A function cannot leave the page: nothing, with WebKit's word for it.
    EXPECT_TRUE(std::holds_alternative<std::monostate>(eval("SCB.fn()").value));
    const EvalResult thrown = eval("SCB.boom()");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(thrown.value));
    ASSERT_TRUE(thrown.error);
    EXPECT_NE(thrown.error->find("the page broke"), std::string::npos) << *thrown.error;
    const EvalResult missing = eval("SCB.nowhere()");
    EXPECT_TRUE(missing.error);
    // Without a completion the script still runs.
    page->evaluate("window.webkit.messageHandlers.scribbet.postMessage({type: 'told'})", nullptr);
    EXPECT_TRUE(pumpUntil([&] { return recorder->count("told") == 1; }));
}

TEST_F(GtkLayerTest, AForeignNavigationIsAskedAboutAndRefusedWithoutLeavingThePage) {
    openProbe();
    const std::string elsewhere = "http://127.0.0.1:" + std::to_string(test::freePort()) + "/elsewhere";
    EXPECT_EQ(std::get<std::string>(eval("SCB.go('" + elsewhere + "')").value), "going");
    ASSERT_TRUE(pumpUntil([&] { return recorder->navigations.back() == elsewhere; }));
    pump(300ms);
    // Still the same page: its functions answer, nothing failed, no new response.
    EXPECT_EQ(std::get<std::string>(eval("SCB.text()").value), "hello");
    for (const auto& f : recorder->failures) {
        EXPECT_EQ(f.kind, PageLoadFailureKind::cancelled) << f.description;
    }
}

TEST_F(GtkLayerTest, AMainFrame404IsRefusedAndTheInterruptionComesAsSuch) {
    page->load(url("/nothing.html"), 10s);
    ASSERT_TRUE(pumpUntil([&] { return !recorder->responses.empty(); }));
    EXPECT_EQ(recorder->responses[0].status, 404);
    EXPECT_TRUE(recorder->responses[0].mainFrame);
    ASSERT_TRUE(pumpUntil([&] { return !recorder->failures.empty(); }));
    EXPECT_EQ(recorder->failures[0].kind, PageLoadFailureKind::frameInterrupted);
}

TEST_F(GtkLayerTest, AServerThatIsNotThereIsALoadFailureWithADescription) {
    const std::uint16_t closed = test::freePort();
    recorder->allowAll = true;
    page->load("http://127.0.0.1:" + std::to_string(closed) + "/overlay.html", 10s);
    ASSERT_TRUE(pumpUntil([&] { return !recorder->failures.empty(); }));
    const PageLoadFailure& f = recorder->failures[0];
    EXPECT_EQ(f.kind, PageLoadFailureKind::other);
    EXPECT_FALSE(f.description.empty());
    EXPECT_EQ(recorder->failures.size(), 1u);
}

TEST_F(GtkLayerTest, AServerThatNeverAnswersTimesOutOnceAndTheStopIsACancellation) {
    // A listener that takes connections into its backlog and never answers them.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    // The web process is up first: on a busy machine its start alone can take longer than
    // the time limit, and then the load would end before it was ever asked for.
    openProbe();
    const auto responses = recorder->responses.size();
    const auto start = std::chrono::steady_clock::now();
    recorder->allowAll = true;
    const std::string silent = "http://127.0.0.1:" + std::to_string(ntohs(at.sin_port)) + "/overlay.html";
    page->load(silent, 400ms);
    // The probe's load, if it was still finishing, ends as a cancellation first.
    auto timedOut = [&] {
        return std::count_if(recorder->failures.begin(), recorder->failures.end(),
                             [](const PageLoadFailure& f) { return f.kind == PageLoadFailureKind::timedOut; });
    };
    ASSERT_TRUE(pumpUntil([&] { return timedOut() > 0; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_EQ(std::count(recorder->navigations.begin(), recorder->navigations.end(), silent), 1);
    // The probe's own files may still be arriving; the silent server sent nothing.
    EXPECT_TRUE(std::none_of(recorder->responses.begin() + responses, recorder->responses.end(),
                             [](const Response& r) { return r.mainFrame; }));
    pump(500ms);
    EXPECT_EQ(timedOut(), 1);
    for (const auto& f : recorder->failures) {
        if (f.kind != PageLoadFailureKind::timedOut) {
            EXPECT_EQ(f.kind, PageLoadFailureKind::cancelled) << f.description;
        }
    }
    ::close(fd);
}

TEST_F(GtkLayerTest, AnEndedWebProcessIsReportedAndAReloadBringsThePageBack) {
    openProbe();
    webkit_web_view_terminate_web_process(page->view());
    ASSERT_TRUE(pumpUntil([&] { return recorder->ended == 1; }));
    page->reload();
    ASSERT_TRUE(pumpUntil([&] { return recorder->count("ready") == 2; }, 15000ms));
    EXPECT_EQ(std::get<std::string>(eval("SCB.text()").value), "hello");
}

TEST_F(GtkLayerTest, ADetachedPageTellsTheLayerNothingMore) {
    openProbe();
    const std::size_t before = recorder->messages.size();
    page->detach();
    page->evaluate("window.webkit.messageHandlers.scribbet.postMessage({type: 'late'})", nullptr);
    webkit_web_view_terminate_web_process(page->view());
    pump(500ms);
    EXPECT_EQ(recorder->messages.size(), before);
    EXPECT_EQ(recorder->ended, 0);
    // Loads after the detach go nowhere either.
    page->load(url("/nothing.html"), 1s);
    pump(500ms);
    EXPECT_TRUE(recorder->failures.empty());
}

TEST_F(GtkLayerTest, TheWindowIsTransparentAndTheMouseGoesThroughOnlyWhenAsked) {
    test::ColourWindow below(0, 0, 700, 500, 1, 0, 0);
    pump(200ms);
    openProbe();
    window->makeKeyAndFront();
    ASSERT_TRUE(pumpUntil([&] { return pixel(150, 150).near(0, 0, 255); })) << pixel(150, 150);
    EXPECT_TRUE(window->hasRGBAVisual());
    EXPECT_TRUE(window->isVisible());
    // Beside the page's box, the window below shows through.
    EXPECT_TRUE(pixel(50, 50).near(255, 0, 0)) << pixel(50, 50);
    EXPECT_TRUE(pixel(400, 300).near(255, 0, 0)) << pixel(400, 300);
    screenshot("layer-transparent");

    // Taking the mouse: the page gets the click, wherever it lands on the layer.
    click(150, 160);
    ASSERT_TRUE(pumpUntil([&] { return recorder->count("mouse") == 1; }));
    EXPECT_EQ(recorder->last("mouse")->value("x", 0), 150);
    EXPECT_EQ(recorder->last("mouse")->value("y", 0), 160);
    click(400, 300);
    ASSERT_TRUE(pumpUntil([&] { return recorder->count("mouse") == 2; }));
    EXPECT_EQ(below.clicks, 0);

    // Letting it through: the window below gets the clicks, even over the page's box.
    window->setIgnoresMouse(true);
    EXPECT_TRUE(window->ignoresMouse());
    click(400, 300);
    click(150, 160);
    ASSERT_TRUE(pumpUntil([&] { return below.clicks == 2; }));
    EXPECT_EQ(recorder->count("mouse"), 2u);

    window->setIgnoresMouse(false);
    click(160, 170);
    ASSERT_TRUE(pumpUntil([&] { return recorder->count("mouse") == 3; }));
    EXPECT_EQ(below.clicks, 2);
}

// Another program takes the keyboard it is handed as being brought to the front (the desktop
// stand-in does): hiding the layer must hand it to nobody, or hiding it for a third program
// would bring the presentation program back and the layer with it.
TEST_F(GtkLayerTest, AHiddenLayerHandsTheKeyboardToNoOtherWindowAndTakesItBackIfNobodyElseDid) {
    test::ColourWindow below(0, 0, 700, 500, 1, 0, 0);
    int focused = 0;
    g_signal_connect(below.widget(), "focus-in-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer n) -> gboolean {
                         ++*static_cast<int*>(n);
                         return FALSE;
                     }),
                     &focused);
    auto keyboardOnLayer = [&] {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(gdk_x11_get_default_xdisplay(), &focus, &revert);
        GdkWindow* layer = gtk_widget_get_window(window->widget());
        return layer && focus == gdk_x11_window_get_xid(layer);
    };
    pump(200ms);
    openProbe();
    window->makeKeyAndFront();
    ASSERT_TRUE(pumpUntil([&] { return pixel(150, 150).near(0, 0, 255) && keyboardOnLayer(); }));
    moveTo(400, 300); // once the layer is gone, the pointer is over the window below
    key("a");
    ASSERT_TRUE(pumpUntil([&] { return recorder->count("key") == 1; }));

    focused = 0;
    window->hide();
    pump(400ms);
    key("b");
    pump(300ms);
    EXPECT_EQ(focused, 0);
    EXPECT_EQ(below.keys, 0);

    window->orderFrontRegardless();
    EXPECT_TRUE(pumpUntil(keyboardOnLayer)) << "the layer did not come back as it was";
    // GTK's own request for the keyboard, stamped with the last event's time, still counts.
    window->hide();
    pump(100ms);
    window->makeKeyAndFront();
    EXPECT_TRUE(pumpUntil(keyboardOnLayer));

    // Somebody took the keyboard while the layer was away: showing it again leaves it there.
    window->hide();
    pump(100ms);
    gtk_window_present(GTK_WINDOW(below.widget()));
    ASSERT_TRUE(pumpUntil([&] { return gtk_window_is_active(GTK_WINDOW(below.widget())); }));
    window->orderFrontRegardless();
    pump(300ms);
    key("d");
    EXPECT_TRUE(pumpUntil([&] { return below.keys == 1; }));
    EXPECT_FALSE(keyboardOnLayer());
}

TEST_F(GtkLayerTest, HiddenFramedAndClearedAsTheLayerAsks) {
    EXPECT_FALSE(window->isVisible());
    window->orderFrontRegardless();
    EXPECT_TRUE(window->isVisible());
    window->hide();
    EXPECT_FALSE(window->isVisible());

    // A frame in the platform convention lands where the flip says on the root window.
    const Rect platform{200, screens->flip().height - 100 - 300, 400, 300}; // top-left at (200, 100)
    window->setFrame(platform);
    window->orderFrontRegardless();
    ASSERT_TRUE(pumpUntil([&] {
        int x = 0, y = 0;
        gdk_window_get_origin(gtk_widget_get_window(window->widget()), &x, &y);
        return x == 200 && y == 100 && gtk_widget_get_allocated_width(window->widget()) == 400;
    }));
    EXPECT_EQ(window->frame(), platform);
    window->clear();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->widget(), nullptr);
    window->makeKeyAndFront(); // does nothing any more, and does not fail
    window->setIgnoresMouse(true);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(GtkLayerTest, AWebViewIsMadeOnlyForALayerWindowThatStillStands) {
    class OtherPanel final : public LayerPanel {
    public:
        Rect frame() const override { return {}; }
        void setFrame(const Rect&) override {}
        bool isVisible() const override { return false; }
        void makeKeyAndFront() override {}
        void orderFrontRegardless() override {}
        void hide() override {}
        bool ignoresMouse() const override { return false; }
        void setIgnoresMouse(bool) override {}
        void clear() override {}
    } other;
    EXPECT_EQ(factory().makeWebView(other, recorder), nullptr);
    window->clear();
    EXPECT_EQ(factory().makeWebView(*window, recorder), nullptr);
}

} // namespace
