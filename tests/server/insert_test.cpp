// Placing drawings: several styles in one request, the whole placing bounded in time, and
// a placing asked for again answered instead of placed twice.
#include <gtest/gtest.h>

#include <future>
#include <map>

#include "support/core_fixture.hpp"
#include "support/slide_editor.hpp"

using namespace scribbet;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string oneShape = "OK|1\n0\tF\t300\t1\t2\t3\t4\t0\t0\t0";

// A program whose add-in is scripted by macro name; each reply may take (virtual) time.
class InsertTest : public test::CoreTest {
protected:
    InsertTest() {
        ax->isTrusted = false;
        transport->respond = [this](const fake::FakeMacroTransport::Sent& s) {
            const std::string name = s.name.substr(9);
            std::function<std::string(const fake::FakeMacroTransport::Sent&)> script;
            {
                std::lock_guard lock(mutex);
                if (scripts.count(name)) script = scripts[name];
            }
            if (script) return fake::FakeMacroTransport::direct(script(s));
            return fake::FakeMacroTransport::direct(name == "SCBT_Version" ? "OK|dev" : oneShape);
        };
    }
    ~InsertTest() override { quiesce(); }
    void script(const std::string& name, std::function<std::string(const fake::FakeMacroTransport::Sent&)> f) {
        std::lock_guard lock(mutex);
        scripts[name] = std::move(f);
    }
    // An insert as the server answers it, on a thread of its own, while the main queue runs.
    std::future<json> start(const json& body) {
        return std::async(std::launch::async, [this, body] { return api.insert(body); });
    }
    json finish(std::future<json>& f, const std::function<void()>& meanwhile = {}) {
        const bool ready = loop->runUntil([&] {
            if (meanwhile) meanwhile();
            return f.wait_for(0s) == std::future_status::ready;
        }, 10s);
        EXPECT_TRUE(ready) << "the insert did not answer";
        return ready ? f.get() : json();
    }
    json insert(const json& body) {
        auto f = start(body);
        return finish(f);
    }
    std::vector<fake::FakeMacroTransport::Sent> inserts() {
        std::vector<fake::FakeMacroTransport::Sent> out;
        for (auto& s : transport->sentSoFar()) {
            if (s.name.ends_with("SCBT_Insert")) out.push_back(s);
        }
        return out;
    }
    std::shared_ptr<fake::FakeLayerFactory> openLayer() {
        screens->set({{0, 0, 1440, 900}});
        overlay->open(*Geom::from("960|540|0|0|960|540", {}, std::nullopt), std::nullopt, "");
        return factory;
    }
    long count(const std::string& line) {
        const auto lines = logged();
        return std::count(lines.begin(), lines.end(), line);
    }
    // Waits in real time until the log holds a line starting with `prefix`.
    bool waitLogged(const std::string& prefix) {
        return loop->runUntil([&] {
            const auto lines = logged();
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
        }, 5s);
    }

    std::mutex mutex;
    std::map<std::string, std::function<std::string(const fake::FakeMacroTransport::Sent&)>> scripts;
};

// Holds the program's answer until opened; opens by itself on the way out of a test, so that
// a failing test never leaves a placing waiting (declare it after the futures that wait).
struct Gate {
    std::promise<void> promise;
    std::shared_future<void> opened = promise.get_future().share();
    std::once_flag once;
    void open() { std::call_once(once, [&] { promise.set_value(); }); }
    ~Gate() { open(); }
};

// Three styles in stacking order, as the page sends them.
json threeStyles(const std::string& id = "") {
    json body = {{"slide", "257"},
                 {"parts",
                  {{{"path", "M 0 0 L 1 1"}, {"stroke", "theme:5"}, {"width", 2}},
                   {{"path", "M 2 2 L 3 3 Z"}, {"stroke", "#E0282E"}, {"fill", "#E0282E"}, {"replace", "41"}},
                   {{"path", "M 4 4 L 5 5"}, {"stroke", "#FFC00080"}, {"width", 14}}}}};
    if (!id.empty()) body["id"] = id;
    return body;
}

// The add-in gives each new shape the next identifier.
std::function<std::string(const fake::FakeMacroTransport::Sent&)> numbered(std::atomic<int>& next) {
    return [&next](const fake::FakeMacroTransport::Sent&) {
        return "OK|1\n0\tFreeform\t" + std::to_string(next++) + "\t1\t2\t3\t4\t0\t0\t0";
    };
}

TEST_F(InsertTest, SeveralStylesArePlacedInOrderAndToldPartByPart) {
    std::atomic<int> next = 300;
    script("SCBT_Insert", numbered(next));
    const json answer = insert(threeStyles());
    EXPECT_EQ(answer["ok"], true);
    EXPECT_EQ(answer["msg"], "Placed on the slide as a PowerPoint freeform.");
    ASSERT_EQ(answer["parts"].size(), 3u) << answer.dump();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(answer["parts"][i]["shapes"][0]["id"], 300 + i);
    EXPECT_FALSE(answer.contains("shapes"));
    const auto sent = inserts();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].args, (std::vector<std::string>{"M 0 0 L 1 1", "theme:5", "2", "none", "", "257", ""}));
    EXPECT_EQ(sent[1].args, (std::vector<std::string>{"M 2 2 L 3 3 Z", "#E0282E", "1", "#E0282E", "41", "257", ""}));
    EXPECT_EQ(sent[2].args, (std::vector<std::string>{"M 4 4 L 5 5", "#FFC00080", "14", "none", "", "257", ""}));
    EXPECT_EQ(sent[0].timeout, 300s);
    EXPECT_EQ(count("Placed 1 path(s) on the slide."), 3);
}

TEST_F(InsertTest, WithAccessibilitySeveralStylesWaitForTheViewOnce) {
    ax->isTrusted = true;
    test::SlideEditor editor({100, 150, 1200, 700}, 2400, 1400);
    test::programWithEditor(*ax, 4242, {0, 0, 1400, 880}, editor);
    editor.move(0.25, 0.25);
    const Rect before = editor.layout->frame();
    script("SCBT_Insert", [&](const auto&) {
        editor.move(0.9, 0.9); // the program scrolls while it adds
        return oneShape;
    });
    Instant t = clock->now();
    ASSERT_EQ(insert({{"path", "M 0 0 L 1 1"}})["ok"], true);
    const Duration one = clock->now() - t;
    EXPECT_GE(one, 450ms);

    editor.move(0.25, 0.25);
    t = clock->now();
    ASSERT_EQ(insert(threeStyles())["ok"], true);
    EXPECT_LT(clock->now() - t, one + 100ms) << "three styles wait for the view as long as one";
    EXPECT_NEAR(editor.layout->frame().x, before.x, 0.75);
    EXPECT_NEAR(editor.layout->frame().y, before.y, 0.75);
}

// A replaced shape the program would not remove stays on the slide: the drawing is placed, and
// the user is told which shapes to delete by hand, in the answer and in the log.
TEST_F(InsertTest, ReplacedShapesTheProgramKeptAreToldNotPassedOverInSilence) {
    script("SCBT_Insert", [](const fake::FakeMacroTransport::Sent&) { return oneShape + "\nkept\t41"; });
    json a = insert({{"path", "M 0 0 L 1 1"}, {"stroke", "#000000"}, {"replace", "41"}, {"slide", "257"}});
    EXPECT_EQ(a["ok"], true);
    ASSERT_EQ(a["shapes"].size(), 1u); // the kept line is no placed shape
    EXPECT_EQ(a["kept"], json::array({"41"}));
    EXPECT_EQ(a["msg"], "Placed on the slide as a PowerPoint freeform. PowerPoint would not remove one shape this "
                        "drawing replaces; it is still on the slide, to delete by hand.");
    EXPECT_EQ(count("PowerPoint kept the shape 41 that the drawing replaces."), 1);

    script("SCBT_Insert", [](const fake::FakeMacroTransport::Sent&) { return std::string("OK|0\nkept\t41\nkept\t42"); });
    a = insert(threeStyles());
    EXPECT_EQ(a["ok"], true);
    EXPECT_EQ(a["kept"], json::array({"41", "42", "41", "42", "41", "42"}));
    EXPECT_NE(a["msg"].get<std::string>().find("would not remove 6 shapes"), std::string::npos);
}

// Slide identifiers repeat from one presentation to the next: every part names the
// presentation the layer was opened over, also when the layer has closed since (its page's
// placing may still be on its way), until a layer opens over another one. The add-in's
// refusal for a presentation that has gone reaches the page as it is.
TEST_F(InsertTest, EveryPartNamesThePresentationTheLayerWasOpenedOver) {
    screens->set({{0, 0, 1440, 900}});
    const std::string fields = "960|540|0|0|960|540|100|0|0|1280|820|256|1|100|";
    overlay->open(*Geom::from(fields + "/Talks/Q3, 2026.pptx", {}, std::nullopt), std::nullopt, "");
    ASSERT_TRUE(overlay->isOpen());
    // A later answer from another presentation's window moves the layer, not its drawing.
    overlay->realign(fields + "Presentation2");
    EXPECT_EQ(overlay->geom()->presentation, "/Talks/Q3, 2026.pptx");
    EXPECT_EQ(insert(threeStyles())["ok"], true);
    overlay->close(false);
    EXPECT_EQ(insert({{"path", "M 0 0 L 1 1"}, {"slide", "256"}})["ok"], true);
    auto sent = inserts();
    ASSERT_EQ(sent.size(), 4u);
    for (const auto& s : sent) {
        ASSERT_EQ(s.args.size(), 7u);
        EXPECT_EQ(s.args[6], "/Talks/Q3, 2026.pptx");
    }

    overlay->open(*Geom::from(fields + "Presentation2", {}, std::nullopt), std::nullopt, "");
    script("SCBT_Insert", [](const auto&) {
        return std::string("ERR|The presentation this drawing was made on is no longer open in PowerPoint, so "
                           "nothing was placed.");
    });
    const json refused = insert({{"path", "M 0 0 L 1 1"}, {"slide", "256"}});
    EXPECT_EQ(inserts().back().args[6], "Presentation2");
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(refused["msg"], "The presentation this drawing was made on is no longer open in PowerPoint, so "
                              "nothing was placed.");

    // A layer opened from an answer that names none sends none: the add-in's active one then.
    overlay->open(*Geom::from("960|540|0|0|960|540", {}, std::nullopt), std::nullopt, "");
    insert({{"path", "M 0 0 L 1 1"}});
    EXPECT_EQ(inserts().back().args[6], "");
}

TEST_F(InsertTest, APartThatFailsStopsTheRestAndKeepsWhatWasPlaced) {
    std::atomic<int> calls = 0;
    script("SCBT_Insert", [&](const auto&) {
        return ++calls == 2 ? std::string("ERR|A colour is not one the add-in knows.")
                            : oneShape;
    });
    const json answer = insert(threeStyles());
    const json shape = {{"k", 0}, {"name", "F"}, {"id", 300}, {"l", 1}, {"t", 2},
                        {"w", 3}, {"h", 4}, {"rot", 0}, {"fh", false}, {"fv", false}};
    EXPECT_EQ(answer, (json{{"ok", false},
                            {"msg", "A colour is not one the add-in knows."},
                            {"parts", json::array({{{"shapes", json::array({shape})}}})}}));
    EXPECT_EQ(inserts().size(), 2u) << "the part after the failure is not sent";
    EXPECT_EQ(logged().back(), "Place FAILED: A colour is not one the add-in knows.");

    // The first part failing: nothing placed, "parts" empty.
    script("SCBT_Insert", [&](const auto&) { return std::string("ERR|The slide is locked."); });
    EXPECT_EQ(insert(threeStyles()), (json{{"ok", false}, {"msg", "The slide is locked."}, {"parts", json::array()}}));
}

TEST_F(InsertTest, AfterAPartlyFailedPlacingTheViewIsPutBack) {
    ax->isTrusted = true;
    test::SlideEditor editor({100, 150, 1200, 700}, 2400, 1400);
    test::programWithEditor(*ax, 4242, {0, 0, 1400, 880}, editor);
    editor.move(0.25, 0.25);
    const Rect before = editor.layout->frame();
    std::atomic<int> calls = 0;
    script("SCBT_Insert", [&](const auto&) {
        editor.move(0.9, 0.9);
        return ++calls == 2 ? std::string("ERR|A colour is not one the add-in knows.") : std::string("OK|0");
    });
    const Instant t = clock->now();
    EXPECT_EQ(insert(threeStyles())["parts"].size(), 1u);
    EXPECT_NEAR(editor.layout->frame().y, before.y, 0.75);
    EXPECT_GE(clock->now() - t, 450ms);

    // Nothing placed: nothing to wait for.
    calls = 1;
    const Instant u = clock->now();
    EXPECT_EQ(insert(threeStyles())["parts"].size(), 0u);
    EXPECT_LT(clock->now() - u, 450ms);
}

TEST_F(InsertTest, APartlyFailedPlacingReleasesTheLayerInsteadOfClosingIt) {
    auto factory = openLayer();
    std::vector<bool> visible;
    script("SCBT_Insert", [&](const auto&) {
        visible.push_back(factory->panel->visible);
        return visible.size() == 3 ? std::string("ERR|The slide is locked.") : std::string("OK|0");
    });
    json body = threeStyles();
    body["close"] = true;
    EXPECT_EQ(insert(body)["parts"].size(), 2u);
    EXPECT_EQ(visible, (std::vector<bool>{false, false, false}));
    loop->runPending();
    EXPECT_TRUE(overlay->isOpen());
    EXPECT_FALSE(overlay->suspended());
    EXPECT_TRUE(factory->panel->visible);
}

TEST_F(InsertTest, SeveralPartsWithCloseCloseTheLayerOnceAllArePlaced) {
    auto factory = openLayer();
    std::vector<bool> visible;
    script("SCBT_Insert", [&](const auto&) {
        visible.push_back(factory->panel->visible);
        return std::string("OK|0");
    });
    json body = threeStyles();
    body["close"] = true;
    EXPECT_EQ(insert(body)["ok"], true);
    EXPECT_EQ(visible, (std::vector<bool>{false, false, false})); // hidden for the whole placing
    loop->runPending();
    EXPECT_FALSE(overlay->isOpen());
}

TEST_F(InsertTest, ARequestWithAPartThatHoldsNothingPlacesNothing) {
    json oneEmpty = threeStyles();
    oneEmpty["parts"][1] = {{"path", " "}, {"replace", ","}};
    json notAMap = threeStyles();
    notAMap["parts"][2] = "M 0 0 L 1 1";
    for (const json& body : {json{{"parts", json::array()}}, json{{"parts", "M 0 0 L 1 1"}},
                             json{{"parts", nullptr}, {"path", "M 0 0 L 1 1"}}, oneEmpty, notAMap}) {
        EXPECT_EQ(insert(body), (json{{"ok", false}, {"msg", "Nothing to place."}})) << body.dump();
    }
    EXPECT_TRUE(inserts().empty());
    // A removal is a part like any other.
    EXPECT_EQ(insert({{"parts", {{{"path", ""}, {"replace", "300"}}}}})["ok"], true);
    EXPECT_EQ(inserts().at(0).args[4], "300");
}

// ---- Placed at most once -------------------------------------------------------------------------

TEST_F(InsertTest, APlacingAskedForAgainIsAnsweredFromMemory) {
    std::atomic<int> next = 300;
    script("SCBT_Insert", numbered(next));
    const json first = insert(threeStyles("p-1"));
    ASSERT_EQ(first["ok"], true);
    EXPECT_EQ(insert(threeStyles("p-1")), first);
    EXPECT_EQ(inserts().size(), 3u) << "nothing sent again";
    EXPECT_EQ(count("Placing p-1 was asked for again - answered from memory"), 1);

    // One style, as the page used to send it: the same.
    const json single = {{"id", "p-2"}, {"path", "M 0 0 L 9 9"}};
    const json once = insert(single);
    EXPECT_EQ(once["shapes"][0]["id"], 303);
    EXPECT_EQ(insert(single), once);
    EXPECT_EQ(inserts().size(), 4u);

    // A failure is remembered too: its first parts were placed, and stay placed once.
    std::atomic<int> calls = 0;
    script("SCBT_Insert", [&](const auto&) {
        return ++calls == 2 ? std::string("ERR|The slide is locked.") : oneShape;
    });
    const json failed = insert(threeStyles("p-3"));
    EXPECT_EQ(failed["parts"].size(), 1u);
    EXPECT_EQ(insert(threeStyles("p-3")), failed);
    EXPECT_EQ(inserts().size(), 6u);

    // Another drawing under a name already used is refused, and places nothing.
    json other = threeStyles("p-1");
    other["parts"][0]["stroke"] = "theme:6";
    EXPECT_EQ(insert(other)["ok"], false);
    EXPECT_EQ(inserts().size(), 6u);
    EXPECT_EQ(insert(threeStyles("p-1")), first);

    // Without a usable identifier, each request is placed (as before there were any).
    for (const json& id : {json(7), json(""), json(std::string(129, 'a')), json("two\nlines")}) {
        json body = {{"id", id}, {"path", "M 0 0 L 1 1"}};
        insert(body);
        insert(body);
    }
    EXPECT_EQ(inserts().size(), 14u);
}

TEST_F(InsertTest, AskedForAgainWhileUnderWayItWaitsForTheFirstAndPlacesOnce) {
    std::future<json> first, second;
    Gate gate;
    script("SCBT_Insert", [released = gate.opened](const auto&) {
        released.wait(); // the program is still working when the page asks again
        return oneShape;
    });
    first = start(threeStyles("slow"));
    ASSERT_TRUE(loop->runUntil([&] { return inserts().size() == 1; }));
    second = start(threeStyles("slow"));
    ASSERT_TRUE(waitLogged("Placing slow was asked for again while under way - waiting for it"));
    gate.open();
    const json a = finish(first), b = finish(second);
    EXPECT_EQ(a["ok"], true);
    EXPECT_EQ(b, a);
    EXPECT_EQ(inserts().size(), 3u);
}

TEST_F(InsertTest, APlacingTheProgramIsStillAtIsToldPendingAndItsOutcomeIsTheNextAnswer) {
    std::future<json> first, second;
    Gate gate;
    script("SCBT_Insert", [released = gate.opened](const auto&) {
        released.wait();
        return oneShape;
    });
    const json body = {{"id", "hung"}, {"path", "M 0 0 L 1 1"}};
    const Instant sent = clock->now();
    first = start(body);
    ASSERT_TRUE(loop->runUntil([&] { return inserts().size() == 1; }));
    second = start(body);
    ASSERT_TRUE(waitLogged("Placing hung was asked for again while under way"));
    const json pending = {{"ok", false}, {"pending", true}, {"msg", "PowerPoint is still placing the drawing."}};
    // Never "failed" while the macro may still run: both are told it is under way, by the bound.
    EXPECT_EQ(finish(first, [&] { clock->sleepFor(250ms); }), pending);
    EXPECT_LT(clock->now() - sent, 90s) << "before the page stops waiting";
    EXPECT_EQ(finish(second, [&] { clock->sleepFor(250ms); }), pending);

    // The program places it at last: asked again, the page hears that, and nothing is placed twice.
    auto third = start(body);
    gate.open();
    const json placed = finish(third);
    EXPECT_EQ(placed["ok"], true);
    EXPECT_EQ(insert(body), placed);
    EXPECT_EQ(inserts().size(), 1u);
}

TEST_F(InsertTest, AMacroThatTimesOutLeavesTheOutcomeUnknownNeverFailed) {
    script("SCBT_Insert", [](const auto&) -> std::string { throw std::logic_error("not asked"); });
    transport->respond = [](const fake::FakeMacroTransport::Sent& s) {
        if (s.name.ends_with("SCBT_Version")) return fake::FakeMacroTransport::direct("OK|dev");
        return fake::FakeMacroTransport::failing(MacroFailureKind::timedOut, -1712, "AppleEvent timed out.");
    };
    const json body = {{"id", "lost"}, {"parts", {{{"path", "M 0 0 L 1 1"}}, {{"path", "M 2 2 L 3 3"}}}}};
    const json answer = insert(body);
    EXPECT_EQ(answer["ok"], false);
    EXPECT_EQ(answer["unknown"], true);
    EXPECT_EQ(answer["parts"], json::array());
    EXPECT_EQ(insert(body), answer) << "asked again, the same truth; not placed a second time";
    EXPECT_EQ(inserts().size(), 1u) << "the part after the unknown one is not sent";
    EXPECT_TRUE(waitLogged("Place unconfirmed: PowerPoint did not answer within five minutes"));
}

// ---- Bounded in time ------------------------------------------------------------------------------

TEST_F(InsertTest, ThePlacingsTimeCountsFromArrivalAndABegunPartIsWaitedFor) {
    script("SCBT_Version", [this](const auto&) {
        clock->sleepFor(30s);
        return std::string("OK|dev");
    });
    EXPECT_EQ(insert({{"path", "M 0 0 L 1 1"}})["ok"], true);
    ASSERT_EQ(inserts().size(), 1u);
    EXPECT_EQ(inserts()[0].timeout, 300s) << "a begun part gets all the time the program may take";

    // The whole of the time gone before the first part: it is not sent at all.
    addin.reset();
    script("SCBT_Version", [this](const auto&) {
        clock->sleepFor(81s);
        return std::string("OK|dev");
    });
    const json again = {{"id", "late"}, {"path", "M 0 0 L 1 1"}};
    const json first = insert(again);
    const json busy = {{"ok", false}, {"msg", "PowerPoint was busy for too long, so Scribbet stopped placing."}};
    EXPECT_TRUE(first == busy || first["pending"] == true) << first.dump();
    EXPECT_TRUE(waitLogged("Place FAILED: PowerPoint was busy for too long, so Scribbet stopped placing."));
    EXPECT_EQ(inserts().size(), 1u);
    // Nothing reached the slide: the name is free, and asked again it is placed.
    addin.reset();
    script("SCBT_Version", [](const auto&) { return std::string("OK|dev"); });
    EXPECT_EQ(insert(again)["ok"], true);
}

TEST_F(InsertTest, SlowPartsStopAtTheBoundAndSayWhatWasPlaced) {
    std::atomic<int> calls = 0;
    script("SCBT_Insert", [&](const auto&) {
        const int n = ++calls;
        clock->sleepFor(n == 1 ? 50s : 31s);
        return "OK|1\n0\tF\t" + std::to_string(300 + n) + "\t0\t0\t0\t0\t0\t0\t0";
    });
    const json body = threeStyles("slow-parts");
    const json first = insert(body);
    ASSERT_TRUE(waitLogged("Place FAILED: PowerPoint was busy for too long"));
    const json answer = insert(body);
    EXPECT_TRUE(first == answer || first["pending"] == true) << first.dump();
    EXPECT_EQ(answer["ok"], false);
    EXPECT_EQ(answer["msg"], "PowerPoint was busy for too long, so Scribbet stopped placing.");
    ASSERT_EQ(answer["parts"].size(), 2u);
    EXPECT_EQ(answer["parts"][1]["shapes"][0]["id"], 302);
    EXPECT_EQ(inserts().size(), 2u);
}

TEST_F(InsertTest, AProgramQueueHeldByOthersDoesNotHoldTheAnswer) {
    // Other requests hold the program (a slide picture, the theme): the placing's time runs on.
    std::future<json> f;
    Gate gate;
    ppt.queue().async([released = gate.opened] { released.wait(); });
    f = start({{"path", "M 0 0 L 1 1"}});
    const Instant t = clock->now();
    const json answer = finish(f, [&] { clock->sleepFor(250ms); });
    EXPECT_EQ(answer["msg"], "PowerPoint was busy for too long, so Scribbet stopped placing.");
    EXPECT_LT(clock->now() - t, 90s);
    gate.open();
    ppt.queue().sync([] {});
    EXPECT_TRUE(inserts().empty()) << "a placing that gave up never reaches the add-in later";
}

// ---- The memory itself ----------------------------------------------------------------------------

TEST_F(InsertTest, TheMemoryKeepsEveryYoungAnswerWhateverTheCountAndOnlyThoseThatReachedTheSlide) {
    PlacingMemory memory(*clock, {.least = 120s, .answers = 3, .keep = std::chrono::minutes(15)});
    int placings = 0;
    // Places unless remembered, as the API does.
    auto ask = [&](const std::string& id, bool reached = true) {
        const auto begun = memory.begin(id, 1, nullptr);
        if (begun.kind != PlacingMemory::Begin::Kind::fresh) return begun.answer;
        const json answer = {{"n", ++placings}};
        memory.finish(id, answer, reached);
        return answer;
    };
    for (int i = 0; i < 40; ++i) ask("p" + std::to_string(i));
    EXPECT_EQ(memory.remembered(), 40u) << "none is young enough to be asked for again yet: all are kept";
    EXPECT_EQ(ask("p0"), (json{{"n", 1}})) << "the first of 40 is still answered, not placed again";
    clock->sleepFor(121s);
    ask("new");
    EXPECT_EQ(memory.remembered(), 3u) << "past the count, the ones older than the least time go";
    EXPECT_EQ(ask("p39"), (json{{"n", 40}}));
    EXPECT_EQ(ask("p0"), (json{{"n", 42}}));
    clock->sleepFor(std::chrono::minutes(15));
    EXPECT_EQ(ask("new"), (json{{"n", 43}})) << "expired";

    // A placing that never reached the slide is forgotten: asked for again, it is placed.
    EXPECT_EQ(ask("x", false), (json{{"n", 44}}));
    EXPECT_EQ(ask("x"), (json{{"n", 45}}));
}

TEST_F(InsertTest, MemoryWaitersHearTheEndAndAnotherDrawingUnderTheSameNameIsRefused) {
    PlacingMemory memory(*clock);
    ASSERT_EQ(memory.begin("a", 1, nullptr).kind, PlacingMemory::Begin::Kind::fresh);
    std::vector<json> heard;
    EXPECT_EQ(memory.begin("a", 1, [&](const json& j) { heard.push_back(j); }).kind,
              PlacingMemory::Begin::Kind::waiting);
    const auto other = memory.begin("a", 2, nullptr);
    EXPECT_EQ(other.kind, PlacingMemory::Begin::Kind::answered);
    EXPECT_EQ(other.answer["ok"], false);
    memory.finish("a", {{"ok", true}}, true);
    EXPECT_EQ(heard, (std::vector<json>{{{"ok", true}}}));
}

TEST(PlacingIds, AnIdTheMemoryCannotKeepIsAProblemNotNoId) {
    EXPECT_FALSE(PlacingMemory::idProblem(json::object()));
    EXPECT_FALSE(PlacingMemory::idProblem({{"id", "0f3a-b_c.d:e"}}));
    EXPECT_FALSE(PlacingMemory::idProblem({{"id", std::string(128, 'a')}}));
    for (const json& bad : {json(std::string(129, 'a')), json("two words"), json("caf\xC3\xA9"), json("a/b"), json(42),
                            json(""), json::array()}) {
        EXPECT_TRUE(PlacingMemory::idProblem({{"id", bad}})) << bad.dump();
    }
}

} // namespace

// ---- arrows: one shape with the program's arrowhead, or shaft and head for an older add-in ----

namespace {
// An arrow in red over a line, as the page sends them: the arrow's part names its arrowhead
// and what an add-in without arrowheads draws instead.
json arrowOverLine() {
    return {{"slide", "256"},
            {"parts",
             {{{"path", "M 0 0 L 1 1"}, {"stroke", "#000000"}},
              {{"path", "M 10 10 L 100 10"},
               {"stroke", "#FF0000"},
               {"width", 3},
               {"arrowhead", "triangle"},
               {"plain", {{"path", "M 10 10 L 88 10 M 100 10 L 88 15 L 88 5 Z"}, {"fill", "#FF0000"}}}},
              {{"path", "M 20 20 L 40 40"},
               {"stroke", "#FF0000"},
               {"arrowhead", "triangle"},
               {"plain", {{"path", "M 20 20 L 30 30 M 40 40 L 30 34 L 34 30 Z"}, {"fill", "#FF0000"}}}}}}};
}

long featureAsks(const std::vector<fake::FakeMacroTransport::Sent>& sent) {
    return std::count_if(sent.begin(), sent.end(), [](const auto& s) { return s.name.ends_with("SCBT_Features"); });
}
} // namespace

TEST_F(InsertTest, AnAddinWithArrowheadsGetsEachArrowAsOneLineWithItsArrowhead) {
    script("SCBT_Features", [](const auto&) { return std::string("OK|other|arrowhead"); });
    const json answer = insert(arrowOverLine());
    ASSERT_EQ(answer["ok"], true) << answer.dump();
    ASSERT_EQ(answer["parts"].size(), 3u);
    EXPECT_FALSE(answer["parts"][0].contains("arrowhead"));
    EXPECT_EQ(answer["parts"][1]["arrowhead"], true);
    EXPECT_EQ(answer["parts"][2]["arrowhead"], true);
    const auto sent = inserts();
    ASSERT_EQ(sent.size(), 3u);
    // A part without an arrowhead keeps the seven arguments an older add-in takes.
    EXPECT_EQ(sent[0].args, (std::vector<std::string>{"M 0 0 L 1 1", "#000000", "1", "none", "", "256", ""}));
    EXPECT_EQ(sent[1].args,
              (std::vector<std::string>{"M 10 10 L 100 10", "#FF0000", "3", "none", "", "256", "", "triangle"}));
    EXPECT_EQ(sent[2].args.at(7), "triangle");
    EXPECT_EQ(featureAsks(transport->sentSoFar()), 1) << "asked once a placing, before its first arrow";
}

TEST_F(InsertTest, AnAddinWithoutArrowheadsGetsShaftAndFilledHead) {
    // Unscripted, SCBT_Features answers a placing's answer: an add-in that names no arrowheads.
    for (const std::string features : {"", "ERR|The macro cannot be found."}) {
        if (!features.empty()) script("SCBT_Features", [features](const auto&) { return features; });
        const auto before = inserts().size();
        const json answer = insert(arrowOverLine());
        ASSERT_EQ(answer["ok"], true) << answer.dump();
        for (const auto& part : answer["parts"]) EXPECT_FALSE(part.contains("arrowhead")) << answer.dump();
        const auto sent = inserts();
        ASSERT_EQ(sent.size(), before + 3);
        EXPECT_EQ(sent[before + 1].args,
                  (std::vector<std::string>{"M 10 10 L 88 10 M 100 10 L 88 15 L 88 5 Z", "#FF0000", "3", "#FF0000", "",
                                            "256", ""}));
        EXPECT_EQ(sent[before + 2].args.size(), 7u);
    }
    // As PowerPoint answers for a macro the add-in does not have: the event is not handled.
    auto scripted = transport->respond;
    transport->respond = [scripted](const fake::FakeMacroTransport::Sent& s) {
        if (s.name.ends_with("SCBT_Features")) return fake::FakeMacroTransport::failing(MacroFailureKind::notHandled, -1708);
        return scripted(s);
    };
    const json unhandled = insert(arrowOverLine());
    ASSERT_EQ(unhandled["ok"], true) << unhandled.dump();
    EXPECT_FALSE(unhandled["parts"][1].contains("arrowhead"));
    EXPECT_EQ(inserts().back().args.size(), 7u);
    // An older add-in is no fault: nothing about the question is logged, only the placings.
    for (const auto& line : logged()) {
        EXPECT_TRUE(line == "Placed 1 path(s) on the slide.") << line;
    }
}

TEST_F(InsertTest, APlacingWithoutArrowsNeverAsksForFeatures) {
    ASSERT_EQ(insert(threeStyles())["ok"], true);
    json one = insert({{"path", "M 0 0 L 9 9"}, {"arrowhead", "triangle"}});
    script("SCBT_Features", [](const auto&) { return std::string("OK|arrowhead"); });
    EXPECT_FALSE(one.contains("arrowhead"));
    EXPECT_EQ(featureAsks(transport->sentSoFar()), 1); // only for the arrow
    one = insert({{"path", "M 0 0 L 9 9"}, {"arrowhead", "triangle"}});
    EXPECT_EQ(one["arrowhead"], true);
    EXPECT_EQ(inserts().back().args.size(), 8u);
}
