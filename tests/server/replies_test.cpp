// Replies, the host and origin checks, routing and the static files, asked of the server
// directly.
#include <gmock/gmock.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "server/server_fixture.hpp"

namespace scribbet {
namespace {

using namespace std::chrono_literals;

const std::string fallback = R"({"ok":false,"msg":"Internal error: the answer could not be written."})";

Request withHeaders(std::map<std::string, std::string> headers, std::string path = "/api/ping",
                    std::string method = "GET") {
    Request r;
    r.method = std::move(method);
    r.path = std::move(path);
    r.headers = std::move(headers);
    return r;
}

TEST(ServerJson, WritesSortedKeysAtEveryDepth) {
    const auto reply = Server::json(201, {{"zeta", 1}, {"alpha", {{"d", 2}, {"c", "é"}}}, {"mid", {3, 1}}});
    EXPECT_EQ(reply.code, 201);
    EXPECT_EQ(reply.type, "application/json; charset=utf-8");
    EXPECT_EQ(reply.body, R"({"alpha":{"c":"é","d":2},"mid":[3,1],"zeta":1})");
}

TEST(ServerJson, FallsBackToTheFixedBodyWhenTheAnswerCannotBeWritten) {
    ASSERT_EQ(fallback.size(), 69u);
    const std::vector<nlohmann::json> unwritable{
        {{"msg", std::string("bad \xff byte")}},                      // not UTF-8
        {{"nested", {{"deeper", std::string("\xc3")}}}},              // cut-off sequence, deeper down
        {{"n", std::numeric_limits<double>::quiet_NaN()}},           // no JSON text for it
        {{"list", {1.0, std::numeric_limits<double>::infinity()}}},
        nlohmann::json::array({1, 2}),                                // not an object
        nullptr,
        "text",
    };
    for (const auto& value : unwritable) {
        const auto reply = Server::json(418, value);
        EXPECT_EQ(reply.body, fallback) << value.type_name();
        EXPECT_EQ(reply.code, 418);
        EXPECT_EQ(reply.type, "application/json; charset=utf-8");
    }
    EXPECT_EQ(Server::json(200, nlohmann::json::object()).body, "{}");
}

TEST(ServerJson, OkSetsOkTrueOnACopy) {
    EXPECT_EQ(Server::ok().body, R"({"ok":true})");
    const nlohmann::json map{{"ok", false}, {"app", "1.0"}};
    const auto reply = Server::ok(map);
    EXPECT_EQ(reply.code, 200);
    EXPECT_EQ(reply.body, R"({"app":"1.0","ok":true})");
    EXPECT_EQ(map["ok"], false);
    EXPECT_EQ(Server::ok(nlohmann::json::array()).body, fallback);
}

TEST(ServerReplyHead, ReasonPhrasesAndTheHeadLinesInOrder) {
    EXPECT_EQ(Server::reason(200), "OK");
    EXPECT_EQ(Server::reason(500), "OK"); // only the refusals have their own phrase
    EXPECT_EQ(Server::reason(431), "Request Header Fields Too Large");
    EXPECT_EQ(Server::reason(413), "Payload Too Large");
    EXPECT_EQ(Server::head(Reply{500, "image/png", std::string(3, '\0')}),
              "HTTP/1.1 500 OK\r\nContent-Type: image/png\r\nContent-Length: 3\r\n"
              "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n");
}

TEST(ServerChecks, HostMustNameALoopbackHostWithThePort) {
    auto host = [](std::string value) { return Server::hostOK(withHeaders({{"host", value}}), 3921); };
    EXPECT_TRUE(host("127.0.0.1:3921"));
    EXPECT_TRUE(host("localhost:3921"));
    EXPECT_TRUE(host("LocalHost:3921"));
    EXPECT_FALSE(host("127.0.0.1"));
    EXPECT_FALSE(host("localhost:3922"));
    EXPECT_FALSE(host("evil.example:3921"));
    EXPECT_FALSE(host("127.0.0.1:3921 "));
    EXPECT_FALSE(Server::hostOK(withHeaders({}), 3921));
    EXPECT_TRUE(Server::hostOK(withHeaders({{"host", "localhost:8080"}}), 8080));
}

TEST(ServerChecks, OriginIsEitherMissingOrLoopbackWithThePort) {
    auto origin = [](std::string value) { return Server::originOK(withHeaders({{"origin", value}}), 3921); };
    EXPECT_TRUE(Server::originOK(withHeaders({}), 3921));
    EXPECT_TRUE(origin("http://127.0.0.1:3921"));
    EXPECT_TRUE(origin("HTTP://LOCALHOST:3921"));
    EXPECT_FALSE(origin("https://127.0.0.1:3921"));
    EXPECT_FALSE(origin("http://127.0.0.1:3922"));
    EXPECT_FALSE(origin("http://evil.example:3921"));
    EXPECT_FALSE(origin("null"));
}

TEST(ServerChecks, SameOriginTrustsFetchSiteBeforeTheReferer) {
    auto same = [](std::map<std::string, std::string> h) { return Server::sameOrigin(withHeaders(std::move(h)), 3921); };
    EXPECT_FALSE(same({}));
    EXPECT_TRUE(same({{"sec-fetch-site", "same-origin"}}));
    EXPECT_FALSE(same({{"sec-fetch-site", "cross-site"}, {"referer", "http://localhost:3921/overlay.html"}}));
    EXPECT_FALSE(same({{"sec-fetch-site", "same-site"}}));
    EXPECT_TRUE(same({{"referer", "http://localhost:3921/overlay.html?x=1"}}));
    EXPECT_TRUE(same({{"referer", "HTTP://127.0.0.1:3921/"}}));
    EXPECT_FALSE(same({{"referer", "http://localhost:3921"}}));       // no slash after the port
    EXPECT_FALSE(same({{"referer", "http://localhost:39211/"}}));
    EXPECT_FALSE(same({{"referer", "http://evil.example/http://localhost:3921/"}}));
    EXPECT_FALSE(same({{"host", "localhost:3921"}}));
}

class ServerAnswer : public test::ServerTest {
protected:
    ServerAnswer() {
        server = std::make_unique<Server>(web, Server::Options{
            .port = port,
            .api = [this](Server&, const Request& r) {
                apiCalls.push_back(r.method + " " + r.path);
                return Server::ok({{"api", true}});
            }});
    }
    Request request(std::string method, std::string path, std::map<std::string, std::string> headers = {}) {
        headers.emplace("host", "localhost:" + std::to_string(port));
        return withHeaders(std::move(headers), std::move(path), std::move(method));
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port); }
    std::vector<std::string> apiCalls;
};

TEST_F(ServerAnswer, TheApiNeedsTheHeaderAndALoopbackOrigin) {
    EXPECT_EQ(server->answer(request("GET", "/api/ping")).body, R"({"msg":"Forbidden.","ok":false})");
    EXPECT_EQ(server->answer(request("GET", "/api/ping", {{"x-scribbet", "true"}})).code, 403);
    EXPECT_EQ(server->answer(request("GET", "/api/ping", {{"x-scribbet", " 1"}})).code, 403);
    EXPECT_TRUE(apiCalls.empty());

    EXPECT_EQ(server->answer(request("POST", "/api/insert", {{"x-scribbet", "1"}, {"origin", origin()}})).body,
              R"({"api":true,"ok":true})");
    const auto foreign = server->answer(request("GET", "/api/ping", {{"x-scribbet", "1"}, {"origin", "http://evil.example"}}));
    EXPECT_EQ(foreign.code, 403);
    EXPECT_EQ(foreign.body, R"({"msg":"Forbidden (origin).","ok":false})");
    EXPECT_EQ(server->answer(request("GET", "/api/ping", {{"x-scribbet", "1"}, {"origin", "https://localhost:" + std::to_string(port)}})).code, 403);
    EXPECT_EQ(apiCalls, std::vector<std::string>{"POST /api/insert"});
}

TEST_F(ServerAnswer, TheSlidePictureMayBeFetchedByTheSamePageWithoutTheHeader) {
    const auto referer = "http://localhost:" + std::to_string(port) + "/overlay.html";
    EXPECT_EQ(server->answer(request("GET", "/api/slide.png", {{"sec-fetch-site", "same-origin"}})).code, 200);
    EXPECT_EQ(server->answer(request("GET", "/api/slide.png", {{"referer", referer}})).code, 200);
    EXPECT_EQ(server->answer(request("GET", "/api/slide.png", {{"sec-fetch-site", "cross-site"}, {"referer", referer}})).code, 403);
    EXPECT_EQ(server->answer(request("POST", "/api/slide.png", {{"sec-fetch-site", "same-origin"}})).code, 403);
    EXPECT_EQ(server->answer(request("GET", "/api/slide", {{"sec-fetch-site", "same-origin"}})).code, 403);
    EXPECT_EQ(server->answer(request("GET", "/api/slide.png")).code, 403);
    EXPECT_EQ(apiCalls.size(), 2u);
}

TEST_F(ServerAnswer, TheHostIsCheckedBeforeAnythingElse) {
    auto wrongHost = withHeaders({{"host", "127.0.0.1:1"}, {"x-scribbet", "1"}}, "/api/ping");
    EXPECT_EQ(server->answer(wrongHost).body, R"({"msg":"Forbidden (host).","ok":false})");
    EXPECT_EQ(server->answer(withHeaders({}, "/overlay.html")).code, 403);
    EXPECT_TRUE(apiCalls.empty());
    // The port the checks use is the configured one, whatever the caller's default.
    EXPECT_EQ(server->answer(request("GET", "/overlay.html")).code, 200);
}

TEST_F(ServerAnswer, OnlyGetReachesTheFilesAndAnApiWithoutRoutesKnowsNothing) {
    const auto post = server->answer(request("POST", "/overlay.html"));
    EXPECT_EQ(post.code, 405);
    EXPECT_EQ(post.body, R"({"msg":"Method not allowed.","ok":false})");
    EXPECT_EQ(server->answer(request("HEAD", "/overlay.html")).code, 405);

    const auto unknown = Server::unknown(withHeaders({}, "/api/nothing here", "PUT"));
    EXPECT_EQ(unknown.code, 404);
    EXPECT_EQ(unknown.body, R"({"msg":"Unknown request: PUT /api/nothing here","ok":false})");
}

class ServerFiles : public test::ServerTest {
protected:
    ServerFiles() {
        test::writeFile(web / "Overlay.HTML", "upper");
        test::writeFile(web / ".hidden.js", "hidden");
        test::writeFile(web / "x.txt", "text");
        test::writeFile(web / "js" / "app.js", "app();");
        test::writeFile(web / "img" / "dot.PNG", "png");
        test::writeFile(web / "style.css", "css");
        test::writeFile(web / "data.json", "{}");
        test::writeFile(web / "pic.svg", "<svg/>");
        test::writeFile(web / "noext", "x");
        test::writeFile(web / "dot.", "x");
        std::filesystem::create_directories(web / "folder.html");
        test::writeFile(dir / "secret.html", "outside");
        std::filesystem::create_symlink(dir / "secret.html", web / "out.html");
        std::filesystem::create_symlink(web / "js" / "app.js", web / "alias.js");
        std::filesystem::create_symlink(dir.path(), web / "up");
        server = std::make_unique<Server>(web, Server::Options{.port = port});
    }
    void served(const std::string& path, const std::string& type, const std::string& body) {
        const auto reply = server->file(path);
        EXPECT_EQ(reply.code, 200) << path;
        EXPECT_EQ(reply.type, type) << path;
        EXPECT_EQ(reply.body, body) << path;
    }
    void refused(const std::string& path) { EXPECT_EQ(server->file(path), Server::notFound()) << path; }
};

TEST_F(ServerFiles, ServesKnownTypesBelowTheWebDirectory) {
    served("/overlay.html", "text/html; charset=utf-8", test::page);
    served("/Overlay.HTML", "text/html; charset=utf-8", "upper");
    served("/js/app.js", "text/javascript; charset=utf-8", "app();");
    served("//js///app.js", "text/javascript; charset=utf-8", "app();");
    served("/img/dot.PNG", "image/png", "png");
    served("/style.css", "text/css; charset=utf-8", "css");
    served("/data.json", "application/json; charset=utf-8", "{}");
    served("/pic.svg", "image/svg+xml", "<svg/>");
    served("/alias.js", "text/javascript; charset=utf-8", "app();"); // a link that stays inside
}

TEST_F(ServerFiles, RefusesEverythingElseWithTheSameNotFound) {
    EXPECT_EQ(Server::notFound(), (Reply{404, "text/plain; charset=utf-8", "Not found"}));
    for (const auto* path : {"/", "", "///", "/.hidden.js", "/a/../overlay.html", "/./overlay.html", "/js/../overlay.html",
                             "/x.txt", "/OVERLAY.HTM", "/noext", "/dot.", "/folder.html", "/missing.html",
                             "/js\\app.js", "/out.html", "/up/secret.html"}) {
        refused(path);
    }
    refused(std::string("/overlay.html\0.js", 17));
}

TEST_F(ServerFiles, AWebDirectoryGivenThroughALinkOrWithDotsStillServes) {
    std::filesystem::create_symlink(web, dir / "web-link");
    Server linked(dir / "web-link", Server::Options{.port = test::freePort()});
    EXPECT_EQ(linked.web(), std::filesystem::canonical(web));
    EXPECT_EQ(linked.file("/overlay.html").code, 200);
    EXPECT_EQ(linked.file("/out.html").code, 404);

    Server dotted(dir / "web" / ".." / "web" / ".", Server::Options{.port = test::freePort()});
    EXPECT_EQ(dotted.file("/js/app.js").code, 200);
}

TEST_F(ServerFiles, ASiblingDirectorySharingThePrefixIsOutside) {
    test::writeFile(dir / "web2" / "page.html", "sibling");
    std::filesystem::create_symlink(dir / "web2" / "page.html", web / "sib.html");
    refused("/sib.html");
}

} // namespace
} // namespace scribbet
