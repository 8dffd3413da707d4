// The host and origin checks and routing, asked of the server directly.
#include <gmock/gmock.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "server/server_fixture.hpp"

namespace scribbet {
namespace {

using namespace std::chrono_literals;

Request withHeaders(std::map<std::string, std::string> headers, std::string path = "/api/ping",
                    std::string method = "GET") {
    Request r;
    r.method = std::move(method);
    r.path = std::move(path);
    r.headers = std::move(headers);
    return r;
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
            .api = Server::sync([this](Server&, const Request& r) {
                apiCalls.push_back(r.method + " " + r.path);
                return Reply::ok({{"api", true}});
            })});
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

} // namespace
} // namespace scribbet
