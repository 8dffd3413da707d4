// Measurements by the add-in that fail: how often the layer asks again, and how often it
// says so in the log.
#include <thread>

#include "layer_fixture.hpp"
#include "support/slide_editor.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlayMeasureTest : public test::PaneLayerTest {
protected:
    void openInPaneMode() {
        PaneLayerTest::openInPaneMode();
        ASSERT_TRUE(overlay->host());
    }
    // The add-in answers every call with this error (0: it answers with geometry again).
    void failWith(int number, std::string text = "") {
        std::lock_guard lock(whereMutex);
        failure = number;
        failureText = std::move(text);
    }
    int linesStartingWith(const std::string& prefix) {
        const auto lines = logged();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.starts_with(prefix);
        }));
    }
    ~OverlayMeasureTest() override { quiesce(); }
    void SetUp() override {
        transport->respond = [this](const fake::FakeMacroTransport::Sent&) {
            std::lock_guard lock(whereMutex);
            if (failure == 0) return fake::FakeMacroTransport::direct(where);
            // The two failures these tests use: the add-in not loaded, and automation denied.
            const auto kind = failure == -1743 ? MacroFailureKind::denied : MacroFailureKind::notHandled;
            return fake::FakeMacroTransport::failing(kind, failure,
                                                     failureText.empty() ? std::nullopt : std::optional(failureText));
        };
    }

    int failure = 0;
    std::string failureText;
};

TEST_F(OverlayMeasureTest, PaneModeAsksAFailingAddinAboutOnceASecondAndLogsItOnce) {
    failWith(-1708, "The add-in is not loaded");
    openInPaneMode();
    run(3s);
    // The first ask 0.35 s after opening, then one a second after each failure came back.
    EXPECT_GE(whereCalls(), 3);
    EXPECT_LE(whereCalls(), 4);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: "), 1);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: The add-in is not loaded (-1708)"), 1);
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_TRUE(overlay->host()); // the pane still leads
}

TEST_F(OverlayMeasureTest, AChangedFailureIsLoggedAgainAndSoIsOneAfterARecovery) {
    failWith(-1708);
    openInPaneMode();
    run(2500ms);
    failWith(-1743, "Not authorised to send Apple events");
    run(2500ms);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: unknown error (-1708)"), 1);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: Not authorised to send Apple events (-1743)"), 1);

    failWith(0); // it works again: nothing to say, the measurement is used
    const int before = whereCalls();
    run(1500ms);
    EXPECT_GT(whereCalls(), before);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: "), 2);
    failWith(-1743, "Not authorised to send Apple events");
    run(2500ms);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: Not authorised to send Apple events (-1743)"), 2);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: "), 3);
}

TEST_F(OverlayMeasureTest, APageReplyThatCannotBeReadIsRetriedAboutOnceASecondWithoutALine) {
    setWhere("OK|not geometry");
    openInPaneMode();
    run(3s);
    EXPECT_GE(whereCalls(), 3);
    EXPECT_LE(whereCalls(), 4);
    EXPECT_EQ(linesStartingWith("SCBT_Where"), 0);
}

TEST_F(OverlayMeasureTest, AddinModeLogsARepeatedFailureOnceAndEachNewLayerAgain) {
    failWith(-1708);
    openReady(slideGeom());
    workspace->front = FrontApp{"com.microsoft.Powerpoint", false};
    for (int i = 0; i < 5; ++i) {
        input->clickElsewhere(); // each click in the program asks again, 0.3 s later
        run(400ms);
    }
    EXPECT_GE(whereCalls(), 5);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: "), 1);

    openReady(slideGeom());
    run(400ms);
    EXPECT_EQ(linesStartingWith("SCBT_Where failed: "), 2);
}

TEST_F(OverlayMeasureTest, OtherCallersOfTheProgramStillLogEveryFailure) {
    failWith(-1708);
    std::thread caller([this] {
        ppt.run("SCBT_Theme");
        ppt.run("SCBT_Theme");
    });
    caller.join();
    EXPECT_EQ(linesStartingWith("SCBT_Theme failed: unknown error (-1708)"), 2);
    PPT::Attempt quiet;
    std::thread([&] { quiet = ppt.attempt("SCBT_Theme"); }).join();
    EXPECT_EQ(quiet.failure, "SCBT_Theme failed: unknown error (-1708)");
    EXPECT_EQ(quiet.reply.text().rfind("ERR|The Scribbet add-in is not loaded", 0), 0u) << quiet.reply.text();
    EXPECT_EQ(linesStartingWith("SCBT_Theme failed: "), 2);
}

} // namespace
