#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "adapters/linux/headless_app.hpp"
#include "runtime/queues.hpp"

using namespace scribbet;
using namespace scribbet::linuxhost;

namespace {

struct Delegate final : ApplicationDelegate {
    void willFinishLaunching() override {}
    void didFinishLaunching() override {}
    bool shouldHandleReopen(bool) override {
        ++reopens;
        return true;
    }
    void willTerminate() override { ++terminations; }
    int reopens = 0;
    int terminations = 0;
};

// Links handed over from another thread are either handled or refused, never taken and then
// dropped because the application quit first.
TEST(HeadlessApplicationTest, WhatArrivesWhileQuittingIsRefusedAndWhatWasTakenStillRuns) {
    MainQueue main(std::make_shared<WaitingPump>(), std::make_shared<SystemClock>());
    HeadlessApplication app(main);
    std::vector<std::string> links;
    app.setHandler([&](std::optional<std::string> link) { links.push_back(link.value_or("")); });
    Delegate delegate;

    EXPECT_TRUE(app.unlessEnding([&] { app.open("scribbet://first"); }));
    EXPECT_TRUE(app.unlessEnding([&] { app.reopened(); }));
    std::thread([&] {
        app.terminate();
        app.terminate(); // once is enough
    }).join();
    EXPECT_FALSE(app.unlessEnding([&] { app.open("scribbet://late"); }));

    app.run(delegate, {"scribbet://start"});
    EXPECT_EQ(links, (std::vector<std::string>{"scribbet://start", "scribbet://first"}));
    EXPECT_EQ(delegate.reopens, 1);
    EXPECT_EQ(delegate.terminations, 1);
}

// The terminate action's beginning is told on the thread that asked for it, once, even when
// the main thread never gets to the delegate's last words.
TEST(HeadlessApplicationTest, TheTerminateActionsBeginningIsToldAtOnceAndOnce) {
    MainQueue main(std::make_shared<WaitingPump>(), std::make_shared<SystemClock>());
    HeadlessApplication app(main);
    int begun = 0;
    std::thread::id where;
    app.whenTerminating([&] {
        ++begun;
        where = std::this_thread::get_id();
    });
    std::thread asking([&] {
        app.terminate();
        app.terminate();
    });
    const auto askingId = asking.get_id();
    asking.join();
    EXPECT_EQ(begun, 1);
    EXPECT_EQ(where, askingId);
}

} // namespace
