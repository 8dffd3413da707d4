// The local connection every Linux adapter and the stand-in talk through: where sockets lie,
// and that each step ends by its deadline with the right kind of failure.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "adapters/linux/local_socket.hpp"
#include "server/http_client.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace scribbet::linuxhost;
using namespace std::chrono_literals;

namespace {

using Step = LocalSocket::Step;
using Clock = std::chrono::steady_clock;

bool hasLine(const std::string& s) { return s.find('\n') != std::string::npos; }

// A Unix socket bound at `path`, listening with `backlog` unless it is negative.
int unixListener(const std::filesystem::path& path, int backlog) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    if (backlog >= 0) {
        EXPECT_EQ(::listen(fd, backlog), 0);
    }
    return fd;
}

class LocalSocketTest : public ::testing::Test {
protected:
    ~LocalSocketTest() override {
        for (int fd : fds) ::close(fd);
    }
    int keep(int fd) {
        fds.push_back(fd);
        return fd;
    }
    test::TempDir dir;
    std::filesystem::path path = dir / "s.sock";
    std::vector<int> fds;
};

TEST(SocketPathTest, APathFitsTheAddressOnlyWithRoomForItsEnd) {
    const std::size_t room = sizeof(sockaddr_un::sun_path);
    EXPECT_TRUE(fitsSocketAddress("/" + std::string(room - 2, 'a')));
    EXPECT_FALSE(fitsSocketAddress("/" + std::string(room - 1, 'a')));

    LocalSocket wire;
    const auto r = wire.connect(std::filesystem::path("/" + std::string(room, 'a')), Clock::now() + 1s);
    EXPECT_EQ(r.step, Step::broken);
    EXPECT_EQ(r.error, std::errc::filename_too_long);
}

TEST(SocketPathTest, TheRuntimeFolderOnlyWhenItIsAnAbsolutePath) {
    const char* was = std::getenv("XDG_RUNTIME_DIR");
    const std::optional<std::string> saved = was ? std::optional<std::string>(was) : std::nullopt;
    ::setenv("XDG_RUNTIME_DIR", "/run/user/7", 1);
    const auto inRun = socketPlace("x.sock", "x-7.sock");
    EXPECT_EQ(inRun.path, "/run/user/7/x.sock");
    EXPECT_TRUE(inRun.inRuntimeFolder);
    ::setenv("XDG_RUNTIME_DIR", "run/user/7", 1);
    const auto inTemp = socketPlace("x.sock", "x-7/x.sock");
    EXPECT_EQ(inTemp.path, std::filesystem::temp_directory_path() / "x-7" / "x.sock");
    EXPECT_FALSE(inTemp.inRuntimeFolder);
    saved ? ::setenv("XDG_RUNTIME_DIR", saved->c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(LocalSocketTest, NoSocketOrNobodyListeningIsNobody) {
    LocalSocket missing;
    EXPECT_EQ(missing.connect(path, Clock::now() + 1s).step, Step::nobody);
    keep(unixListener(path, -1)); // bound, never listening
    LocalSocket refused;
    EXPECT_EQ(refused.connect(path, Clock::now() + 1s).step, Step::nobody);

    LocalSocket tcp;
    EXPECT_EQ(tcp.connect(test::freePort(), Clock::now() + 1s).step, Step::nobody);
}

TEST_F(LocalSocketTest, AListenerWithAFullQueueTimesTheConnectOut) {
    const int listener = keep(unixListener(path, 0));
    // Nobody accepts: the first connections fill the queue, and then one has to wait.
    std::vector<std::unique_ptr<LocalSocket>> queued;
    LocalSocket::Outcome r;
    Clock::time_point began;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(std::make_unique<LocalSocket>());
        began = Clock::now();
        r = queued.back()->connect(path, began + 200ms);
        if (!r.ok()) break;
    }
    EXPECT_EQ(r.step, Step::timedOut);
    const auto took = Clock::now() - began;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 2s);
    EXPECT_GE(queued.size(), 2u);
    (void)listener;
}

TEST_F(LocalSocketTest, AnAnswerThatNeverComesEndsAtTheDeadlineWithWhatCame) {
    const int listener = keep(unixListener(path, 4));
    LocalSocket wire;
    ASSERT_TRUE(wire.connect(path, Clock::now() + 1s).ok());
    const int peer = keep(::accept(listener, nullptr, nullptr));
    ASSERT_EQ(::send(peer, "part", 4, 0), 4);

    std::string got;
    const auto began = Clock::now();
    const auto r = wire.receive(got, began + 300ms, hasLine);
    const auto took = Clock::now() - began;
    EXPECT_EQ(r.step, Step::timedOut);
    EXPECT_EQ(got, "part");
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 2s);

    // A deadline already past still takes what is there without waiting.
    ASSERT_EQ(::send(peer, "!\n", 2, 0), 2);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(wire.receive(got, Clock::now() - 1s, [](const std::string&) { return true; }).step, Step::done);
    EXPECT_EQ(got, "part!\n");
}

TEST_F(LocalSocketTest, AReceiveEndsWhenItHasEnoughOrTheOtherEndFinishes) {
    const int listener = keep(unixListener(path, 4));
    LocalSocket wire;
    ASSERT_TRUE(wire.connect(path, Clock::now() + 1s).ok());
    const int peer = keep(::accept(listener, nullptr, nullptr));

    ASSERT_TRUE(wire.send("question\n", Clock::now() + 1s).ok());
    wire.shutdownSend();
    std::string asked;
    char buf[64];
    for (ssize_t n; (n = ::recv(peer, buf, sizeof buf, 0)) > 0;) asked.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(asked, "question\n"); // all of it, then the end of the stream

    ASSERT_EQ(::send(peer, "one\ntwo", 7, 0), 7);
    std::string got;
    EXPECT_EQ(wire.receive(got, Clock::now() + 1s, hasLine).step, Step::done);
    EXPECT_EQ(got.substr(0, 4), "one\n");
    ::shutdown(peer, SHUT_WR);
    EXPECT_EQ(wire.receive(got, Clock::now() + 1s, [](const std::string&) { return false; }).step, Step::done);
    EXPECT_EQ(got, "one\ntwo");
}

TEST_F(LocalSocketTest, AConnectionTheOtherEndResetsIsBroken) {
    const int listener = keep(unixListener(path, 4));
    LocalSocket wire;
    ASSERT_TRUE(wire.connect(path, Clock::now() + 1s).ok());
    ::close(::accept(listener, nullptr, nullptr));
    const std::string big(1 << 22, 'x'); // more than the buffers hold, so the write meets the closed end
    const auto r = wire.send(big, Clock::now() + 2s);
    EXPECT_EQ(r.step, Step::broken);
    EXPECT_EQ(r.error.value(), EPIPE);
}

} // namespace
