#include <gtest/gtest.h>

#include <thread>

#include "log/app_state.hpp"
#include "runtime/shared_slot.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class LogTest : public test::VirtualMainTest {};

class RecordingView final : public LogView {
public:
    void append(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

TEST_F(LogTest, FirstLineCreatesTheFolderAndWritesStampedLines) {
    clock->setWallStart(std::chrono::sys_days{std::chrono::year{2026} / 3 / 4} + 5h + 6min + 7s);
    const auto file = dir / "deep" / "Logs" / "Scribbet.log";
    AppState state(file, &main);
    state.log("first");
    state.log("two\nlines");
    state.flush();
    EXPECT_EQ(test::readFile(file), "2026-03-04 05:06:07  first\n2026-03-04 05:06:07  two\nlines\n");
    loop->runPending();
    EXPECT_EQ(state.kept(), (std::deque<std::string>{"05:06:07  first\n", "05:06:07  two\nlines\n"}));
}

TEST_F(LogTest, FileOfExactlyTheLimitIsAppendedToOneByteMoreStartsAfresh) {
    const auto file = dir / "Scribbet.log";
    AppState state(file, &main);

    test::writeFile(file, std::string(AppState::fileLimit, 'x'));
    state.log("kept");
    state.flush();
    const auto kept = test::readFile(file);
    EXPECT_EQ(kept.size(), AppState::fileLimit + 26);
    EXPECT_EQ(kept.substr(AppState::fileLimit + 21), "kept\n");

    test::writeFile(file, std::string(AppState::fileLimit + 1, 'x'));
    state.log("fresh");
    state.flush();
    EXPECT_EQ(test::messages(test::readFile(file)), std::vector<std::string>{"fresh"});
}

TEST_F(LogTest, KeepsTheLast400ViewLinesForALogViewAttachedLater) {
    AppState state(dir / "Scribbet.log", &main);
    for (int i = 1; i <= 450; ++i) state.log("m" + std::to_string(i));
    loop->runPending();
    ASSERT_EQ(state.kept().size(), 400u);

    auto view = std::make_shared<RecordingView>();
    state.attach(view);
    ASSERT_EQ(view->lines.size(), 400u);
    EXPECT_EQ(view->lines.front().substr(10), "m51\n");
    EXPECT_EQ(view->lines.back().substr(10), "m450\n");

    // An attached view gets new lines as they come, and is forgotten once it goes away.
    state.log("live");
    loop->runPending();
    EXPECT_EQ(view->lines.back().substr(10), "live\n");
    EXPECT_EQ(view->lines.size(), 401u);
    view.reset();
    state.log("after the view");
    loop->runPending();
    EXPECT_EQ(state.kept().back().substr(10), "after the view\n");
}

TEST_F(LogTest, TwoThreadsLoggingAtOnceLeaveWholeLinesInCallOrder) {
    AppState state(dir / "Scribbet.log", &main);
    const std::string a(300, 'a'), b(300, 'b');
    auto writer = [&](const std::string& text) {
        for (int i = 0; i < 300; ++i) state.log(text + std::to_string(i));
    };
    std::thread t1(writer, a), t2(writer, b);
    t1.join();
    t2.join();
    state.flush();
    const auto lines = test::messages(test::readFile(dir / "Scribbet.log"));
    ASSERT_EQ(lines.size(), 600u);
    int nextA = 0, nextB = 0;
    for (const auto& line : lines) {
        if (line.rfind(a, 0) == 0) {
            EXPECT_EQ(line, a + std::to_string(nextA++));
        } else {
            EXPECT_EQ(line, b + std::to_string(nextB++));
        }
    }
    EXPECT_EQ(nextA, 300);
    EXPECT_EQ(nextB, 300);
}

TEST_F(LogTest, UnwritablePlaceLosesTheFileLineButNotTheViewLine) {
    // A file where the folder should be: neither the folder nor the file can be made,
    // even for root.
    test::writeFile(dir / "blocker", "");
    AppState state(dir / "blocker" / "Logs" / "Scribbet.log", &main);
    state.log("still shown");
    state.flush();
    loop->runPending();
    EXPECT_EQ(state.kept().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "blocker" / "Logs"));
}

TEST_F(LogTest, GlobalLogGoesToTheProgramsLogFile) {
    log("through the global function");
    EXPECT_EQ(logged(), std::vector<std::string>{"through the global function"});
}

TEST_F(LogTest, ALogOpenedInsideAnotherTakesTheLinesUntilItGoesAndKeepsEveryOne) {
    {
        AppState inner(dir / "inner" / "Scribbet.log", &main);
        SharedSlot<AppState> slot(inner);
        EXPECT_EQ(&AppState::shared(), &inner);
        log("inside");
    } // the lines reach the file before the log goes
    log("outside");
    EXPECT_EQ(test::messages(test::readFile(dir / "inner" / "Scribbet.log")), std::vector<std::string>{"inside"});
    EXPECT_EQ(logged(), std::vector<std::string>{"outside"});
    loop->runPending(); // the gone log's view line still on its way to the main queue touches nothing gone
    EXPECT_EQ(state.kept().size(), 1u);
}

} // namespace
