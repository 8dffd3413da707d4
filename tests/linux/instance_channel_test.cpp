#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "adapters/linux/instance_channel.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace scribbet::linuxhost;
using namespace std::chrono_literals;

namespace {

using HandOff = InstanceChannel::HandOff;
using Listening = InstanceChannel::Listening;
using Start = InstanceChannel::Start;
using Messages = std::vector<std::string>;

struct Received {
    std::mutex m;
    Messages messages;
    bool ending = false; // then nothing is taken
    Messages all() {
        std::lock_guard l(m);
        return messages;
    }
    void end() {
        std::lock_guard l(m);
        ending = true;
    }
    InstanceChannel::Handler handler() {
        return [this](const Messages& handed) {
            std::lock_guard l(m);
            if (ending) return false;
            messages.insert(messages.end(), handed.begin(), handed.end());
            return true;
        };
    }
};

sockaddr_un addressOf(const std::filesystem::path& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    return addr;
}

// A socket the test drives by hand: a careless or hostile sender, or (listening) some
// other program that never accepts, reads or answers.
struct RawSocket {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ~RawSocket() { ::close(fd); }
    bool connect(const std::filesystem::path& path) {
        const auto addr = addressOf(path);
        return ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }
    bool listen(const std::filesystem::path& path) {
        const auto addr = addressOf(path);
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 8) == 0;
    }
    void send(const std::string& bytes, bool end) {
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
        if (end) ::shutdown(fd, SHUT_WR);
    }
    // All the instance says before it closes, or what came within 3 s.
    std::string answer() {
        std::string out;
        char buf[256];
        pollfd p{fd, POLLIN, 0};
        for (ssize_t n; ::poll(&p, 1, 3000) > 0 && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, n);
        return out;
    }
};

InstanceChannel::Limits limits(std::chrono::milliseconds time, std::size_t bytes = 8 << 20, std::size_t clients = 32) {
    InstanceChannel::Limits l;
    l.time = time;
    l.bytes = bytes;
    l.clients = clients;
    return l;
}

class InstanceChannelTest : public ::testing::Test {
protected:
    void listen(const InstanceChannel::Limits& l = {}) {
        ASSERT_EQ(channel.listen(path, got.handler(), l).state, Listening::listening);
    }
    test::TempDir dir;
    const std::filesystem::path path = dir / "scribbet.sock";
    Received got;
    InstanceChannel channel;
};

// ---- The instance and its senders ----

TEST_F(InstanceChannelTest, HandsMessagesToTheRunningInstanceInOrderOnceEach) {
    EXPECT_EQ(InstanceChannel::handOff(path, {"Lnobody"}).outcome, HandOff::nobody);
    listen();
    const Messages small = {"Lscribbet://open", "Lscribbet://draw?g=1\nsecond line", "R"};
    const auto handed = InstanceChannel::handOff(path, small);
    EXPECT_EQ(handed.outcome, HandOff::handed) << handed.why;
    // handOff returns once the instance has taken them.
    EXPECT_EQ(got.all(), small);

    Messages large; // more than a command line can hold
    for (int i = 0; i < 20; ++i) large.push_back("Lscribbet://draw?n=" + std::to_string(i) + "&g=" + std::string(120000, 'x'));
    EXPECT_EQ(InstanceChannel::handOff(path, large).outcome, HandOff::handed);
    EXPECT_EQ(got.all().size(), small.size() + large.size());
    EXPECT_EQ(got.all().back(), large.back());
}

TEST_F(InstanceChannelTest, ASecondInstanceCannotTakeALiveSocket) {
    listen();
    Received second;
    InstanceChannel b;
    EXPECT_EQ(b.listen(path, second.handler()).state, Listening::taken);
    ASSERT_EQ(InstanceChannel::handOff(path, {"R"}).outcome, HandOff::handed);
    EXPECT_EQ(got.all().size(), 1u);
    EXPECT_TRUE(second.all().empty());
}

TEST_F(InstanceChannelTest, AStaleSocketFromACrashedInstanceIsTakenOver) {
    {
        RawSocket crashed; // bound and then closed without unlinking, as a crash leaves it
        ASSERT_TRUE(crashed.listen(path));
    }
    EXPECT_EQ(InstanceChannel::handOff(path, {"R"}).outcome, HandOff::nobody);
    listen();
    ASSERT_EQ(InstanceChannel::handOff(path, {"Lx"}).outcome, HandOff::handed);
    channel.stop();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(got.all(), Messages{"Lx"});
    // Stopped, it lets go of the place: the next instance can take it.
    InstanceChannel next;
    EXPECT_EQ(next.listen(path, got.handler()).state, Listening::listening);
}

TEST_F(InstanceChannelTest, AHandOverCutOffOrNotUnderstoodIsDroppedWhole) {
    listen();
    // A message the sender never finished; whole messages without the end of the
    // hand-over; a message of no known kind; more after the end; nothing at all.
    for (const auto& bytes : {std::string("Lwhole\0Lcut off", 15), std::string("Lwhole\0", 7),
                              std::string("Lfine\0Xwhat\0\0", 13), std::string("Lfine\0\0Lmore\0\0", 14),
                              std::string()}) {
        RawSocket sender;
        ASSERT_TRUE(sender.connect(path));
        sender.send(bytes, true);
        EXPECT_EQ(sender.answer(), "ERR The hand-over was cut off or not understood, so none of its links were taken.\n");
    }
    {
        RawSocket vanished; // closed, not ended: no hand-over either
        ASSERT_TRUE(vanished.connect(path));
        vanished.send(std::string("Lgone\0", 6), false);
    }
    ASSERT_EQ(InstanceChannel::handOff(path, {"Lnext"}).outcome, HandOff::handed);
    EXPECT_EQ(got.all(), Messages{"Lnext"});
}

TEST_F(InstanceChannelTest, AnOversizedHandOverIsRefusedWholeAtEitherEnd) {
    const auto small = limits(5000ms, 1000);
    listen(small);
    // A sender that knows the limit does not send at all.
    const auto here = InstanceChannel::handOff(path, {"Lfirst", "L" + std::string(600, 'a'), "L" + std::string(600, 'b')}, small);
    EXPECT_EQ(here.outcome, HandOff::failed);
    EXPECT_EQ(here.why, "The links are larger than the 1000 bytes a running Scribbet takes at once, so none were handed over.");
    // One that does not (another version, or by hand) is stopped by the instance.
    const auto there = InstanceChannel::handOff(path, {"Lok", "L" + std::string(8 << 20, 'c')}, limits(5000ms, 64 << 20));
    EXPECT_EQ(there.outcome, HandOff::failed);
    EXPECT_EQ(there.why, "The hand-over is larger than 1000 bytes, so none of its links were taken.");
    EXPECT_TRUE(got.all().empty());
    // Exactly the limit, with each message's NUL and the end, is taken.
    const std::string fits = "L" + std::string(997, 'd');
    EXPECT_EQ(InstanceChannel::handOff(path, {fits}, small).outcome, HandOff::handed);
    EXPECT_EQ(got.all(), Messages{fits});
}

TEST_F(InstanceChannelTest, SendersAreServedAtOnceEachWithItsOwnTimeLimit) {
    listen(limits(1000ms));
    // A sender that connects and says nothing does not hold up the others: they are served
    // and confirmed long before its own second is up.
    RawSocket silent;
    ASSERT_TRUE(silent.connect(path));
    std::vector<HandOff> results(4, HandOff{HandOff::failed, "not run"});
    std::vector<std::thread> senders;
    for (int i = 0; i < 4; ++i) {
        senders.emplace_back([&, i] { results[i] = InstanceChannel::handOff(path, {"Ls" + std::to_string(i), "R"}, limits(700ms)); });
    }
    for (auto& t : senders) t.join();
    for (const auto& r : results) EXPECT_EQ(r.outcome, HandOff::handed) << r.why;
    // Its own limit ends it, with a sentence, and nothing of it is taken.
    EXPECT_EQ(silent.answer(), "ERR The hand-over did not arrive within 1 s, so none of its links were taken.\n");
    EXPECT_EQ(got.all().size(), 8u);
}

TEST_F(InstanceChannelTest, BeyondItsSendersAtOnceTheInstanceRefusesWhole) {
    listen(limits(5000ms, 8 << 20, 1));
    RawSocket slow;
    ASSERT_TRUE(slow.connect(path));
    slow.send(std::string("Lslow\0", 6), false);
    std::this_thread::sleep_for(50ms); // the instance has it in hand
    const auto refused = InstanceChannel::handOff(path, {"Lbusy"});
    EXPECT_EQ(refused.outcome, HandOff::failed);
    EXPECT_EQ(refused.why, "Too many hand-overs at once, so none of these links were taken.");
    slow.send(std::string(1, '\0'), true);
    EXPECT_EQ(slow.answer(), "OK 1\n");
    EXPECT_EQ(InstanceChannel::handOff(path, {"Lagain"}).outcome, HandOff::handed);
    EXPECT_EQ(got.all(), (Messages{"Lslow", "Lagain"}));
}

TEST_F(InstanceChannelTest, NeitherEndDealsWithAnotherUser) {
    auto someoneElse = limits(5000ms);
    someoneElse.user = ::geteuid() + 1;
    listen();
    // The sender finds the instance run by another user: it sends nothing.
    auto r = InstanceChannel::handOff(path, {"Lsecret"}, someoneElse);
    EXPECT_EQ(r.outcome, HandOff::failed);
    EXPECT_EQ(r.why, "Another user's program listens at " + path.string() + ", so the links were not handed over.");
    // The instance finds the sender is another user: it takes nothing.
    channel.stop();
    ASSERT_EQ(channel.listen(path, got.handler(), someoneElse).state, Listening::listening);
    r = InstanceChannel::handOff(path, {"Lsecret"});
    EXPECT_EQ(r.outcome, HandOff::failed);
    EXPECT_EQ(r.why, "This Scribbet belongs to another user.");
    EXPECT_TRUE(got.all().empty());
}

TEST_F(InstanceChannelTest, OnlyAConfirmationOfEveryMessageCountsAsHandedOver) {
    RawSocket other;
    ASSERT_TRUE(other.listen(path));
    auto r = InstanceChannel::handOff(path, {"Lx"}, limits(200ms)); // it never answers
    EXPECT_EQ(r.why, "The running Scribbet did not confirm the links within 0.2 s; they may not have been handled.");
    ::close(::accept(other.fd, nullptr, nullptr));
    // Answers that do not confirm all of them: closing, a short count, noise.
    for (const std::string answer : {"", "OK 1\n", "OK\n", "hello\n"}) {
        std::thread peer([&] {
            const int fd = ::accept(other.fd, nullptr, nullptr);
            char buf[64];
            while (::recv(fd, buf, sizeof buf, 0) > 0) {
            }
            (void)!::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(fd);
        });
        r = InstanceChannel::handOff(path, {"La", "Lb"}, limits(2000ms));
        peer.join();
        EXPECT_EQ(r.outcome, HandOff::failed) << answer;
        EXPECT_EQ(r.why, "The running Scribbet did not confirm the links; they may not have been handled.") << answer;
    }
    // And a start does not take its socket from it to listen there itself.
    EXPECT_EQ(channel.start(path, {"Lx"}, got.handler(), limits(200ms)).role, Start::failed);
    RawSocket stillThere;
    EXPECT_TRUE(stillThere.connect(path));
}

// ---- The start-up decision ----

TEST_F(InstanceChannelTest, StartsAtTheSameMomentMakeOneInstanceThatGetsEveryOtherStartsLinksOnce) {
    test::writeFile(path, ""); // left by a crash: every start sees it as stale
    constexpr int starts = 6;
    std::vector<Received> got(starts);
    std::vector<InstanceChannel> channels(starts);
    std::vector<Start> roles(starts, Start{Start::failed, "not run"});
    std::vector<std::thread> threads;
    for (int i = 0; i < starts; ++i) {
        threads.emplace_back([&, i] { roles[i] = channels[i].start(path, {"L" + std::to_string(i)}, got[i].handler()); });
    }
    for (auto& t : threads) t.join();
    const auto instances = std::count_if(roles.begin(), roles.end(), [](const Start& s) { return s.role == Start::instance; });
    ASSERT_EQ(instances, 1);
    Messages expected, taken;
    for (int i = 0; i < starts; ++i) {
        if (roles[i].role == Start::instance) {
            taken = got[i].all();
            continue;
        }
        EXPECT_EQ(roles[i].role, Start::handedOver) << roles[i].why;
        expected.push_back("L" + std::to_string(i));
    }
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken, expected);
}

TEST_F(InstanceChannelTest, AStartWaitsForAnInstanceThatIsEndingAndGivesUpOnOneThatNeverListens) {
    // The lock held with nobody listening: an instance between letting go of its socket and
    // its end, or one that hangs before it listens.
    const int lock = ::open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    const auto before = std::chrono::steady_clock::now();
    const auto gaveUp = channel.start(path, {"Lx"}, got.handler(), {}, 300ms);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 300ms);
    EXPECT_EQ(gaveUp.role, Start::failed);
    EXPECT_EQ(gaveUp.why, "Another Scribbet is starting or ending and did not take the links within 0.3 s; try again.");

    std::thread ending([lock] {
        std::this_thread::sleep_for(200ms);
        ::close(lock);
    });
    const auto took = channel.start(path, {"Lx"}, got.handler(), {}, 3000ms);
    ending.join();
    EXPECT_EQ(took.role, Start::instance) << took.why;
    EXPECT_EQ(InstanceChannel::handOff(path, {"Ly"}).outcome, HandOff::handed);
    EXPECT_EQ(got.all(), Messages{"Ly"});
}

TEST_F(InstanceChannelTest, LinksHandedToAnInstanceThatIsQuittingGoToTheNextOne) {
    listen();
    got.end();
    EXPECT_EQ(InstanceChannel::handOff(path, {"Lx"}).outcome, HandOff::nobody);

    // The start waits while the quitting instance still holds the place, then takes it and
    // its own links with it; the quitting one never had them.
    std::thread quitting([this] {
        std::this_thread::sleep_for(300ms);
        channel.stop();
    });
    InstanceChannel next;
    Received nextGot;
    const auto role = next.start(path, {"Lx"}, nextGot.handler(), {}, 3000ms);
    quitting.join();
    EXPECT_EQ(role.role, Start::instance) << role.why;
    EXPECT_TRUE(got.all().empty());
    EXPECT_EQ(InstanceChannel::handOff(path, {"Ly"}).outcome, HandOff::handed);
    EXPECT_EQ(nextGot.all(), Messages{"Ly"});
}

// An instance whose process is still ending (its parts may wait a while to go) no longer
// serves, yet holds the place: a start meanwhile waits, never becoming a second instance,
// and takes the place once it is let go.
TEST_F(InstanceChannelTest, AnInstanceThatStoppedServingHoldsThePlaceUntilItLetsGo) {
    listen();
    channel.stopServing();
    EXPECT_FALSE(std::filesystem::exists(path));
    InstanceChannel next;
    Received nextGot;
    EXPECT_EQ(next.start(path, {"Lx"}, nextGot.handler(), {}, 300ms).role, Start::failed);

    std::thread gone([this] {
        std::this_thread::sleep_for(300ms);
        channel.stop();
    });
    const auto before = std::chrono::steady_clock::now();
    const auto role = next.start(path, {"Lx"}, nextGot.handler(), {}, 3000ms);
    const auto waited = std::chrono::steady_clock::now() - before;
    gone.join();
    EXPECT_EQ(role.role, Start::instance) << role.why;
    EXPECT_GE(waited, 300ms);
    EXPECT_EQ(InstanceChannel::handOff(path, {"Ly"}).outcome, HandOff::handed);
    EXPECT_EQ(nextGot.all(), Messages{"Ly"});
}

TEST_F(InstanceChannelTest, SendersOnTheLineWhenTheInstanceStopsHearThatItIsEnding) {
    listen();
    RawSocket halfway, waiting;
    ASSERT_TRUE(halfway.connect(path));
    halfway.send("Lx", false); // a message begun, not ended
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(waiting.connect(path)); // perhaps still in the system's queue when the stop comes
    channel.stop();
    // Neither had its links taken, so each goes to the next instance instead of failing.
    EXPECT_EQ(halfway.answer(), "ENDING\n");
    EXPECT_EQ(waiting.answer(), "ENDING\n");
    EXPECT_TRUE(got.all().empty());
}

// ---- The socket's place ----

// An environment variable as it was before the test.
struct SavedVariable {
    explicit SavedVariable(std::string n) : name(std::move(n)) {
        if (const char* v = std::getenv(name.c_str())) value = v;
    }
    ~SavedVariable() { value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str()); }
    std::string name;
    std::optional<std::string> value;
};

TEST(InstancePlaceTest, TheRuntimeFolderElseAPrivateFolderOfTheTempFolderAndNothingLessPrivate) {
    test::TempDir dir;
    const auto mode = [](const std::filesystem::path& p) {
        struct stat st {};
        ::lstat(p.c_str(), &st);
        return st.st_mode & 0777;
    };
    const SavedVariable runtime("XDG_RUNTIME_DIR"), temp("TMPDIR");
    ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    EXPECT_EQ(InstanceChannel::place().socket, dir / "run" / "scribbet.sock");
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const auto folder = dir / ("scribbet-" + std::to_string(::geteuid()));
    const auto place = InstanceChannel::place();
    const auto again = InstanceChannel::place();
    // Opened up by someone: not used, and not mended behind the user's back.
    ::chmod(folder.c_str(), 0701);
    const auto opened = InstanceChannel::place();
    EXPECT_EQ(place.socket, folder / "scribbet.sock");
    EXPECT_EQ(place.why, "");
    EXPECT_EQ(again.why, "");
    EXPECT_EQ(opened.why, "The folder " + folder.string() +
                              " is not private to this user (it must be a folder of yours with mode 0700), so "
                              "Scribbet does not use it.");
    EXPECT_EQ(mode(folder), 0701u);

    // A link to a private folder, a file, another user's folder.
    ASSERT_EQ(InstanceChannel::privateFolder(dir / "real"), "");
    EXPECT_EQ(mode(dir / "real"), 0700u);
    std::filesystem::create_directory_symlink(dir / "real", dir / "link");
    EXPECT_NE(InstanceChannel::privateFolder(dir / "link"), "");
    test::writeFile(dir / "file", "");
    ::chmod((dir / "file").c_str(), 0600);
    EXPECT_NE(InstanceChannel::privateFolder(dir / "file"), "");
    EXPECT_NE(InstanceChannel::privateFolder(dir / "real", ::geteuid() + 1), "");
}

} // namespace
