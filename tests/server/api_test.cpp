#include <gtest/gtest.h>

#include <map>

#include "server_fixture.hpp"
#include "support/slide_editor.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// The API called the way the server calls it, on a background queue, with the program's
// add-in scripted by macro name.
class ApiTest : public test::ServerTest {
protected:
    ApiTest() {
        ax->isTrusted = false;
        reply("SCBT_Version", "OK|dev");
        answerFromReplies();
        start();
    }
    Reply call(const std::string& method, const std::string& path, std::map<std::string, std::string> query = {},
               std::string body = "") {
        return call(api, method, path, std::move(query), std::move(body));
    }
    Reply call(Api& through, const std::string& method, const std::string& path,
               std::map<std::string, std::string> query = {}, std::string body = "") {
        Request r;
        r.method = method;
        r.path = path;
        r.query = std::move(query);
        r.body = std::move(body);
        SerialQueue work("test.work");
        std::optional<Reply> out;
        std::atomic<bool> done = false;
        work.async([&] {
            through.route(*server, r, Answer::to([&](Reply reply) {
                out = std::move(reply);
                done = true;
            }));
        });
        loop->runUntil([&] { return done.load(); }, 5s);
        work.sync([] {});
        return *out;
    }
    json callJson(const std::string& method, const std::string& path, std::string body = "",
                  std::map<std::string, std::string> query = {}) {
        return json::parse(call(method, path, std::move(query), std::move(body)).body);
    }
    // An open layer on one screen, for the routes that hide or close it.
    std::shared_ptr<fake::FakeLayerFactory> openLayer() {
        screens->set({{0, 0, 1440, 900}});
        overlay->open(*Geom::from("960|540|0|0|960|540", {}, std::nullopt), std::nullopt, "");
        return factory;
    }
    std::vector<fake::FakeMacroTransport::Sent> sent(const std::string& name) {
        std::vector<fake::FakeMacroTransport::Sent> out;
        for (auto& s : transport->sentSoFar()) {
            if (s.name == "SCBT_Pen." + name) out.push_back(s);
        }
        return out;
    }
};

const std::string pngBase64 = "iVBORw0KGgo=";  // the PNG signature
const std::string pngBytes = "\x89PNG\r\n\x1a\n";

TEST_F(ApiTest, SlideSizeIsClampedAndDefaulted) {
    EXPECT_EQ(Api::pixels(std::nullopt), "1600");
    for (const char* bad : {"0", "-5", "abc", "", "12px"}) EXPECT_EQ(Api::pixels(std::string(bad)), "1600") << bad;
    EXPECT_EQ(Api::pixels(std::string("10")), "64");
    EXPECT_EQ(Api::pixels(std::string("100000")), "8192");
    EXPECT_EQ(Api::pixels(std::string("+800")), "800");
    reply("SCBT_Slide", "ERR|No slide.");
    call("GET", "/api/slide", {{"px", "10"}});
    call("GET", "/api/slide");
    const auto s = sent("SCBT_Slide");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].args, std::vector<std::string>{"64"});
    EXPECT_EQ(s[1].args, std::vector<std::string>{"1600"});
}

TEST_F(ApiTest, SlidePictureIsStoredAndServedUntilTheNextGoodOne) {
    auto r = call("GET", "/api/slide.png");
    EXPECT_EQ(r.code, 404);
    EXPECT_EQ(json::parse(r.body)["msg"], "No slide picture yet.");

    reply("SCBT_Slide", "OK|3|720,5|letters|" + pngBase64);
    EXPECT_EQ(callJson("GET", "/api/slide"), (json{{"ok", true}, {"index", 3}, {"w", 720.5}, {"h", 540}}));
    r = call("GET", "/api/slide.png");
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.type, "image/png");
    EXPECT_EQ(r.body, pngBytes);

    reply("SCBT_Slide", "OK|x|960|540|!!!");
    EXPECT_EQ(callJson("GET", "/api/slide")["msg"], "PowerPoint sent no slide picture.");
    reply("SCBT_Slide", "OK|3|960|540");
    EXPECT_EQ(callJson("GET", "/api/slide")["msg"], "PowerPoint sent no slide picture.");
    reply("SCBT_Slide", "ERR|The slide could not be exported.");
    EXPECT_EQ(callJson("GET", "/api/slide"), (json{{"ok", false}, {"msg", "The slide could not be exported."}}));
    EXPECT_EQ(call("GET", "/api/slide.png").body, pngBytes);

    reply("SCBT_Slide", "OK|bad|bad|bad|" + pngBase64);
    EXPECT_EQ(callJson("GET", "/api/slide"), (json{{"ok", true}, {"index", 0}, {"w", 960}, {"h", 540}}));
}

TEST_F(ApiTest, ThemeColoursKeepTheirOrderWithoutEmptyOnes) {
    reply("SCBT_Theme", "OK|#000000||#FFFFFF");
    EXPECT_EQ(callJson("GET", "/api/theme"), (json{{"ok", true}, {"colors", {"#000000", "#FFFFFF"}}}));
    reply("SCBT_Theme", "ERR|No theme | here");
    EXPECT_EQ(callJson("GET", "/api/theme"), (json{{"ok", false}, {"msg", "No theme "}}));
    reply("SCBT_Theme", "");
    EXPECT_EQ(callJson("GET", "/api/theme")["msg"], "PowerPoint did not answer.");
}

TEST_F(ApiTest, LinksAreAskedOnlyForKnownIdsAndTheirAnswersRead) {
    reply("SCBT_LinkQuery", "OK|soon|The update is on its way.");
    EXPECT_EQ(callJson("POST", "/api/link", R"({"id":"support"})"),
              (json{{"ok", true}, {"opened", false}, {"note", "The update is on its way."}}));
    const auto s = sent("SCBT_LinkQuery");
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].args, std::vector<std::string>{"support"});
    EXPECT_EQ(s[0].timeout, 30s);
    for (const char* body : {R"({"id":"other"})", R"({"id":7})", "{}", "not json"}) {
        EXPECT_EQ(callJson("POST", "/api/link", body)["msg"], "Unknown link.") << body;
    }
    EXPECT_EQ(sent("SCBT_LinkQuery").size(), 1u);

    EXPECT_EQ(Api::linkAnswer(fromMacro("OK|opened")), (json{{"ok", true}, {"opened", true}}));
    EXPECT_EQ(Api::linkAnswer(fromMacro("OK|soon"))["note"], "");
    EXPECT_EQ(Api::linkAnswer(fromMacro("OK|soonish"))["msg"], "Unexpected answer from the add-in: OK|soonish");
    EXPECT_EQ(Api::linkAnswer(fromMacro("OK"))["msg"], "Unexpected answer from the add-in: OK");
    EXPECT_EQ(Api::linkAnswer(fromMacro("ERR|Offline.")), (json{{"ok", false}, {"msg", "Offline."}}));
}

TEST_F(ApiTest, NudgeIsStoredAsTwoNumbers) {
    EXPECT_EQ(callJson("POST", "/api/overlay/nudge", R"({"x":"3,5"})"), (json{{"ok", true}}));
    EXPECT_EQ(prefs.get("nudge"), (json{{"x", 3.5}, {"y", 0}}));
    callJson("POST", "/api/overlay/nudge", "[1,2]");
    EXPECT_EQ(prefs.get("nudge"), (json{{"x", 0}, {"y", 0}}));
}

TEST_F(ApiTest, ValueReaders) {
    EXPECT_TRUE(Api::flag("  YES "));
    EXPECT_TRUE(Api::flag("2.5"));
    EXPECT_TRUE(Api::flag("-1"));
    for (const char* f : {"false", "no", "0", "0.0", "", "letters"}) EXPECT_FALSE(Api::flag(f)) << f;
    EXPECT_EQ(Api::string(json(nullptr), "dflt"), "dflt");
    EXPECT_EQ(Api::string(json::array(), "dflt"), "dflt");
    EXPECT_EQ(Api::string(json(2.0), ""), "2");
    EXPECT_EQ(Api::string(json(0.75), ""), "0.75");
    EXPECT_EQ(Api::string(json(1e20), ""), "1e+20");
    EXPECT_EQ(Api::string(json(true), ""), "1");
    EXPECT_EQ(Api::number(json(" 2,5 ")), 2.5);
    EXPECT_EQ(Api::number(json(false)), 0);
    EXPECT_EQ(Api::number(json("inf")), std::nullopt);
    EXPECT_EQ(Api::number(json("1 2")), std::nullopt);
    EXPECT_EQ(Api::number(json::object()), std::nullopt);
}

TEST_F(ApiTest, UnknownRequestsAndTheTestRoute) {
    auto r = call("GET", "/api/insert");
    EXPECT_EQ(r.code, 404);
    EXPECT_EQ(json::parse(r.body)["msg"], "Unknown request: GET /api/insert");
    EXPECT_EQ(call("POST", "/api/test/open", {}, R"({"url":"scribbet://open"})").code, 404); // not in test mode

    std::vector<std::string> fed;
    Api testing({main, ppt, addin, access, *overlay, reader, prefs, true,
                 [&](const std::string& url) { fed.push_back(url); }});
    EXPECT_EQ(json::parse(call(testing, "POST", "/api/test/open", {}, R"({"url":"scribbet://open"})").body),
              (json{{"ok", true}}));
    loop->runPending();
    EXPECT_EQ(fed, std::vector<std::string>{"scribbet://open"});
    EXPECT_EQ(callJson("GET", "/api/ping"), (json{{"ok", true}, {"app", addin.mine()}}));
    EXPECT_EQ(addin.mine(), "1.2.3");
    EXPECT_EQ(callJson("GET", "/api/state"), (json{{"ok", true}, {"open", false}}));
}

TEST_F(ApiTest, PlacedShapesAreReadFromTheAnswer) {
    auto [count, shapes] = Api::placed(fromMacro("OK|2\n0\tFreeform 1\t257\t10,5\t20\t30\t40\t0\tyes\t0\r\n"
                                                 "1\tFreeform 2\tabc\t1\t2\t3\t4\t90\t1\tno\textra\n\n"));
    EXPECT_EQ(count, 2);
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[0].json(), (json{{"k", 0}, {"name", "Freeform 1"}, {"id", 257}, {"l", 10.5}, {"t", 20},
                                      {"w", 30}, {"h", 40}, {"rot", 0}, {"fh", true}, {"fv", false}}));
    EXPECT_EQ(shapes[1].json()["id"], "abc");
    EXPECT_EQ(shapes[1].json()["rot"], 90);
    EXPECT_TRUE(shapes[1].fh);

    std::tie(count, shapes) = Api::placed(fromMacro("OK|two\u2028x\ttoo few\u2029" "5\ta\t1\t0\t0\t0\t0\t0\t0\t0"));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(shapes.size(), 1u);
    std::tie(count, shapes) = Api::placed(fromMacro("OK"));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(shapes.empty());
}

TEST_F(ApiTest, InsertSendsTheSevenArgumentsWithTheirDefaults) {
    reply("SCBT_Insert", "OK|1\n0\tFreeform 3\t300\t1\t2\t3\t4\t0\t0\t0");
    const json answer = callJson("POST", "/api/insert", R"({"path":"M 0 0 L 10 10"})");
    EXPECT_EQ(answer["ok"], true);
    EXPECT_EQ(answer["msg"], "Placed on the slide as a PowerPoint freeform.");
    EXPECT_EQ(answer["shapes"][0]["id"], 300);
    ASSERT_EQ(sent("SCBT_Insert").size(), 1u);
    EXPECT_EQ(sent("SCBT_Insert")[0].args,
              (std::vector<std::string>{"M 0 0 L 10 10", "#1F1F1F", "1", "none", "", "", ""}));
    EXPECT_EQ(logged().back(), "Placed 1 path(s) on the slide.");

    callJson("POST", "/api/insert",
             R"({"path":"M 1 1 L 2 2","stroke":"theme:5","width":0.75,"fill":"#FF000080","replace":"12,13","slide":"Slide ١٢"})");
    EXPECT_EQ(sent("SCBT_Insert")[1].args,
              (std::vector<std::string>{"M 1 1 L 2 2", "theme:5", "0.75", "#FF000080", "12,13", "١٢", ""}));
    callJson("POST", "/api/insert", R"({"path":"M 1 1 L 2 2","slide":7,"width":2})");
    EXPECT_EQ(sent("SCBT_Insert")[2].args[5], "7");
    EXPECT_EQ(sent("SCBT_Insert")[2].args[2], "2");
}

TEST_F(ApiTest, NothingToPlaceTouchesNothing) {
    auto factory = openLayer();
    // A replace list of blanks and commas names no shape, so an empty path removes nothing either.
    for (const char* body : {R"({"close":true})", R"({"path":"","close":true})", "junk",
                             R"({"path":"","replace":"","close":true})", R"({"path":"","replace":" , ,","close":true})",
                             R"({"path":" \n\t","replace":",","close":true})", R"({"replace":null,"close":true})"}) {
        EXPECT_EQ(callJson("POST", "/api/insert", body), (json{{"ok", false}, {"msg", "Nothing to place."}})) << body;
    }
    EXPECT_TRUE(sent("SCBT_Insert").empty());
    EXPECT_FALSE(overlay->suspended());
}

TEST_F(ApiTest, ARemovalOnlyInsertGoesToTheAddinLikeAnyOther) {
    auto factory = openLayer();
    std::vector<bool> visibleDuringInsert;
    transport->respond = [&](const fake::FakeMacroTransport::Sent& s) {
        if (s.name.ends_with("SCBT_Insert")) {
            visibleDuringInsert.push_back(factory->panel->visible);
            return fake::FakeMacroTransport::direct("OK|0");
        }
        return fake::FakeMacroTransport::direct("OK|dev");
    };
    EXPECT_EQ(callJson("POST", "/api/insert", R"({"path":"","replace":"12, 13","slide":"257","stroke":"theme:2"})"),
              (json{{"ok", true}, {"msg", "Placed on the slide as a PowerPoint freeform."}, {"shapes", json::array()}}));
    ASSERT_EQ(sent("SCBT_Insert").size(), 1u);
    EXPECT_EQ(sent("SCBT_Insert")[0].args,
              (std::vector<std::string>{"", "theme:2", "1", "none", "12, 13", "257", ""}));
    EXPECT_EQ(logged().back(), "Placed 0 path(s) on the slide.");
    EXPECT_EQ(visibleDuringInsert, std::vector<bool>{true}); // no "close": the layer stays up

    // With "close" the layer is hidden while the program removes the shapes, then closed.
    EXPECT_EQ(callJson("POST", "/api/insert", R"({"path":" ","replace":"300","close":true})")["ok"], true);
    EXPECT_EQ(sent("SCBT_Insert").back().args[0], " ");
    EXPECT_EQ(sent("SCBT_Insert").back().args[4], "300");
    EXPECT_EQ(visibleDuringInsert, (std::vector<bool>{true, false}));
    loop->runPending();
    EXPECT_FALSE(overlay->isOpen());
}

TEST_F(ApiTest, AFailedRemovalIsToldAndReleasesTheLayer) {
    auto factory = openLayer();
    reply("SCBT_Insert", "ERR|There is no shape with the identifier 99 on that slide.");
    EXPECT_EQ(callJson("POST", "/api/insert", R"({"path":"","replace":"99","close":true})"),
              (json{{"ok", false}, {"msg", "There is no shape with the identifier 99 on that slide."}}));
    ASSERT_EQ(sent("SCBT_Insert").size(), 1u);
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_FALSE(overlay->suspended());
    EXPECT_TRUE(factory->panel->visible);
    EXPECT_EQ(logged().back(), "Place FAILED: There is no shape with the identifier 99 on that slide.");
}

TEST_F(ApiTest, AFailedPlaceWithCloseSuspendsThenReleasesTheLayer) {
    auto factory = openLayer();
    std::vector<bool> visibleDuringInsert;
    transport->respond = [&](const fake::FakeMacroTransport::Sent& s) {
        if (s.name.ends_with("SCBT_Insert")) {
            visibleDuringInsert.push_back(factory->panel->visible);
            return fake::FakeMacroTransport::direct("ERR|The slide is locked.");
        }
        return fake::FakeMacroTransport::direct("OK|dev");
    };
    EXPECT_EQ(callJson("POST", "/api/insert", R"({"path":"M 0 0 L 1 1","close":true})"),
              (json{{"ok", false}, {"msg", "The slide is locked."}}));
    EXPECT_EQ(visibleDuringInsert, std::vector<bool>{false});
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_FALSE(overlay->suspended());
    EXPECT_EQ(logged().back(), "Place FAILED: The slide is locked.");

    // "close" as text is not true: the layer is neither hidden nor closed.
    transport->respond = [](const auto& s) {
        return fake::FakeMacroTransport::direct(s.name.ends_with("Version") ? "OK|dev" : "OK|0");
    };
    callJson("POST", "/api/insert", R"({"path":"M 0 0 L 1 1","close":"true"})");
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
    callJson("POST", "/api/insert", R"({"path":"M 0 0 L 1 1","close":true})");
    loop->runPending();
    EXPECT_FALSE(overlay->isOpen());
}

TEST_F(ApiTest, WithAccessibilityThePaneIsPutBackTwiceAfterPlacing) {
    ax->isTrusted = true;
    test::SlideEditor editor({100, 150, 1200, 700}, 2400, 1400);
    test::programWithEditor(*ax, 4242, {0, 0, 1400, 880}, editor);
    editor.move(0.25, 0.25);
    transport->respond = [&](const fake::FakeMacroTransport::Sent& s) {
        if (s.name.ends_with("SCBT_Insert")) editor.move(0.9, 0.9); // the program scrolled while adding
        return fake::FakeMacroTransport::direct(s.name.ends_with("Version") ? "OK|dev" : "OK|1");
    };
    const Rect before = editor.layout->frame();
    const Instant start = clock->now();
    EXPECT_EQ(callJson("POST", "/api/insert", R"({"path":"M 0 0 L 1 1"})")["ok"], true);
    EXPECT_NEAR(editor.layout->frame().x, before.x, 0.75);
    EXPECT_NEAR(editor.layout->frame().y, before.y, 0.75);
    EXPECT_GE(clock->now() - start, 450ms);

    ax->isTrusted = false;
    const Instant again = clock->now();
    callJson("POST", "/api/insert", R"({"path":"M 0 0 L 1 1"})");
    EXPECT_EQ(clock->now(), again); // no pane, no waiting
}

} // namespace
