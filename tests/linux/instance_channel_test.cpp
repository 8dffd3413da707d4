#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "platform/linux/instance_channel.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace scribbet::linuxhost;

namespace {

struct Received {
    std::mutex m;
    std::vector<std::string> messages;
    void operator()(const std::string& s) {
        std::lock_guard l(m);
        messages.push_back(s);
    }
};

TEST(InstanceChannelTest, HandsMessagesToTheRunningInstanceInOrder) {
    test::TempDir dir;
    const auto path = dir / "scribbet.sock";
    EXPECT_FALSE(InstanceChannel::handOff(path, {"Lnobody"}));

    Received got;
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(path, std::ref(got)));
    const std::string withNewline = "Lscribbet://draw?g=1\nsecond line";
    ASSERT_TRUE(InstanceChannel::handOff(path, {"Lscribbet://open", withNewline, "R"}));
    // handOff returns once the instance has taken them.
    std::lock_guard l(got.m);
    EXPECT_EQ(got.messages, (std::vector<std::string>{"Lscribbet://open", withNewline, "R"}));
}

TEST(InstanceChannelTest, ASecondInstanceCannotTakeALiveSocket) {
    test::TempDir dir;
    const auto path = dir / "scribbet.sock";
    Received first, second;
    InstanceChannel a, b;
    ASSERT_TRUE(a.listen(path, std::ref(first)));
    EXPECT_FALSE(b.listen(path, std::ref(second)));
    ASSERT_TRUE(InstanceChannel::handOff(path, {"R"}));
    std::lock_guard l(first.m);
    EXPECT_EQ(first.messages.size(), 1u);
}

TEST(InstanceChannelTest, AStaleSocketFromACrashedInstanceIsTakenOver) {
    test::TempDir dir;
    const auto path = dir / "scribbet.sock";
    // Bound and then closed without unlinking, as a crash leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(InstanceChannel::handOff(path, {"R"}));

    Received got;
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(path, std::ref(got)));
    ASSERT_TRUE(InstanceChannel::handOff(path, {"Lx"}));
    channel.stop();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(got.messages, std::vector<std::string>{"Lx"});
}

TEST(InstanceChannelTest, AClientThatVanishesMidMessageCostsOnlyThatMessage) {
    test::TempDir dir;
    const auto path = dir / "scribbet.sock";
    Received got;
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(path, std::ref(got)));
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, path.c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        const char partial[] = "Lwhole\0Lcut off";
        ASSERT_GT(::send(fd, partial, sizeof partial - 1, 0), 0);
        ::close(fd);
    }
    ASSERT_TRUE(InstanceChannel::handOff(path, {"Lnext"}));
    std::lock_guard l(got.m);
    EXPECT_EQ(got.messages, (std::vector<std::string>{"Lwhole", "Lnext"}));
}

} // namespace
