// The server over real loopback sockets: what goes out on the wire, the time limit, the
// interim answer, parser refusals, the listener's restarts and shutting down.
#include <gmock/gmock.h>

#include <asio.hpp>

#include <atomic>

#include "server/server_fixture.hpp"
#include "support/process.hpp"

namespace scribbet {
namespace {

using namespace std::chrono_literals;
using test::Client;
using test::Response;
using ::testing::HasSubstr;

class ServerWire : public test::ServerTest {};

TEST_F(ServerWire, ServesAPageWithTheHeadInItsOrderAndCloses) {
    start();
    const auto got = exchange("GET /overlay.html HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    EXPECT_TRUE(got.closed);
    EXPECT_FALSE(got.reset);
    EXPECT_EQ(got.bytes, "HTTP/1.1 200 OK\r\n"
                         "Content-Type: text/html; charset=utf-8\r\n"
                         "Content-Length: " + std::to_string(test::page.size()) + "\r\n"
                         "Cache-Control: no-store\r\n"
                         "X-Content-Type-Options: nosniff\r\n"
                         "Connection: close\r\n"
                         "\r\n" + test::page);
}

TEST_F(ServerWire, RefusalsOfHostMethodAndHeaderReachTheClient) {
    start();
    const auto noPort = Response::from(exchange("GET /overlay.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").bytes);
    EXPECT_EQ(noPort.code, 403);
    EXPECT_TRUE(noPort.has("HTTP/1.1 403 Forbidden"));
    EXPECT_EQ(noPort.body, R"({"msg":"Forbidden (host).","ok":false})");

    const auto post = Response::from(
        exchange("POST /overlay.html HTTP/1.1\r\nHost: " + host() + "\r\nContent-Length: 2\r\n\r\nhi").bytes);
    EXPECT_TRUE(post.has("HTTP/1.1 405 Method Not Allowed"));
    EXPECT_EQ(post.body, R"({"msg":"Method not allowed.","ok":false})");

    const auto unknown = get("/api/ping", "x-scribbet: 1\r\n");
    EXPECT_EQ(unknown.code, 404);
    EXPECT_EQ(unknown.body, R"({"msg":"Unknown request: GET /api/ping","ok":false})");

    const auto missing = get("/nothing.html");
    EXPECT_TRUE(missing.has("HTTP/1.1 404 Not Found"));
    EXPECT_TRUE(missing.has("Content-Type: text/plain; charset=utf-8"));
    EXPECT_EQ(missing.body, "Not found");
}

TEST_F(ServerWire, ParserRefusalsGetTheirStatusAndLeaveTheIdleClockAlone) {
    start();
    const auto before = clock->now();
    idle.setLastRequest(before);
    loop->advance(10s);

    struct Case {
        std::string raw;
        std::string status;
    };
    const std::vector<Case> cases{
        {"NONSENSE\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"POST /a HTTP/1.1\r\nHost: " + host() + "\r\nTransfer-Encoding: chunked\r\n\r\n", "HTTP/1.1 411 Length Required"},
        {"POST /a HTTP/1.1\r\nHost: " + host() + "\r\nContent-Length: 67108865\r\n\r\n", "HTTP/1.1 413 Payload Too Large"},
        {"GET /a HTTP/1.1\r\nX: " + std::string(70000, 'a'), "HTTP/1.1 431 Request Header Fields Too Large"},
    };
    for (const auto& c : cases) {
        const auto reply = Response::from(exchange(c.raw).bytes);
        EXPECT_TRUE(reply.has(c.status)) << reply.head;
        EXPECT_TRUE(reply.has("Content-Type: application/json; charset=utf-8"));
        EXPECT_EQ(reply.body, R"({"msg":"Bad request.","ok":false})");
    }
    loop->runPending();
    EXPECT_EQ(idle.lastRequest(), before);

    // A request refused for its host was still a request.
    EXPECT_EQ(Response::from(exchange("GET /overlay.html HTTP/1.1\r\n\r\n").bytes).code, 403);
    EXPECT_TRUE(loop->runUntil([&] { return idle.lastRequest() == clock->now(); }, 2s));
}

TEST_F(ServerWire, AnAnswerThatFailsStillGetsTheFallbackReply) {
    start({.api = Server::sync([](Server&, const Request& r) -> Reply {
        if (r.path == "/api/throw") throw std::runtime_error("broken route");
        return Reply::json(500, {{"text", std::string("\xff")}});
    })});
    const std::string fallback = R"({"ok":false,"msg":"Internal error: the answer could not be written."})";
    for (const auto* path : {"/api/throw", "/api/unwritable"}) {
        const auto reply = Response::from(exchange("GET " + std::string(path) + " HTTP/1.1\r\nHost: " + host() +
                                                   "\r\nx-scribbet: 1\r\n\r\n").bytes);
        EXPECT_TRUE(reply.head.starts_with("HTTP/1.1 500 OK\r\n")) << reply.head;
        EXPECT_TRUE(reply.has("Content-Length: 69"));
        EXPECT_EQ(reply.body, fallback);
    }
}

TEST_F(ServerWire, AnsweringOneRequestPerConnectionIgnoresWhatFollows) {
    start();
    const auto one = "GET /overlay.html HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    const auto got = exchange(one + one + "garbage");
    EXPECT_TRUE(got.closed);
    const auto reply = Response::from(got.bytes);
    EXPECT_EQ(reply.code, 200);
    EXPECT_EQ(reply.body, test::page); // nothing of a second reply behind it
}

TEST_F(ServerWire, ALargeReplyArrivesWholeThoughBytesFollowedTheRequest) {
    std::string big(8 << 20, 'p');
    for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + i / 4096 % 26);
    test::writeFile(web / "big.png", big);
    start();
    Client client(port);
    client.send("GET /big.png HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    std::this_thread::sleep_for(50ms);
    client.send("bytes nobody reads");
    std::this_thread::sleep_for(100ms); // let the reply back up before reading it
    const auto got = client.readAll();
    EXPECT_FALSE(got.reset);
    const auto reply = Response::from(got.bytes);
    EXPECT_EQ(reply.code, 200);
    EXPECT_EQ(reply.body.size(), big.size());
    EXPECT_TRUE(reply.body == big);
}

TEST_F(ServerWire, ARequestArrivingInPiecesIsAnsweredOnceWhole) {
    start();
    Client client(port);
    const auto raw = "GET /overlay.html HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    for (char c : raw) {
        ASSERT_TRUE(client.send(std::string(1, c)));
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(Response::from(client.readAll().bytes).body, test::page);
}

TEST_F(ServerWire, SendsOneContinueThenTheReplyOnceTheBodyIsThere) {
    start();
    Client client(port);
    client.send("POST /overlay.html HTTP/1.1\r\nHost: " + host() + "\r\nContent-Length: 10\r\nExpect: 100-Continue\r\n\r\n");
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    EXPECT_EQ(client.read(interim.size()).bytes, interim);

    client.send("abc"); // still partial: no second interim answer
    EXPECT_EQ(client.read(1, 150ms).bytes, "");
    client.send("defghij");
    EXPECT_TRUE(client.readAll().bytes.starts_with("HTTP/1.1 405 Method Not Allowed\r\n"));

    // A body that came along with the head needs no interim answer.
    const auto whole = exchange("POST /overlay.html HTTP/1.1\r\nHost: " + host() +
                                "\r\nContent-Length: 4\r\nExpect: 100-continue\r\n\r\nbody");
    EXPECT_TRUE(whole.bytes.starts_with("HTTP/1.1 405 ")) << whole.bytes;
}

TEST_F(ServerWire, ASilentClientIsCutAfterTheLimitWithoutAnyBytes) {
    start({.requestLimit = 200ms});
    Client silent(port);
    Client halfway(port);
    halfway.send("GET /overlay.html HTTP/1.1\r\nHost: ");
    const auto begun = std::chrono::steady_clock::now();

    EXPECT_EQ(silent.read(1, 100ms).bytes, ""); // not before the limit
    const auto got = silent.readAll(2000ms);
    EXPECT_TRUE(got.closed);
    EXPECT_EQ(got.bytes, "");
    EXPECT_GE(std::chrono::steady_clock::now() - begun, 150ms);

    const auto partial = halfway.readAll(2000ms);
    EXPECT_TRUE(partial.closed);
    EXPECT_EQ(partial.bytes, "");
}

TEST_F(ServerWire, TheLimitIsOnReceivingNotOnAnswering) {
    start({.requestLimit = 100ms, .api = Server::sync([](Server&, const Request&) {
               std::this_thread::sleep_for(400ms);
               return Reply::ok({{"slow", true}});
           })});
    const auto reply = get("/api/slow", "X-Scribbet: 1\r\n");
    EXPECT_EQ(reply.code, 200);
    EXPECT_EQ(reply.body, R"({"ok":true,"slow":true})");
}

TEST_F(ServerWire, AClientThatLeavesMidRequestCostsTheOthersNothing) {
    start();
    for (int i = 0; i < 20; ++i) {
        Client gone(port);
        gone.send("GET /overlay.html HTTP/1.1\r\nHo");
    }
    EXPECT_EQ(get("/overlay.html").body, test::page);
}

TEST_F(ServerWire, AnswersRequestsInParallel) {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    start({.api = Server::sync([&](Server&, const Request&) {
        const int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {}
        std::this_thread::sleep_for(150ms);
        --inside;
        return Reply::ok();
    })});
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&] {
            if (get("/api/wait", "x-scribbet: 1\r\n").code == 200) ++answered;
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered, 4);
    EXPECT_GE(most, 2); // a slow answer does not hold up the next
}

TEST_F(ServerWire, ABusyPortIsRetriedAndThenGivenUpForGood) {
    asio::io_context io;
    asio::ip::tcp::acceptor holder(io, {asio::ip::address_v4::loopback(), port});
    server = std::make_unique<Server>(web, Server::Options{.port = port, .retryDelay = 5ms});

    const std::string giveUp = "Gave up starting the server: another program is using port " +
                               std::to_string(port) + ". Quit it (or restart the Mac) and open Scribbet again.";
    ASSERT_TRUE(waitLogged(giveUp));
    std::this_thread::sleep_for(100ms); // time for several more attempts, were there any
    EXPECT_EQ(countStarting("Server stopped: "), 16);
    EXPECT_EQ(count("Server stopped: Address already in use"), 16);
    EXPECT_EQ(count(giveUp), 1);
    EXPECT_EQ(count(ready()), 0);
    const auto lines = logged();
    EXPECT_EQ(lines.back(), giveUp);
}

TEST_F(ServerWire, APortFreedInTimeIsTakenOnTheNextAttempt) {
    auto io = std::make_unique<asio::io_context>();
    auto holder = std::make_unique<asio::ip::tcp::acceptor>(*io, asio::ip::tcp::endpoint{asio::ip::address_v4::loopback(), port});
    server = std::make_unique<Server>(web, Server::Options{.port = port, .retryDelay = 50ms, .maxRestarts = 3});
    ASSERT_TRUE(waitLogged("Server stopped: Address already in use"));
    holder.reset();
    ASSERT_TRUE(waitLogged(ready()));
    EXPECT_EQ(countStarting("Gave up"), 0);
    EXPECT_EQ(get("/overlay.html").code, 200);
}

TEST_F(ServerWire, TheConstructorReturnsAtOnceEvenOnABusyPort) {
    asio::io_context io;
    asio::ip::tcp::acceptor holder(io, {asio::ip::address_v4::loopback(), port});
    const auto begun = std::chrono::steady_clock::now();
    server = std::make_unique<Server>(web, Server::Options{.port = port});
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 100ms);
    server.reset(); // and stopping does not wait for the 2 s retry either
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 500ms);
}

TEST_F(ServerWire, StoppingCutsUnfinishedRequestsAndLetsAnswersUnderWayFinish) {
    std::atomic<bool> entered{false};
    start({.api = Server::sync([&](Server&, const Request&) {
        entered = true;
        std::this_thread::sleep_for(300ms);
        return Reply::ok({{"placed", true}});
    })});
    Client waiting(port);
    waiting.send("GET /overlay.html HTTP/1.1\r\n");
    Client answering(port);
    answering.send("POST /api/insert HTTP/1.1\r\nHost: " + host() + "\r\nx-scribbet: 1\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(test::eventually([&] { return entered.load(); }, 2000ms));

    std::thread stopping([&] { server->stop(); });
    const auto cut = waiting.readAll(1000ms);
    EXPECT_TRUE(cut.closed);
    EXPECT_EQ(cut.bytes, "");
    EXPECT_TRUE(test::eventually([&] { return !Client(port).connected(); }, 200ms)); // no newcomers meanwhile
    const auto late = Response::from(answering.readAll(2000ms).bytes);
    EXPECT_EQ(late.code, 200);
    EXPECT_EQ(late.body, R"({"ok":true,"placed":true})");
    stopping.join();
    EXPECT_FALSE(Client(port).connected());
}

TEST_F(ServerWire, StoppingWaitsForAnAnswerNoLongerThanItsLimitAndSaysSo) {
    start({.api = Server::sync([&](Server&, const Request&) {
               std::this_thread::sleep_for(1500ms);
               return Reply::ok();
           }),
           .stopLimit = 200ms});
    Client answering(port);
    answering.send("GET /api/x HTTP/1.1\r\nHost: " + host() + "\r\nx-scribbet: 1\r\n\r\n");
    std::this_thread::sleep_for(100ms);
    const auto begun = std::chrono::steady_clock::now();
    std::thread stopping([&] { server->stop(); });
    const auto got = answering.readAll(3000ms);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 1000ms);
    EXPECT_TRUE(got.closed);
    // At the limit, before the answer was made, the client hears why it gets none.
    EXPECT_EQ(Response::from(got.bytes).body, R"({"msg":"Scribbet is quitting.","ok":false})");
    stopping.join();
}

} // namespace
} // namespace scribbet
