// Answers that come back after the layer they were asked for went: the add-in answering
// late, a layer released or opened anew meanwhile.
#include <future>
#include <thread>

#include "layer_fixture.hpp"

using namespace scribbet;
using namespace std::chrono_literals;

namespace {

class OverlayLateAnswerTest : public test::LayerTest {
protected:
    ~OverlayLateAnswerTest() override {
        if (!letGoAlready) gate.set_value(); // a failed test must not leave the add-in's queue held
    }
    // The add-in holds every answer until let go, then gives `reply`.
    void holdAnswers(std::function<MacroEventReply()> reply) {
        transport->respond = [gate = gate.get_future().share(), reply](const fake::FakeMacroTransport::Sent&) {
            gate.wait();
            return reply();
        };
    }
    // Opens and lets the ticks run until the add-in has been asked, without waiting for it.
    void openAndAsk() {
        openReady(slideGeom());
        const int before = whereCalls();
        loop->advance(400ms);
        for (int i = 0; i < 500 && whereCalls() == before; ++i) std::this_thread::sleep_for(1ms);
        ASSERT_EQ(whereCalls(), before + 1);
    }
    void letGo() {
        letGoAlready = true;
        gate.set_value();
        measureQueue.sync([] {});
        loop->runPending();
    }
    int linesStartingWith(const std::string& prefix) {
        const auto lines = logged();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.starts_with(prefix);
        }));
    }

    std::promise<void> gate;
    bool letGoAlready = false;
};

TEST_F(OverlayLateAnswerTest, APendingMeasurementDoesNotKeepAReleasedLayerAndItsAnswerDoesNothing) {
    holdAnswers([] { return fake::FakeMacroTransport::failing(MacroFailureKind::notHandled, -1708, "late"); });
    openAndAsk();
    std::weak_ptr<Overlay> released = overlay;
    releaseLayer();
    EXPECT_TRUE(released.expired());
    letGo();
    EXPECT_EQ(linesStartingWith("SCBT_Where failed"), 0);
}

TEST_F(OverlayLateAnswerTest, AnAnswerForAnEarlierOpeningIsNotAppliedToTheNextOne) {
    holdAnswers([] {
        return fake::FakeMacroTransport::direct("OK|960|540|300|200|1260|740|100|0|0|1400|880|258|0|100");
    });
    openAndAsk();
    openReady(slideGeom()); // the first layer goes, its question still open
    const int sent = static_cast<int>(scriptsSent().size());
    letGo();
    EXPECT_EQ(overlay->geom()->rect.x, 100);
    EXPECT_EQ(static_cast<int>(scriptsSent().size()), sent); // no "geom" nor "slide" for the page
    EXPECT_EQ(linesStartingWith("PowerPoint shows another slide now"), 0);

    // The new layer asks for itself and uses its own answer.
    const int calls = whereCalls();
    run(400ms);
    EXPECT_EQ(whereCalls(), calls + 1);
    EXPECT_EQ(overlay->geom()->rect.x, 300);
}

TEST_F(OverlayLateAnswerTest, EachOpeningStartsFromNothingOfTheLastOne) {
    openReady(slideGeom());
    factory->web->post({{"type", "regions"}, {"rects", {{10, 10, 100, 40}}}, {"all", true}});
    overlay->suspend(true);
    factory->web->crash();
    ASSERT_FALSE(overlay->sentGeom().empty());

    overlay->open(slideGeom(), std::nullopt, "");
    EXPECT_FALSE(overlay->ready());
    EXPECT_FALSE(overlay->suspended());
    EXPECT_TRUE(overlay->regions().empty());
    EXPECT_FALSE(overlay->captureAll());
    EXPECT_TRUE(overlay->sentGeom().empty());
    EXPECT_TRUE(factory->panel->visible);
    // Three crashes more are survived: the count began again.
    factory->web->post({{"type", "ready"}});
    for (int i = 0; i < 3; ++i) {
        factory->web->crash();
        factory->web->post({{"type", "ready"}});
    }
    EXPECT_TRUE(overlay->isOpen());

    overlay->close(false);
    EXPECT_FALSE(overlay->geom());
    EXPECT_FALSE(overlay->panel());
    EXPECT_TRUE(overlay->address().empty());
    EXPECT_FALSE(overlay->remeasureAt());
}

} // namespace
