// The stand-in's end of the wire, spoken to byte by byte: requests one after the other on one
// connection, each answered on its own line in order, and the one-shot clients of before.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include <nlohmann/json.hpp>

#include "shared_model.hpp"
#include "socket_server.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace scribbet::standin;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// A client of the test's own: raw bytes out, lines in.
class Raw {
public:
    explicit Raw(const std::filesystem::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path.c_str());
        connected = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Raw() { ::close(fd_); }
    void send(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void endSending() { ::shutdown(fd_, SHUT_WR); }
    // The next line's JSON, or null when none comes within two seconds.
    json line() {
        while (pending_.find('\n') == std::string::npos) {
            if (!more(2s)) return json();
        }
        const auto end = pending_.find('\n');
        const json out = json::parse(pending_.substr(0, end), nullptr, false);
        pending_.erase(0, end + 1);
        return out;
    }
    // Whether the stand-in ended the connection within `limit`, with nothing more said.
    bool ended(std::chrono::milliseconds limit) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
        char c;
        return pending_.empty() && ::recv(fd_, &c, 1, 0) == 0;
    }
    bool connected = false;

private:
    bool more(std::chrono::milliseconds limit) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
        char buffer[4096];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    int fd_;
    std::string pending_;
};

class StandinSocketServerTest : public ::testing::Test {
protected:
    StandinSocketServerTest() {
        std::string error;
        server = SocketServer::open(path, error);
        EXPECT_TRUE(server) << error;
        if (server) thread = std::thread([this] { server->run(shared); });
    }
    ~StandinSocketServerTest() override { end(); }
    // Stops the stand-in; true when it has ended within a second.
    bool end() {
        if (!thread.joinable()) return true;
        server->stop();
        const auto start = std::chrono::steady_clock::now();
        thread.join();
        return std::chrono::steady_clock::now() - start < 1s;
    }

    test::TempDir dir;
    std::filesystem::path path = dir / "standin.sock";
    SharedModel shared{Model::standard("1.2.3", 4242)};
    std::unique_ptr<SocketServer> server;
    std::thread thread;
};

TEST_F(StandinSocketServerTest, RequestsOnOneConnectionAreAnsweredInOrderOneLineEach) {
    Raw client(path);
    ASSERT_TRUE(client.connected);
    // Two at once in one write, then one more once those are answered.
    client.send(R"({"op":"front"})" "\n" R"({"op":"nothing"})" "\n");
    const json front = client.line();
    EXPECT_TRUE(front.contains("bundle")) << front;
    const json unknown = client.line();
    EXPECT_EQ(unknown.value("error", ""), "Unknown request \"nothing\".");
    client.send("not json\n");
    EXPECT_EQ(client.line().value("error", ""), "The request is not JSON.");
    // A request that arrives in pieces is one request.
    client.send(R"({"op":"set","values":)");
    std::this_thread::sleep_for(20ms);
    client.send(R"({"zoom":"150"}})" "\n");
    EXPECT_TRUE(client.line().value("ok", false));
    client.send(R"({"op":"state"})" "\n");
    EXPECT_EQ(client.line()["zoom"], 150);
    // The connection stays open for the next request until the client ends it.
    EXPECT_FALSE(client.ended(50ms));
    client.endSending();
    EXPECT_TRUE(client.ended(2000ms));
}

TEST_F(StandinSocketServerTest, AOneShotClientIsAnsweredAsBefore) {
    Raw withLineEnd(path);
    withLineEnd.send(R"({"op":"front"})" "\n");
    withLineEnd.endSending();
    EXPECT_TRUE(withLineEnd.line().contains("bundle"));
    EXPECT_TRUE(withLineEnd.ended(2000ms));

    // A last request without its line end still counts once the client ends its stream.
    Raw withoutLineEnd(path);
    withoutLineEnd.send(R"({"op":"front"})");
    withoutLineEnd.endSending();
    EXPECT_TRUE(withoutLineEnd.line().contains("bundle"));
    EXPECT_TRUE(withoutLineEnd.ended(2000ms));
}

TEST_F(StandinSocketServerTest, AStopEndsKeptAndQuietConnectionsAtOnce) {
    Raw quiet(path); // connected, nothing said yet; taken before the next one, which is answered
    ASSERT_TRUE(quiet.connected);
    Raw kept(path);
    kept.send(R"({"op":"front"})" "\n");
    ASSERT_TRUE(kept.line().contains("bundle"));
    EXPECT_TRUE(end()); // not the minute a quiet connection may wait
    EXPECT_TRUE(kept.ended(1000ms));
    EXPECT_TRUE(quiet.ended(1000ms));
}

TEST_F(StandinSocketServerTest, QuitOnAKeptConnectionIsAnsweredAndEndsTheStandin) {
    Raw client(path);
    client.send(R"({"op":"front"})" "\n");
    ASSERT_TRUE(client.line().contains("bundle"));
    client.send(R"({"op":"quit"})" "\n");
    EXPECT_TRUE(client.line().value("ok", false));
    EXPECT_TRUE(client.ended(2000ms));
    const auto start = std::chrono::steady_clock::now();
    thread.join(); // run() returns by itself
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

} // namespace
