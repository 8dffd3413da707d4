// The server under load from outside: answers that wait on a slow presentation program,
// clients that hold connections open under a low open-file limit (the server then runs in
// a child process of this test program), and files that are not files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <latch>
#include <sstream>

#include "adapters/fake/fake_powerpoint.hpp"
#include "powerpoint/ppt.hpp"
#include "server/descriptors.hpp"
#include "server/server_fixture.hpp"
#include "support/process.hpp"

namespace scribbet {
namespace {

using namespace std::chrono_literals;
using test::Client;
using test::Response;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// ---- Answers that wait on the program ----

class ServerLoad : public test::ServerTest {
protected:
    ~ServerLoad() override {
        release.count_down(); // whatever happened, nobody stays stuck in the program
        server.reset();
    }

    std::latch release{1};
};

TEST_F(ServerLoad, FilesAndQuickCallsAnswerWhileCallsToASlowProgramWait) {
    // The program answers no macro until released, and macro calls are made one at a time,
    // so every slow request but one waits for the program's queue.
    transport->respond = [this](const fake::FakeMacroTransport::Sent&) {
        release.wait();
        return fake::FakeMacroTransport::direct("OK|#000000");
    };
    std::atomic<int> entered = 0;
    start({.api = [&](Server&, const Request& r) {
        if (r.path != "/api/theme") return Reply::ok();
        ++entered;
        return Reply::ok({{"answer", ppt.run("SCBT_Theme").text()}});
    }});

    // More of them than the workers a fixed pool had on this machine.
    const int fixedPool = static_cast<int>(std::max(4u, 2 * std::thread::hardware_concurrency()));
    const int slow = std::max(8, fixedPool + 2);
    std::atomic<int> answered = 0;
    std::vector<std::thread> waiting;
    for (int i = 0; i < slow; ++i) {
        waiting.emplace_back([&] {
            Client c(port);
            c.send("GET /api/theme HTTP/1.1\r\nHost: " + host() + "\r\nx-scribbet: 1\r\n\r\n");
            if (Response::from(c.readAll(10000ms).bytes).code == 200) ++answered;
        });
    }
    EXPECT_TRUE(test::eventually([&] { return entered == slow; }, 3000ms))
        << entered << " of " << slow << " slow requests are being answered";

    std::chrono::milliseconds slowest{0};
    for (int i = 0; i < 10; ++i) {
        auto begun = Clock::now();
        const auto page = get("/overlay.html");
        slowest = std::max(slowest, since(begun));
        EXPECT_EQ(page.body, test::page);

        begun = Clock::now();
        const auto close = Response::from(
            exchange("POST /api/overlay/close HTTP/1.1\r\nHost: " + host() + "\r\nx-scribbet: 1\r\nContent-Length: 0\r\n\r\n")
                .bytes);
        slowest = std::max(slowest, since(begun));
        EXPECT_EQ(close.body, R"({"ok":true})");
    }
    EXPECT_LT(slowest, 500ms); // held up, they would wait for the program

    EXPECT_EQ(answered, 0);
    release.count_down();
    for (auto& t : waiting) t.join();
    EXPECT_EQ(answered, slow);
}

TEST_F(ServerLoad, APipeNamedLikeAPageIsRefusedWithoutHoldingUpTheServer) {
    ASSERT_EQ(::mkfifo((web / "pipe.html").c_str(), 0600), 0);
    start();
    const auto begun = Clock::now();
    const auto reply = get("/pipe.html");
    EXPECT_EQ(reply.code, 404);
    EXPECT_EQ(reply.body, "Not found");
    EXPECT_LT(since(begun), 1000ms);
    EXPECT_EQ(get("/overlay.html").body, test::page);
}

// Requests in quick succession tell the main thread once in a while, and the last of them
// is always told: the idle rule must never see a request as older than it is.
TEST_F(ServerLoad, TheLastOfABurstOfRequestsStillReachesTheIdleClock) {
    start();
    EXPECT_EQ(get("/overlay.html").code, 200);
    ASSERT_TRUE(loop->runUntil([&] { return idle.lastRequest() == clock->now(); }, 2s));
    loop->advance(10s);
    const auto later = clock->now();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(get("/nothing.html").code, 404);
    EXPECT_TRUE(loop->runUntil([&] { return idle.lastRequest() == later; }, 2s));
}

// ---- Idle connections under a low open-file limit ----

// The server as a child process sees it: SCRIBBET_SERVER_CHILD is "PORT SOFT HARD HOG". It
// sets its open-file limit to SOFT:HARD, starts the server (which raises the soft limit as
// far as it may), then keeps HOG more descriptors open, as other parts of the program would,
// and prints the soft limit in force. The parent kills it.
class ServerChild : public test::ServerTest {};

TEST_F(ServerChild, DISABLED_ServesUnderTheLimitItWasGiven) {
    const char* given = std::getenv("SCRIBBET_SERVER_CHILD");
    if (!given) GTEST_SKIP() << "run by the descriptor tests only";
    std::istringstream in(given);
    unsigned long long soft = 0, hard = 0;
    int hog = 0;
    in >> port >> soft >> hard >> hog;
    rlimit limit{static_cast<rlim_t>(soft), static_cast<rlim_t>(hard)};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    start({.api = [](Server&, const Request&) {
        std::this_thread::sleep_for(1500ms);
        return Reply::ok({{"slow", true}});
    }});
    for (int i = 0; i < hog; ++i) ::open("/dev/null", O_RDONLY);
    std::printf("limit %llu\n", static_cast<unsigned long long>(Descriptors::current()->soft));
    std::fflush(stdout);
    for (int i = 0; i < 600; ++i) std::this_thread::sleep_for(100ms);
}

class ServerDescriptors : public ::testing::Test {
protected:
    ServerDescriptors() {
        // This side holds every client connection.
        Descriptors::raise();
    }

    void startChild(int soft, int hard, int hog) {
        if (Descriptors::current()->soft < 2000) GTEST_SKIP() << "too few descriptors for the clients";
        std::vector<std::string> env{"TZ=UTC", "SCRIBBET_SERVER_CHILD=" + std::to_string(port) + " " +
                                                   std::to_string(soft) + " " + std::to_string(hard) + " " +
                                                   std::to_string(hog)};
        if (const char* tmp = std::getenv("TMPDIR")) env.push_back(std::string("TMPDIR=") + tmp);
        child = std::make_unique<test::Process>(
            std::vector<std::string>{test::selfProgram().string(),
                                     "--gtest_also_run_disabled_tests",
                                     "--gtest_filter=ServerChild.DISABLED_ServesUnderTheLimitItWasGiven"},
            env, (dir / "child.txt").string());
        ASSERT_TRUE(test::eventually([&] { return limitInForce() > 0; }, 10000ms)) << test::readFile(dir / "child.txt");
    }

    // The soft limit the child reported, 0 before it did.
    unsigned long long limitInForce() {
        const auto text = test::readFile(dir / "child.txt");
        const auto at = text.find("limit ");
        return at == std::string::npos ? 0 : std::stoull(text.substr(at + 6));
    }

    void holdIdle(int count) {
        for (int i = 0; i < count; ++i) {
            idle.push_back(std::make_unique<Client>(port));
            ASSERT_TRUE(idle.back()->connected()) << "connection " << i;
        }
        std::this_thread::sleep_for(300ms); // time for the server to take them
    }

    // A new client's page, and how long it took from connecting to the last byte.
    std::pair<Response, std::chrono::milliseconds> newcomer() {
        const auto begun = Clock::now();
        Client client(port);
        client.send("GET /overlay.html HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n");
        auto reply = Response::from(client.readAll(5000ms).bytes);
        return {reply, since(begun)};
    }

    static bool closedByServer(Client& c) { return c.read(1, 200ms).closed; }

    test::TempDir dir;
    std::uint16_t port = test::freePort();
    std::unique_ptr<test::Process> child;
    std::vector<std::unique_ptr<Client>> idle;
};

TEST_F(ServerDescriptors, ANewClientIsServedThoughIdleConnectionsOutnumberTheDescriptors) {
    startChild(256, 1024, 0);
    EXPECT_EQ(limitInForce(), 1024u); // raised from 256 to the hard limit
    holdIdle(1100);
    const auto [reply, took] = newcomer();
    EXPECT_EQ(reply.code, 200);
    EXPECT_EQ(reply.body, test::page);
    EXPECT_LT(took, 1000ms);
    // The connections that waited longest made room; the latest still wait.
    EXPECT_TRUE(closedByServer(*idle.front()));
    EXPECT_FALSE(closedByServer(*idle.back()));
}

TEST_F(ServerDescriptors, WhenTheProcessRunsOutTheLongestWaitingGoAndAnAnswerUnderWayStays) {
    startChild(256, 256, 100); // nothing to raise, and fewer descriptors than the limit says
    EXPECT_EQ(limitInForce(), 256u);
    Client answering(port);
    answering.send("GET /api/slow HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nx-scribbet: 1\r\n\r\n");
    std::this_thread::sleep_for(100ms);
    holdIdle(300);
    const auto [reply, took] = newcomer();
    EXPECT_EQ(reply.code, 200);
    EXPECT_EQ(reply.body, test::page); // and a descriptor was left to read the file with
    EXPECT_LT(took, 1000ms);
    EXPECT_TRUE(closedByServer(*idle.front()));

    const auto slow = Response::from(answering.readAll(5000ms).bytes);
    EXPECT_EQ(slow.code, 200);
    EXPECT_EQ(slow.body, R"({"ok":true,"slow":true})");
}

} // namespace
} // namespace scribbet
