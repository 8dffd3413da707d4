// Outliving an owner: weak handles from a factory, post-and-reply, and subscriptions that end
// when dropped.
#include <gtest/gtest.h>

#include <vector>

#include "ports/subscription.hpp"
#include "runtime/weak.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

using WeakTest = test::VirtualMainTest;

struct Owner {
    int calls = 0;
    WeakFactory<Owner> weak{this};
};

TEST_F(WeakTest, AFactorysHandlesEndWithTheOwnerOrAtInvalidate) {
    auto owner = std::make_unique<Owner>();
    auto early = weakly(owner->weak.weak(), [](Owner& o, int n) { o.calls += n; });
    early(2);
    EXPECT_EQ(owner->calls, 2);
    owner->weak.invalidate();
    early(5); // ended by invalidate: the owner lives on untouched
    EXPECT_EQ(owner->calls, 2);
    auto late = weakly(owner->weak.weak(), [](Owner& o, int n) { o.calls += n; });
    late(1);
    EXPECT_EQ(owner->calls, 3);
    main.after(1s, [late]() mutable { late(100); });
    owner.reset(); // the queued call must find nobody, not freed memory
    loop->advance(2s);
}

TEST_F(WeakTest, PostAndReplyBringsTheAnswerBackUnlessTheOwnerWent) {
    SerialQueue work("test.work");
    auto owner = std::make_shared<Owner>();
    std::vector<int> answers;
    postAndReply(work, [] { return 41; }, main,
                 weakly(owner, [&](Owner& o, int n) {
                     o.calls = n + 1;
                     answers.push_back(n);
                 }));
    ASSERT_TRUE(loop->runUntil([&] { return !answers.empty(); }));
    EXPECT_EQ(owner->calls, 42);

    postAndReply(work, [] { return 7; }, main, weakly(owner, [&](Owner&, int n) { answers.push_back(n); }));
    work.sync([] {}); // the answer is on its way to the main queue
    owner.reset();
    loop->runPending();
    EXPECT_EQ(answers, (std::vector<int>{41}));
}

TEST(SubscriptionTest, DroppingOrReplacingASubscriptionEndsItAndTheListMayGoFirst) {
    std::vector<std::string> heard;
    Subscription kept;
    {
        CallbackList<void(const std::string&)> list;
        kept = list.add([&](const std::string& s) { heard.push_back("a" + s); });
        {
            Subscription brief = list.add([&](const std::string& s) { heard.push_back("b" + s); });
            list.notify("1");
        }
        list.notify("2");
        Subscription moved = list.add([&](const std::string& s) { heard.push_back("c" + s); });
        Subscription other = std::move(moved);
        EXPECT_FALSE(moved.active());
        list.notify("3");
        other = Subscription(); // replacing it ends it
        list.notify("4");
        EXPECT_EQ(list.size(), 1u);
    }
    kept.reset(); // the list is gone already: nothing to do, and no crash
    EXPECT_EQ(heard, (std::vector<std::string>{"a1", "b1", "a2", "a3", "c3", "a4"}));
}

TEST(SubscriptionTest, AHandlerMayEndSubscriptionsWhileTheListCallsAndTheFirstToTakeWins) {
    CallbackList<bool(int)> keys;
    std::vector<int> seen;
    Subscription first, second;
    first = keys.add([&](int k) {
        seen.push_back(k);
        first.reset();  // its own
        second.reset(); // and the next one's: this round still reaches it
        return k == 0;
    });
    second = keys.add([&](int k) {
        seen.push_back(10 + k);
        return true;
    });
    Subscription third = keys.add([&](int k) {
        seen.push_back(20 + k);
        return true;
    });
    EXPECT_TRUE(keys.notifyUntilTaken(1)); // the second takes it; the third never hears
    EXPECT_EQ(seen, (std::vector<int>{1, 11}));
    EXPECT_EQ(keys.size(), 1u);
    EXPECT_TRUE(keys.notifyUntilTaken(2));
    EXPECT_EQ(seen, (std::vector<int>{1, 11, 22}));
}

} // namespace
