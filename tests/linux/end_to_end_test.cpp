// The whole road of one drawing, as two real processes: the desktop stand-in playing the
// presentation program, and Scribbet in test mode without a display.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "adapters/linux/standin_link.hpp"
#include "server/http_client.hpp"
#include "support/process.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

struct Http {
    int status = 0;
    std::string body;
    json asJson() const { return json::parse(body, nullptr, false); }
};

class EndToEndTest : public ::testing::Test {
public:
    EndToEndTest() {
        std::filesystem::create_directories(home / "run");
        socket = (home / "run" / "standin.sock").string();
        standin = std::make_unique<test::Process>(
            std::vector<std::string>{SCRIBBET_STANDIN_PROGRAM, "serve", "--socket", socket}, environment());
        EXPECT_TRUE(test::eventually([&] { return ctl({{"op", "state"}}).is_object(); }));
    }
    ~EndToEndTest() override {
        if (scribbet) {
            scribbet->signal(SIGTERM);
            scribbet->wait();
        }
        ctl({{"op", "quit"}});
        standin->wait();
    }

    std::vector<std::string> environment() const {
        return {"HOME=" + home.path().string(), "XDG_RUNTIME_DIR=" + (home / "run").string(), "TZ=UTC",
                "PATH=/usr/bin:/bin", "SCRIBBET_STANDIN_SOCKET=" + socket, "SCRIBBET_TEST=1",
                "SCRIBBET_PORT=" + std::to_string(port)};
    }
    void startScribbet() {
        scribbet = std::make_unique<test::Process>(std::vector<std::string>{SCRIBBET_PROGRAM}, environment());
        ASSERT_TRUE(waitLogged("Web server ready on port " + std::to_string(port) + "."));
    }
    json ctl(const json& request) {
        const auto a = standin::call(request, 5s, socket);
        return a.ok() ? a.body : json();
    }
    json model() { return ctl({{"op", "state"}}); }
    void set(const json& values) { ASSERT_EQ(ctl({{"op", "set"}, {"values", values}}).value("ok", false), true); }

    Http http(const std::string& method, const std::string& path, const std::string& body = "",
              std::chrono::milliseconds wait = 10000ms) {
        test::Client client(port);
        std::string raw = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nx-scribbet: 1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        client.send(raw);
        const auto got = client.readAll(wait);
        Http out;
        std::sscanf(got.bytes.c_str(), "HTTP/1.1 %d", &out.status);
        const auto split = got.bytes.find("\r\n\r\n");
        if (split != std::string::npos) out.body = got.bytes.substr(split + 4);
        return out;
    }
    std::vector<std::string> log() {
        return test::messages(test::readFile(home / ".local/state/scribbet/Scribbet.log"));
    }
    bool waitLogged(const std::string& prefix, std::chrono::milliseconds limit = 8000ms) {
        return test::eventually([&] {
            const auto lines = log();
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
        }, limit);
    }
    // The stand-in's own geometry answer, as the add-in would put it in a link.
    std::string drawLink(const std::string& tool = "pen") {
        const json r = ctl({{"op", "macro"}, {"name", "SCBT_Pen.SCBT_Geom"}, {"args", json::array()}});
        std::string g = r.value("direct", "");
        g = g.substr(3);
        std::string encoded;
        for (char c : g) encoded += c == '|' ? std::string("%7C") : std::string(1, c);
        return "scribbet://draw?g=" + encoded + "&tool=" + tool;
    }
    bool layerOpen() { return http("GET", "/api/state").asJson().value("open", false); }
    friend std::string drawAndPlace(EndToEndTest& t);

    test::TempDir home;
    std::string socket;
    std::uint16_t port = test::freePort();
    std::unique_ptr<test::Process> standin, scribbet;
};

// Opens a layer from a draw link, reads the slide and theme, places a stroke with "close"
// and checks where it landed; returns the "Slide ... on screen" line.
std::string drawAndPlace(EndToEndTest& t);

TEST_F(EndToEndTest, WithoutAccessibilityTheProgramIsSetToFit) {
    set({{"zoom", 150}, {"fit", false}, {"ax.trusted", false}});
    startScribbet();
    const std::string line = drawAndPlace(*this);
    EXPECT_TRUE(line.ends_with("on screen (PowerPoint set to Fit).")) << line;
    EXPECT_EQ(model().value("fit", false), true);
}

TEST_F(EndToEndTest, WithAccessibilityThePaneLeadsAndTheZoomStays) {
    set({{"zoom", 150}, {"fit", false}, {"ax.trusted", true}});
    startScribbet();
    const std::string line = drawAndPlace(*this);
    EXPECT_TRUE(line.ends_with("on screen (Accessibility).")) << line;
    EXPECT_EQ(model().value("fit", true), false);
    EXPECT_EQ(model().value("zoom", 0.0), 150);
}

TEST_F(EndToEndTest, FailuresAreToldAndChangeNothing) {
    startScribbet();
    // An add-in that is too old, and stays so after the reload.
    set({{"addin.version", "0.0.1"}, {"addin.reloadVersion", "0.0.1"}});
    http("POST", "/api/test/open", json{{"url", "scribbet://draw"}}.dump());
    ASSERT_TRUE(waitLogged("Notice: PowerPoint is still using Scribbet 0.0.1, this is", 30000ms));
    EXPECT_FALSE(layerOpen());

    // An add-in that is not loaded is loaded by the check, which then passes for good.
    set({{"addin.loaded", false}, {"addin.reloadVersion", "dev"}});
    const json refused = http("POST", "/api/insert", R"({"path":"M 1 1 Q 2 2 3 3"})").asJson();
    EXPECT_TRUE(waitLogged("Add-in reloaded: OK|dev"));

    // A path the add-in refuses: nothing placed, its message back.
    EXPECT_EQ(refused["ok"], false);
    EXPECT_TRUE(waitLogged("Place FAILED: "));
    EXPECT_TRUE(model()["slides"][0]["shapes"].empty());

    // No slide picture asked for yet.
    EXPECT_EQ(http("GET", "/api/slide.png").asJson()["msg"], "No slide picture yet.");

    // The program gone: its own sentence.
    set({{"running", false}});
    const json gone = http("GET", "/api/theme").asJson();
    EXPECT_EQ(gone["msg"], "PowerPoint is not running. Open your presentation in PowerPoint, then try again.");
}

// Outside Normal view a drawing start tells the user the add-in's sentence and opens no
// layer; what the page asks of the add-in gets the same sentence, and nothing changes.
TEST_F(EndToEndTest, WithoutANormalViewTheAddinsSentenceIsToldAndNothingOpens) {
    const std::string sorter = "PowerPoint's window is not in Normal view: choose View > Normal to draw on a slide.";
    const std::string noWindow = "PowerPoint has no window showing a presentation.";
    set({{"view", "sorter"}, {"zoom", 150}});
    startScribbet();
    http("POST", "/api/test/open", json{{"url", "scribbet://draw?tool=pen"}}.dump());
    ASSERT_TRUE(waitLogged("Could not open the drawing layer: " + sorter, 30000ms));
    EXPECT_TRUE(waitLogged("Notice: " + sorter));
    EXPECT_FALSE(layerOpen());
    EXPECT_EQ(http("GET", "/api/theme").asJson()["msg"], sorter);
    EXPECT_EQ(http("POST", "/api/insert", R"({"path":"M 1 1 L 9 9"})").asJson(),
              (json{{"ok", false}, {"msg", sorter}}));
    // Into a slide named by its identifier the sorter takes the drawing.
    const json placed = http("POST", "/api/insert", R"({"path":"M 1 1 L 9 9","slide":"257"})").asJson();
    EXPECT_EQ(placed["ok"], true) << placed.dump();
    EXPECT_EQ(model()["slides"][1]["shapes"].size(), 1u);

    set({{"view", "none"}});
    http("POST", "/api/test/open", json{{"url", "scribbet://draw?tool=pen"}}.dump());
    ASSERT_TRUE(waitLogged("Could not open the drawing layer: " + noWindow, 30000ms));
    EXPECT_TRUE(waitLogged("Notice: " + noWindow));
    EXPECT_FALSE(layerOpen());
    EXPECT_EQ(http("POST", "/api/insert", R"({"path":"M 1 1 L 9 9","slide":"257"})").asJson(),
              (json{{"ok", false}, {"msg", noWindow}}));

    const json state = model();
    EXPECT_EQ(state["zoom"], 150) << "no Fit was set";
    EXPECT_EQ(state["fit"], false);
    EXPECT_TRUE(state["slides"][0]["shapes"].empty());
    EXPECT_EQ(state["slides"][1]["shapes"].size(), 1u);
}

TEST_F(EndToEndTest, AnInsertWithoutAPathRemovesTheShapesItReplaces) {
    startScribbet();
    const json placed = http("POST", "/api/insert", R"({"path":"M 10 10 L 20 20 M 30 30 L 40 40"})").asJson();
    ASSERT_EQ(placed["shapes"].size(), 2u) << placed.dump();
    const std::string gone = placed["shapes"][0]["id"].dump(), kept = placed["shapes"][1]["id"].dump();
    auto shapeIds = [&] {
        const json state = model();
        std::vector<std::string> ids;
        for (const auto& s : state["slides"][0]["shapes"]) ids.push_back(s["id"].dump());
        return ids;
    };
    ASSERT_EQ(shapeIds(), (std::vector<std::string>{gone, kept}));

    const json removed = http("POST", "/api/insert", json{{"path", ""}, {"replace", gone}}.dump()).asJson();
    EXPECT_EQ(removed, (json{{"ok", true}, {"msg", "Placed on the slide as a PowerPoint freeform."}, {"shapes", json::array()}}));
    EXPECT_EQ(shapeIds(), std::vector<std::string>{kept});
    EXPECT_TRUE(waitLogged("Placed 0 path(s) on the slide."));

    // The same shape again is no longer there: the program's sentence, and the slide as it was.
    const json again = http("POST", "/api/insert", json{{"path", ""}, {"replace", gone + "," + kept}}.dump()).asJson();
    EXPECT_EQ(again, (json{{"ok", false}, {"msg", "There is no shape with the identifier " + gone + " on that slide."}}));
    EXPECT_EQ(shapeIds(), std::vector<std::string>{kept});
}

TEST_F(EndToEndTest, SeveralStylesInOneRequestLandInOrderAndTellWhatWasPlaced) {
    set({{"ax.trusted", true}, {"zoom", 150}, {"fit", false}, {"scroll", "0.3,0.6"}});
    startScribbet();
    const json body = {{"slide", "256"},
                       {"parts",
                        {{{"path", "M 10 10 L 20 20 M 30 30 L 40 40"}, {"stroke", "theme:5"}, {"width", 2}},
                         {{"path", "M 50 50 L 90 50 L 90 90 Z"}, {"stroke", "#E0282E"}, {"fill", "#E0282E"}},
                         {{"path", "M 100 100 L 200 100"}, {"stroke", "#FFC00080"}, {"width", 14}}}}};
    const json placed = http("POST", "/api/insert", body.dump()).asJson();
    ASSERT_EQ(placed["ok"], true) << placed.dump();
    ASSERT_EQ(placed["parts"].size(), 3u);
    std::vector<std::string> told;
    for (const auto& part : placed["parts"]) {
        for (const auto& shape : part["shapes"]) told.push_back(shape["id"].dump());
    }
    std::vector<std::string> onSlide, strokes;
    const json state = model();
    for (const auto& s : state["slides"][0]["shapes"]) {
        onSlide.push_back(s["id"].dump());
        strokes.push_back(s["stroke"]);
    }
    EXPECT_EQ(told, onSlide) << "the parts' shapes, in the slide's order";
    ASSERT_EQ(strokes.size(), 4u);
    EXPECT_NE(strokes[2], strokes[1]);
    EXPECT_EQ(state["scroll"], json({0.3, 0.6})) << "the view is where it was";

    // A part the add-in refuses stops the rest; the parts before it stay placed.
    json bad = body;
    bad["parts"][1]["stroke"] = "not a colour";
    const json refused = http("POST", "/api/insert", bad.dump()).asJson();
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(refused["parts"].size(), 1u);
    EXPECT_EQ(model()["slides"][0]["shapes"].size(), 6u);
}

TEST_F(EndToEndTest, APlacingAskedForAgainLandsOnce) {
    startScribbet();
    const json body = {{"id", "e2e-1"}, {"path", "M 10 10 L 20 20"}};
    http("POST", "/api/insert", R"({"path":"M 0 0 L 1 1"})"); // the add-in check, once
    set({{"delay", 1.5}});
    // The page stops waiting long before the program answers, and the user places again.
    const Http gaveUp = http("POST", "/api/insert", body.dump(), 200ms);
    EXPECT_EQ(gaveUp.body, "");
    const json again = http("POST", "/api/insert", body.dump()).asJson();
    EXPECT_EQ(again["ok"], true) << again.dump();
    ASSERT_EQ(again["shapes"].size(), 1u);
    EXPECT_TRUE(waitLogged("Placing e2e-1 was asked for again while under way - waiting for it"));

    // Asked once more, the answer comes from memory at once, and the slide has the stroke once.
    set({{"delay", 0}});
    EXPECT_EQ(http("POST", "/api/insert", body.dump()).asJson(), again);
    EXPECT_EQ(model()["slides"][0]["shapes"].size(), 2u);
    const auto lines = log();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("Placed 1 path(s)"); }),
              2);
}

std::string drawAndPlace(EndToEndTest& t) {
    EXPECT_EQ(t.http("POST", "/api/test/open", json{{"url", t.drawLink()}}.dump()).asJson(), (json{{"ok", true}}));
    EXPECT_TRUE(t.waitLogged("Drawing layer open over the slide"));
    const auto lines = t.log();
    const auto slideLine = std::find_if(lines.begin(), lines.end(), [](auto& l) { return l.starts_with("Slide "); });
    EXPECT_TRUE(t.layerOpen());

    const json slide = t.http("GET", "/api/slide?px=800").asJson();
    EXPECT_EQ(slide["ok"], true);
    EXPECT_EQ(slide["w"], 960);
    const Http png = t.http("GET", "/api/slide.png");
    EXPECT_EQ(png.status, 200);
    if (png.body.size() > 24) {
        EXPECT_EQ(png.body.substr(1, 3), "PNG");
        const auto byte = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(png.body[at])); };
        EXPECT_EQ(byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19), 800u); // the IHDR width
    }
    EXPECT_EQ(t.http("GET", "/api/theme").asJson()["colors"].size(), 12u);

    const json placed =
        t.http("POST", "/api/insert", R"({"path":"M 100 50 L 300 250","stroke":"theme:5","width":3,"close":true})")
            .asJson();
    EXPECT_EQ(placed["ok"], true) << placed.dump();
    if (placed["shapes"].size() == 1) {
        EXPECT_NEAR(placed["shapes"][0]["l"].get<double>(), 100, 2);
        EXPECT_NEAR(placed["shapes"][0]["t"].get<double>(), 50, 2);
    }
    EXPECT_EQ(t.model()["slides"][0]["shapes"].size(), 1u);
    EXPECT_TRUE(test::eventually([&] { return !t.layerOpen(); }));
    EXPECT_TRUE(t.waitLogged("Placed 1 path(s) on the slide."));
    EXPECT_TRUE(t.waitLogged("Drawing layer closed."));
    return slideLine == lines.end() ? std::string() : *slideLine;
}

} // namespace
