#include <gtest/gtest.h>

#include <cmath>

#include "adapters/mac/macro_event.hpp"
#include "support/core_fixture.hpp"

using namespace scribbet;
using namespace scribbet::mac;
using namespace std::chrono_literals;

namespace {

using Kind = MacroFailureKind;

TEST(MacroEventPlanTest, NamesTheMacroAndListsItsArgumentsInOrder) {
    const auto plan = macroEventPlan("com.microsoft.Powerpoint", "SCBT_Pen.SCBT_Insert", {"M 0 0", "", "#1F1F1F"}, 60s);
    EXPECT_EQ(plan.eventClass, fourCharCode("sPPT"));
    EXPECT_EQ(plan.eventId, fourCharCode("rVbM"));
    EXPECT_EQ(plan.targetBundleId, "com.microsoft.Powerpoint");
    EXPECT_EQ(plan.returnId, -1);
    EXPECT_EQ(plan.transactionId, 0);
    EXPECT_EQ(plan.nameKeyword, fourCharCode("Str#"));
    EXPECT_EQ(plan.name, "SCBT_Pen.SCBT_Insert");
    EXPECT_EQ(plan.argumentsKeyword, fourCharCode("tpAE"));
    // An empty argument keeps its place: the add-in reads them by position.
    EXPECT_EQ(plan.arguments, (std::vector<std::string>{"M 0 0", "", "#1F1F1F"}));
    EXPECT_EQ(plan.sendOptions, 0x23u);
    EXPECT_DOUBLE_EQ(plan.timeoutSeconds, 60);
}

TEST(MacroEventPlanTest, AMacroWithoutArgumentsGetsNoListAtAll) {
    const auto plan = macroEventPlan("b", "SCBT_Pen.SCBT_Geom", {}, 5s);
    EXPECT_EQ(plan.arguments, std::nullopt);
    EXPECT_DOUBLE_EQ(plan.timeoutSeconds, 5);
}

TEST(MacroEventPlanTest, TheWaitIsNeverOneOfTheEventManagersSpecialValues) {
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(30s), 30);
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(1500ms), 1.5);
    // -1 and -2 would mean "default" and "forever"; zero and tiny waits become one tick.
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(0s), 1.0 / 60);
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(-1s), 1.0 / 60);
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(-2s), 1.0 / 60);
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(1ms), 1.0 / 60);
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(std::chrono::hours(1000)), 86400);
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(Duration::max()), 86400);
    EXPECT_DOUBLE_EQ(sendTimeoutSeconds(Duration::min()), 1.0 / 60);
}

TEST(MacroEventPlanTest, TextsThatAreNotUtf8AreNotSentAltered) {
    EXPECT_EQ(unsendable(macroEventPlan("b", "M.N", {"ünïcödé ✓", std::string("a\0b", 3)}, 1s)), std::nullopt);
    const auto badArg = unsendable(macroEventPlan("b", "M.N", {"fine", "bad \xC3"}, 1s));
    ASSERT_TRUE(badArg);
    EXPECT_EQ(badArg->kind, Kind::other);
    EXPECT_EQ(badArg->number, 0);
    EXPECT_TRUE(badArg->message && !badArg->message->empty());
    EXPECT_TRUE(unsendable(macroEventPlan("b", "M.\xFF", {}, 1s)));
    EXPECT_TRUE(unsendable(macroEventPlan("\xED\xA0\x80", "M.N", {}, 1s))); // a surrogate
}

TEST(MacroFailureTableTest, EveryNumberTheBridgeTellsApart) {
    const std::pair<int, Kind> rows[] = {
        {-600, Kind::notRunning}, {-609, Kind::notRunning}, {-903, Kind::notRunning}, {-10661, Kind::notRunning},
        {-128, Kind::cancelled},  {-1712, Kind::timedOut},  {-1743, Kind::denied},    {-1744, Kind::denied},
        {-1708, Kind::notHandled}, {-18, Kind::notHandled},
    };
    for (const auto& [number, kind] : rows) {
        const auto f = macroFailureOf(number, "AppleEvent text");
        EXPECT_EQ(f.kind, kind) << number;
        EXPECT_EQ(f.number, number);
        EXPECT_EQ(f.message, "AppleEvent text");
    }
}

TEST(MacroFailureTableTest, UnknownNumbersAreOtherUnlessTheProgramSpeaksOfAMacro) {
    EXPECT_EQ(macroFailureOf(-50, "Parameter error.").kind, Kind::other);
    EXPECT_EQ(macroFailureOf(0, std::nullopt).kind, Kind::other);
    EXPECT_EQ(macroFailureOf(12345, std::nullopt).kind, Kind::other);
    EXPECT_EQ(macroFailureOf(-601, "").kind, Kind::other);       // beside a listed number
    EXPECT_EQ(macroFailureOf(-1707, "").kind, Kind::other);
    EXPECT_EQ(macroFailureOf(-2753, "The MACRO could not be found.").kind, Kind::notHandled);
    EXPECT_EQ(macroFailureOf(-2753, "Makro fehlt").kind, Kind::other);
    // A listed number is decided by the number even when the text names a macro.
    EXPECT_EQ(macroFailureOf(-1712, "The macro took too long").kind, Kind::timedOut);
}

TEST(MacroReplyReadingTest, ASendErrorDecidesFirst) {
    MacroSendReading r;
    r.sendError = MacroSendReading::SendError{-600, true, "Application isn't running."};
    r.errorNumber = -1708;
    r.direct = "OK|1";
    const auto reply = macroReplyFrom(r);
    ASSERT_TRUE(reply.failure);
    EXPECT_EQ(reply.failure->kind, Kind::notRunning);
    EXPECT_EQ(reply.failure->number, -600);
    EXPECT_EQ(reply.failure->message, "Application isn't running.");
    EXPECT_EQ(reply.direct, std::nullopt);
}

TEST(MacroReplyReadingTest, ACodeFromAnotherDomainOrOutOfRangeDecidesNothing) {
    MacroSendReading r;
    r.sendError = MacroSendReading::SendError{-1708, false, "Cocoa error"};
    EXPECT_EQ(macroReplyFrom(r).failure->kind, Kind::other);
    EXPECT_EQ(macroReplyFrom(r).failure->number, -1708);
    // 2^32 - 600 would wrap to -600 if cut to 32 bits.
    r.sendError = MacroSendReading::SendError{4294966696LL, true, std::nullopt};
    const auto wide = macroReplyFrom(r).failure;
    EXPECT_EQ(wide->kind, Kind::other);
    EXPECT_EQ(wide->number, std::numeric_limits<int>::max());
    r.sendError = MacroSendReading::SendError{-(1LL << 40), true, std::nullopt};
    EXPECT_EQ(macroReplyFrom(r).failure->number, std::numeric_limits<int>::min());
}

TEST(MacroReplyReadingTest, TheRepliesErrorNumberOrElseItsText) {
    MacroSendReading r;
    r.errorNumber = -1708;
    r.direct = "OK|ignored";
    auto reply = macroReplyFrom(r);
    ASSERT_TRUE(reply.failure);
    EXPECT_EQ(reply.failure->kind, Kind::notHandled);
    EXPECT_EQ(reply.failure->message, std::nullopt);
    EXPECT_EQ(reply.direct, std::nullopt);

    r.errorNumber = 0; // zero is no error: the answer stands
    r.errorString = "no error";
    reply = macroReplyFrom(r);
    EXPECT_EQ(reply.failure, std::nullopt);
    EXPECT_EQ(reply.direct, "OK|ignored");

    r = {};
    reply = macroReplyFrom(r);
    EXPECT_EQ(reply.failure, std::nullopt);
    EXPECT_EQ(reply.direct, std::nullopt);
}

// The table's kinds, through the bridge, give the user the sentences they must.
class MacTableThroughTheBridgeTest : public test::CoreTest {
protected:
    std::string run(MacroSendReading reading) {
        transport->respond = [reading](const auto&) { return macroReplyFrom(reading); };
        SerialQueue caller("test.caller");
        return caller.syncValue([&] { return ppt.run("SCBT_Version").text(); });
    }
    static MacroSendReading errn(std::int32_t n, std::optional<std::string> text = std::nullopt) {
        MacroSendReading r;
        r.errorNumber = n;
        r.errorString = std::move(text);
        return r;
    }
};

TEST_F(MacTableThroughTheBridgeTest, RepliesBecomeTheUsersSentences) {
    const std::string addin = "ERR|The Scribbet add-in is not loaded in PowerPoint yet, so there was nothing to run "
                              "(PowerPoint error ";
    EXPECT_EQ(run(errn(-1708)), addin + "-1708).");
    EXPECT_EQ(run(errn(-2700, "Macro SCBT_Version not found")), addin + "-2700).");
    EXPECT_EQ(run(errn(-2700, "Something broke")), "ERR|Something broke (-2700)");
    EXPECT_EQ(run(errn(-2700)), "ERR|unknown error (-2700)");
    EXPECT_EQ(run(errn(-1743)).rfind("ERR|macOS is blocking Scribbet", 0), 0u);
    EXPECT_EQ(run(errn(-128)), "ERR|Cancelled.");
    MacroSendReading ok;
    ok.errorNumber = 0;
    ok.direct = "OK|1.2";
    EXPECT_EQ(run(ok), "OK|1.2");
    EXPECT_EQ(run(MacroSendReading{}), "ERR|PowerPoint did not answer.");
}

TEST_F(MacTableThroughTheBridgeTest, SendFailuresBecomeTheUsersSentences) {
    MacroSendReading gone;
    gone.sendError = MacroSendReading::SendError{-609, true, "Connection is invalid."};
    EXPECT_EQ(run(gone).rfind("ERR|PowerPoint is not running (or has just quit).", 0), 0u);
    MacroSendReading slow;
    slow.sendError = MacroSendReading::SendError{-1712, true, "AppleEvent timed out."};
    EXPECT_EQ(run(slow).rfind("ERR|PowerPoint took longer than a minute to answer.", 0), 0u);
}

} // namespace
