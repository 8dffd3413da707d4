// What the drawing page stores outlives the program: a value one run of the program puts in
// the page's local storage is there for a page view made in the next run. Each run is a
// process of its own (this test program again, as one side of the round trip), since the web
// context is made once per process.
#include <gtk/gtk.h>

#include <fstream>

#include "gtk_fixture.hpp"
#include "adapters/gtk/page_view.hpp"
#include "server/http_client.hpp"
#include "server/server.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const char* storagePage = R"(<!doctype html><html><body><script>
window.webkit.messageHandlers.scribbet.postMessage({ type: 'ready' });
</script></body></html>
)";

// The layer's side, as little as the page needs: every navigation to the test server allowed.
class Events final : public LayerPageEvents {
public:
    bool allowNavigation(const LayerWebView&, const std::string&) override { return true; }
    bool allowResponse(const LayerWebView&, bool, int, bool) override { return true; }
    void loadFailed(const LayerWebView&, const PageLoadFailure& f) override { failure = f.description; }
    void contentProcessEnded(const LayerWebView&) override {}
    void message(const LayerWebView&, const json& body) override {
        if (body.is_object() && body.value("type", "") == "ready") ready = true;
    }
    bool ready = false;
    std::string failure;
};

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class GtkPageStorageTest : public test::GtkDisplayTest {
protected:
    // One run of the program: the page served on `port`, loaded in a page view; the result of
    // `script` evaluated in it once it is ready.
    std::string runPage(std::uint16_t port, const std::string& script) {
        Settings s;
        s.port = port;
        test::writeFile(dir / "web" / "storage.html", storagePage);
        Server server(dir / "web", Server::Options{.port = port});
        EXPECT_TRUE(pumpUntil([&] { return wasLogged("Web server ready on port"); }));

        auto events = std::make_shared<Events>();
        auto page = std::make_shared<PageView>(events, *main);
        GtkWidget* window = gtk_offscreen_window_new();
        gtk_container_add(GTK_CONTAINER(window), page->widget());
        gtk_widget_show_all(window);
        page->load("http://127.0.0.1:" + std::to_string(port) + "/storage.html", 10s);
        EXPECT_TRUE(pumpUntil([&] { return events->ready || !events->failure.empty(); }, 15000ms));
        EXPECT_TRUE(events->ready) << events->failure;

        std::optional<EvalResult> got;
        page->evaluate(script, [&](EvalResult r) { got = std::move(r); });
        EXPECT_TRUE(pumpUntil([&] { return got.has_value(); }));
        page->detach();
        gtk_widget_destroy(window);
        server.stop();
        if (!got || got->error) return "error: " + (got ? *got->error : std::string("no answer"));
        const auto* text = std::get_if<std::string>(&got->value);
        return text ? *text : "not a text";
    }
};

// One side of the round trip, run only as a child of the test below.
TEST_F(GtkPageStorageTest, OneRunOfTheProgram) {
    const std::string role = env("SCRIBBET_STORAGE_ROLE");
    if (role.empty()) GTEST_SKIP() << "run by GtkPageStorageTest.TheNextRunFindsWhatThePageStored";
    const auto port = static_cast<std::uint16_t>(std::stoi(env("SCRIBBET_STORAGE_PORT")));
    const std::string script = role == "write"
                                   ? "localStorage.setItem('scribbet.kept', 'a drawing'); 'stored'"
                                   : "localStorage.getItem('scribbet.kept') ?? 'nothing'";
    std::ofstream(env("SCRIBBET_STORAGE_OUT")) << runPage(port, script);
    // The process ends straight away, as the program may quit right after the page stored.
}

TEST_F(GtkPageStorageTest, TheNextRunFindsWhatThePageStored) {
    test::TempDir home;
    const std::uint16_t port = test::freePort(); // the page's origin: the same in both runs
    auto run = [&](const std::string& role) {
        const auto out = home / (role + ".txt");
        std::vector<std::string> environment = {
            std::string("DISPLAY=") + env("DISPLAY"), "SCRIBBET_GTK_DISPLAY=1", "PATH=/usr/bin:/bin", "TZ=UTC",
            "HOME=" + (home / "home").string(), "XDG_DATA_HOME=" + (home / "data").string(),
            "XDG_CACHE_HOME=" + (home / "cache").string(), std::string("XDG_RUNTIME_DIR=") + env("XDG_RUNTIME_DIR"),
            "GSETTINGS_BACKEND=memory", "NO_AT_BRIDGE=1", "SCRIBBET_STORAGE_ROLE=" + role,
            "SCRIBBET_STORAGE_PORT=" + std::to_string(port), "SCRIBBET_STORAGE_OUT=" + out.string()};
        test::Process child({std::filesystem::read_symlink("/proc/self/exe").string(),
                             "--gtest_filter=GtkPageStorageTest.OneRunOfTheProgram"},
                            environment, (home / (role + ".log")).string());
        EXPECT_EQ(child.wait(60000ms), 0) << test::readFile(home / (role + ".log"));
        return test::readFile(out);
    };
    ASSERT_EQ(run("write"), "stored");
    EXPECT_EQ(run("read"), "a drawing");

    // The page's data went where the program keeps its data, and nowhere in the home folder
    // that WebKit would pick by itself.
    const auto data = home / "data" / "scribbet" / "page";
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_directory(data, ec));
    EXPECT_FALSE(std::filesystem::is_empty(data, ec));
    EXPECT_FALSE(std::filesystem::exists(home / "home" / ".local", ec));
    EXPECT_FALSE(std::filesystem::exists(home / "home" / ".cache", ec));
}

} // namespace
