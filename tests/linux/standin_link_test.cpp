// The link to the stand-in keeps its connections: calls reuse idle ones, one call at a time on
// each, and a connection that timed out or broke is never used again. Against a small server
// of the test's own that counts what it sees.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "adapters/linux/standin_link.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;
using Failure = standin::Answer::Failure;

namespace {

// What the server does with one request: the bytes it answers (none for no answer), after a
// delay, and whether it then ends the connection.
struct Reply {
    std::string bytes;
    std::chrono::milliseconds delay{0};
    bool close = false;
    bool closeUnread = false; // ends the connection once the next request is there, unread
};

// Echoes a request's "n" back as the answer's.
Reply echo(const json& request) { return {json{{"n", request.value("n", -1)}}.dump() + "\n"}; }

class FakeStandin {
public:
    FakeStandin(std::filesystem::path path, std::function<Reply(const json&)> behaviour)
        : path_(std::move(path)), behaviour_(std::move(behaviour)) {
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path_.c_str());
        EXPECT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listenFd_, 64), 0);
        EXPECT_EQ(::pipe(wake_), 0);
        acceptor_ = std::thread([this] { acceptAll(); });
    }
    ~FakeStandin() { stop(); }

    // Ends every connection at once, as a stand-in that ends does.
    void stop() {
        if (stopped_.exchange(true)) return;
        [[maybe_unused]] const auto n = ::write(wake_[1], "x", 1);
        acceptor_.join();
        for (auto& t : connections_) t.join();
        ::close(listenFd_);
        ::unlink(path_.c_str());
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    std::atomic<int> accepted{0};
    std::atomic<int> requests{0};
    std::atomic<int> open{0};       // connections the client has not ended yet
    std::atomic<int> overlapped{0}; // a request that came before the answer to the one before it

private:
    void acceptAll() {
        for (;;) {
            pollfd p[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 || p[1].revents != 0) return;
            const int fd = ::accept(listenFd_, nullptr, nullptr);
            if (fd < 0) continue;
            ++accepted;
            ++open;
            connections_.emplace_back([this, fd] {
                serve(fd);
                ::close(fd);
                --open;
            });
        }
    }

    // Whether `fd` has something to read within `limit`, and the test is not ending.
    bool readable(int fd, std::chrono::milliseconds limit) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        return ::poll(p, 2, static_cast<int>(limit.count())) > 0 && p[1].revents == 0 && p[0].revents != 0;
    }

    void serve(int fd) {
        std::string pending;
        for (;;) {
            const auto end = pending.find('\n');
            if (end == std::string::npos) {
                if (!readable(fd, 10s)) return;
                char buffer[4096];
                const auto n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0) return;
                pending.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            const json request = json::parse(pending.substr(0, end), nullptr, false);
            pending.erase(0, end + 1);
            ++requests;
            const Reply reply = behaviour_(request);
            if (reply.delay.count() > 0) {
                pollfd w{wake_[0], POLLIN, 0};
                if (::poll(&w, 1, static_cast<int>(reply.delay.count())) > 0) return;
            }
            // A client that uses a connection for one call at a time sends nothing before its answer.
            pollfd more{fd, POLLIN, 0};
            if (!pending.empty() || (::poll(&more, 1, 1) > 0 && (more.revents & POLLIN) && peekHasData(fd))) {
                ++overlapped;
            }
            if (!reply.bytes.empty()) {
                if (::send(fd, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL) < 0) return;
            }
            if (reply.close) return;
            if (reply.closeUnread) {
                readable(fd, 2s);
                return;
            }
        }
    }

    static bool peekHasData(int fd) {
        char c;
        return ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
    }

    std::filesystem::path path_;
    std::function<Reply(const json&)> behaviour_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopped_{false};
    std::thread acceptor_;
    std::list<std::thread> connections_; // only the acceptor adds, and stop() joins it first
};

class StandinLinkTest : public ::testing::Test {
protected:
    standin::Answer ask(int n, std::chrono::milliseconds limit = 2s, const std::string& op = "echo") {
        return standin::call({{"op", op}, {"n", n}}, limit, path);
    }
    // Whether `done` comes true within two seconds.
    static bool soon(const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(10ms);
        return done();
    }

    test::TempDir dir;
    std::filesystem::path path = dir / "standin.sock";
};

TEST_F(StandinLinkTest, CallsOneAfterTheOtherShareOneConnection) {
    FakeStandin standin(path, echo);
    // A second's worth of a layer's follow ticks.
    for (int i = 0; i < 60; ++i) {
        const auto a = ask(i);
        ASSERT_TRUE(a.ok()) << i;
        EXPECT_EQ(a.body["n"], i);
    }
    EXPECT_EQ(standin.accepted, 1);
    EXPECT_EQ(standin.requests, 60);
}

TEST_F(StandinLinkTest, CallsFromSeveralThreadsEachHaveAConnectionToThemselves) {
    FakeStandin standin(path, [](const json& r) {
        Reply reply = echo(r);
        reply.delay = 1ms;
        return reply;
    });
    constexpr int threads = 8;
    constexpr int calls = 25;
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < calls; ++i) {
                const int n = t * 1000 + i;
                const auto a = ask(n);
                if (!a.ok() || a.body["n"] != n) ++wrong;
            }
        });
    }
    for (auto& c : callers) c.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(standin.overlapped, 0);
    EXPECT_EQ(standin.requests, threads * calls);
    // More connections than idle ones kept can be open while all call at once, but not one a call.
    EXPECT_LT(standin.accepted, threads * calls / 4);
    // Once they are done, only a few stay open for the next calls.
    EXPECT_TRUE(soon([&] { return standin.open <= 4; })) << standin.open;
    EXPECT_GE(standin.open, 1);
}

TEST_F(StandinLinkTest, AConnectionWhoseCallTimedOutIsClosedAndItsLateAnswerReadByNobody) {
    FakeStandin standin(path, [](const json& r) {
        Reply reply = echo(r);
        if (r.value("op", "") == "slow") reply.delay = 300ms;
        return reply;
    });
    ASSERT_TRUE(ask(1).ok()); // the connection is kept now
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(2, 50ms, "slow").failure, Failure::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
    // The next call does not read the slow one's answer as its own.
    std::this_thread::sleep_for(350ms);
    const auto a = ask(3);
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a.body["n"], 3);
    EXPECT_EQ(standin.accepted, 2);
    EXPECT_TRUE(soon([&] { return standin.open == 1; })); // the timed-out one was closed
}

TEST_F(StandinLinkTest, AStandinThatRestartedOrClosesAfterEachAnswerIsFoundAgain) {
    auto first = std::make_unique<FakeStandin>(path, echo);
    ASSERT_TRUE(ask(1).ok());
    first.reset(); // its kept connection is dead now
    FakeStandin second(path, echo);
    const auto a = ask(2);
    ASSERT_TRUE(a.ok()) << static_cast<int>(a.failure);
    EXPECT_EQ(a.body["n"], 2);
    EXPECT_EQ(second.requests, 1);
    second.stop();
    EXPECT_EQ(ask(3).failure, Failure::noStandIn);

    // A stand-in that ends each connection after its answer, as one that keeps none does.
    const auto oneShot = dir / "one-shot.sock";
    FakeStandin old(oneShot, [](const json& r) {
        Reply reply = echo(r);
        reply.close = true;
        return reply;
    });
    for (int i = 0; i < 5; ++i) {
        const auto b = standin::call({{"op", "echo"}, {"n", i}}, 2s, oneShot);
        ASSERT_TRUE(b.ok()) << i << " " << static_cast<int>(b.failure);
        EXPECT_EQ(b.body["n"], i);
    }
    EXPECT_EQ(old.accepted, 5);
}

TEST_F(StandinLinkTest, AKeptConnectionClosedWithTheRequestUnreadIsTriedOnceMoreOnAFreshOne) {
    // The stand-in closes the kept connection just as the next request arrives, without reading
    // it: the system tells that apart from a close after reading, and the request goes again.
    FakeStandin standin(path, [](const json& r) {
        Reply reply = echo(r);
        reply.closeUnread = true;
        return reply;
    });
    for (int i = 0; i < 3; ++i) {
        const auto a = ask(i);
        ASSERT_TRUE(a.ok()) << i << " " << static_cast<int>(a.failure);
        EXPECT_EQ(a.body["n"], i);
    }
    EXPECT_EQ(standin.requests, 3);
    EXPECT_EQ(standin.accepted, 3);
}

TEST_F(StandinLinkTest, ARequestTheStandinMayHaveReadIsNeverSentTwice) {
    // "place" is read and then the connection ends without an answer, as when the stand-in
    // dies while it runs a macro.
    std::atomic<int> placed{0};
    FakeStandin standin(path, [&](const json& r) {
        if (r.value("op", "") != "place") return echo(r);
        ++placed;
        return Reply{"", 0ms, true};
    });
    ASSERT_TRUE(ask(1).ok()); // kept
    EXPECT_EQ(ask(2, 2s, "place").failure, Failure::broken);
    EXPECT_EQ(placed, 1);
    EXPECT_EQ(ask(3, 2s, "place").failure, Failure::broken); // on a fresh connection too
    EXPECT_EQ(placed, 2);
    // Half an answer, then the end: broken, and not sent again either.
    FakeStandin halves(dir / "halves.sock", [&](const json&) {
        ++placed;
        return Reply{R"({"n":)", 0ms, true};
    });
    EXPECT_EQ(standin::call({{"op", "place"}}, 2s, dir / "halves.sock").failure, Failure::broken);
    EXPECT_EQ(placed, 3);
    const auto a = ask(4);
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a.body["n"], 4);
}

TEST_F(StandinLinkTest, AConnectionWithBytesNobodyAskedForIsNotKept) {
    // An answer followed by more than its line: whatever that is, it must not become the next
    // call's answer.
    FakeStandin standin(path, [](const json& r) {
        Reply reply = echo(r);
        if (r.value("n", 0) == 1) reply.bytes += R"({"n":99})" "\n";
        return reply;
    });
    ASSERT_TRUE(ask(1).ok());
    const auto a = ask(2);
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a.body["n"], 2);
    EXPECT_EQ(standin.accepted, 2);
}

} // namespace
