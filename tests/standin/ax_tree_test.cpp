// The program's accessibility tree through the wire's requests, answered in process: where
// its elements lie, which ids stay and which go stale, scroll bars that scroll, permission
// and a slow program.
#include <gtest/gtest.h>

#include <functional>
#include <future>

#include "requests.hpp"
#include "state.hpp"
#include "standin_support.hpp"

using namespace scribbet::standin;
using namespace scribbet::standin::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {
json ask(SharedModel& shared, const json& request) {
    const Handled h = handleRequest(shared, request);
    EXPECT_TRUE(h.answered);
    return h.answer;
}

json attr(SharedModel& shared, const std::string& id, const std::string& name) {
    return ask(shared, {{"op", "ax.attr"}, {"element", id}, {"name", name}});
}

json value(SharedModel& shared, const std::string& id, const std::string& name) {
    return attr(shared, id, name).value("value", json());
}

bool setValue(SharedModel& shared, const std::string& id, const json& v, const std::string& name = "AXValue") {
    return ask(shared, {{"op", "ax.set"}, {"element", id}, {"name", name}, {"value", v}}).value("ok", false);
}

void change(SharedModel& shared, const json& values) {
    ASSERT_EQ(ask(shared, {{"op", "set"}, {"values", values}})["ok"], true) << values.dump();
}

// The frame as [x, y, w, h] read from "AXPosition" and "AXSize"; null without them.
json frame(SharedModel& shared, const std::string& id) {
    const json p = value(shared, id, "AXPosition"), s = value(shared, id, "AXSize");
    if (!p.contains("point") || !s.contains("size")) return json();
    return json::array({p["point"][0], p["point"][1], s["size"][0], s["size"][1]});
}

json rectJson(const Rect& r) { return json::array({r.x, r.y, r.w, r.h}); }

Layout layoutOf(SharedModel& shared) { return shared.read([](const Model& m) { return m.layout(); }); }

std::vector<std::string> kids(SharedModel& shared, const std::string& id) {
    return value(shared, id, "AXChildren").value("elements", std::vector<std::string>{});
}

std::string focusedWindow(SharedModel& shared) {
    return value(shared, "app", "AXFocusedWindow").value("element", "");
}

// Every element below `id` with its depth, depth first as a searcher walks.
void walk(SharedModel& shared, const std::string& id, int depth, const std::function<void(const std::string&, int)>& f) {
    f(id, depth);
    for (const auto& child : kids(shared, id)) walk(shared, child, depth + 1, f);
}

struct Area {
    std::string scroll, layout, description;
    int depth = 0;
};

// The scroll areas of a window (the focused one unless named) that hold a layout area, in
// walking order.
std::vector<Area> scrollAreas(SharedModel& shared, std::string window = {}) {
    std::vector<Area> out;
    walk(shared, window.empty() ? focusedWindow(shared) : window, 0, [&](const std::string& id, int depth) {
        if (value(shared, id, "AXRole") != "AXScrollArea") return;
        for (const auto& child : kids(shared, id)) {
            if (value(shared, child, "AXRole") != "AXLayoutArea") continue;
            out.push_back({id, child, value(shared, child, "AXDescription").get<std::string>(), depth});
        }
    });
    return out;
}

// The slide editor's scroll area, found as the reader finds it.
std::string editorId(SharedModel& shared) {
    for (const auto& a : scrollAreas(shared)) {
        if (a.description.starts_with("Slide Editor")) return a.scroll;
    }
    return {};
}

Model zoomedModel() {
    Model m = placedModel();
    m.window.zoom = 150;
    m.window.scroll = {0.3, 0.7};
    m.window.split = 70;
    return m;
}
} // namespace

TEST(StandinAXTreeTest, TheSlideEditorLiesWhereTheModelDrawsItAmongDecoys) {
    SharedModel shared(zoomedModel());
    const Layout l = layoutOf(shared);
    EXPECT_EQ(ask(shared, {{"op", "ax.app"}, {"pid", 4242}})["element"], "app");
    EXPECT_TRUE(ask(shared, {{"op", "ax.app"}, {"pid", 301}})["element"].is_null()); // the Finder has no tree here
    EXPECT_EQ(value(shared, "app", "AXRole"), "AXApplication");

    // The palette comes first among the windows, the document window is the focused one.
    const auto windows = value(shared, "app", "AXWindows")["elements"];
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(value(shared, windows[0], "AXTitle"), "Format Shape");
    EXPECT_EQ(frame(shared, windows[0]), rectJson(shared.read([](const Model& m) { return m.paletteFrame(); })));
    EXPECT_EQ(focusedWindow(shared), windows[1]);
    EXPECT_EQ(value(shared, windows[1], "AXRole"), "AXWindow");
    EXPECT_EQ(value(shared, windows[1], "AXTitle"), "Presentation1");
    EXPECT_EQ(frame(shared, windows[1]), rectJson(l.window));

    // Ribbon, thumbnails, slide editor and notes, every one `depth` levels down; only the
    // notes hold no layout area, and only the editor's is described "Slide Editor".
    const auto areas = scrollAreas(shared);
    ASSERT_EQ(areas.size(), 3u);
    int described = 0;
    for (const auto& a : areas) {
        EXPECT_EQ(a.depth, 5) << a.scroll;
        described += a.description.starts_with("Slide Editor");
    }
    EXPECT_EQ(described, 1);
    const auto palette = scrollAreas(shared, windows[0]);
    ASSERT_EQ(palette.size(), 1u);
    EXPECT_EQ(palette[0].depth, 5);

    const std::string editor = editorId(shared);
    EXPECT_EQ(frame(shared, editor), rectJson(l.pane));
    const auto parts = kids(shared, editor);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(value(shared, parts[0], "AXDescription"), "Slide Editor Slide 1");
    EXPECT_EQ(frame(shared, parts[0]), rectJson(l.document));
    EXPECT_EQ(frame(shared, parts[1]), rectJson(l.horizontalBar));
    EXPECT_EQ(frame(shared, parts[2]), rectJson(l.verticalBar));
    EXPECT_EQ(value(shared, parts[1], "AXValue"), 0.3);
    EXPECT_EQ(value(shared, parts[2], "AXValue"), 0.7);
    EXPECT_EQ(value(shared, parts[1], "AXOrientation"), "AXHorizontalOrientation");
    EXPECT_EQ(value(shared, editor, "AXVerticalScrollBar")["element"], parts[2]);
    EXPECT_EQ(value(shared, parts[2], "AXParent")["element"], editor);
}

TEST(StandinAXTreeTest, InALowSlideEditorADecoyIsTheLargestScrollArea) {
    // What makes the description matter: without it the largest scroll area would be wrong.
    SharedModel shared(placedModel());
    change(shared, {{"split", 10}});
    const auto areas = scrollAreas(shared);
    const auto area = [&](const std::string& id) {
        const json f = frame(shared, id);
        return f[2].get<double>() * f[3].get<double>();
    };
    const std::string editor = editorId(shared);
    double largest = 0;
    std::string winner;
    for (const auto& a : areas) {
        if (area(a.scroll) > largest) largest = area(a.scroll), winner = a.scroll;
    }
    EXPECT_NE(winner, editor);
    EXPECT_FALSE(winner.empty());
}

TEST(StandinAXTreeTest, IdsFollowTheViewAndGoStaleWhenTheWindowsAreMadeAnew) {
    SharedModel shared(zoomedModel());
    const std::string window = focusedWindow(shared);
    const std::string editor = editorId(shared);
    const std::string doc = kids(shared, editor)[0], bar = kids(shared, editor)[1];

    // The same elements after zoom, scroll, another slide, another split and no palette.
    change(shared, {{"zoom", 200}, {"scroll", "0.1,0.9"}, {"slide", 2}, {"split", 60}, {"palette", false}});
    EXPECT_EQ(editorId(shared), editor);
    EXPECT_EQ(frame(shared, doc), rectJson(layoutOf(shared).document));
    EXPECT_EQ(frame(shared, editor), rectJson(layoutOf(shared).pane));
    EXPECT_EQ(value(shared, doc, "AXDescription"), "Slide Editor Slide 2");
    EXPECT_EQ(value(shared, "app", "AXWindows")["elements"], json::array({window}));
    // Setting the window where it already is makes nothing anew.
    change(shared, {{"window", "100,50,1400,900"}});
    EXPECT_EQ(focusedWindow(shared), window);

    // A moved window is made anew: everything kept from before is stale.
    change(shared, {{"window", "120,50,1400,900"}});
    for (const auto& id : {window, editor, doc, bar}) {
        EXPECT_EQ(attr(shared, id, "AXRole"), json::object()) << id;
    }
    EXPECT_FALSE(setValue(shared, bar, 0.5));
    const std::string moved = focusedWindow(shared);
    EXPECT_NE(moved, window);
    EXPECT_EQ(frame(shared, editorId(shared)), rectJson(layoutOf(shared).pane));

    change(shared, {{"ax.rebuild", true}});
    EXPECT_EQ(attr(shared, moved, "AXRole"), json::object());

    // Another nesting moves the editor to another path; without it only the window remains.
    const std::string before = editorId(shared);
    change(shared, {{"ax.depth", 8}});
    EXPECT_EQ(attr(shared, before, "AXRole"), json::object());
    ASSERT_EQ(scrollAreas(shared).size(), 3u);
    EXPECT_EQ(scrollAreas(shared)[0].depth, 8);
    const std::string deep = editorId(shared), window8 = focusedWindow(shared);
    change(shared, {{"ax.editor", "none"}});
    EXPECT_EQ(attr(shared, deep, "AXRole"), json::object());
    EXPECT_EQ(value(shared, window8, "AXRole"), "AXWindow");
    EXPECT_EQ(editorId(shared), "");
    change(shared, {{"ax.editor", "unlabelled"}});
    EXPECT_EQ(value(shared, deep, "AXRole"), "AXScrollArea");
    EXPECT_EQ(attr(shared, kids(shared, deep)[0], "AXDescription"), json::object());

    // A program that quits takes its elements along; started again, it has new windows.
    change(shared, {{"running", false}});
    EXPECT_TRUE(ask(shared, {{"op", "ax.app"}, {"pid", 4242}})["element"].is_null());
    EXPECT_EQ(attr(shared, "app", "AXRole"), json::object());
    change(shared, {{"running", true}});
    EXPECT_EQ(value(shared, "app", "AXRole"), "AXApplication");
    EXPECT_EQ(attr(shared, window8, "AXRole"), json::object());
}

TEST(StandinAXTreeTest, ABarsValueScrollsTheDocumentAndNothingElseTakesAValue) {
    SharedModel shared(placedModel());
    change(shared, {{"zoom", 200}});
    const std::string editor = editorId(shared);
    const auto parts = kids(shared, editor);
    const std::string doc = parts[0], h = parts[1], v = parts[2];

    ASSERT_TRUE(setValue(shared, h, 0.25));
    Layout l = layoutOf(shared);
    EXPECT_EQ(value(shared, h, "AXValue"), 0.25);
    EXPECT_DOUBLE_EQ(frame(shared, doc)[0].get<double>(), l.pane.x - 0.25 * (l.document.w - l.pane.w));
    // Beyond the ends the bar stops there.
    ASSERT_TRUE(setValue(shared, v, 1.7));
    l = layoutOf(shared);
    EXPECT_EQ(value(shared, v, "AXValue"), 1.0);
    EXPECT_DOUBLE_EQ(l.document.bottom(), l.pane.bottom());
    ASSERT_TRUE(setValue(shared, v, -3));
    EXPECT_DOUBLE_EQ(frame(shared, doc)[1].get<double>(), layoutOf(shared).pane.y);

    const auto scrolled = shared.read([](const Model& m) { return m.window.scroll; });
    EXPECT_FALSE(setValue(shared, h, "0.5"));
    EXPECT_FALSE(setValue(shared, h, nullptr)); // how a NaN travels
    EXPECT_FALSE(setValue(shared, h, 0.5, "AXSize"));
    EXPECT_FALSE(setValue(shared, doc, 0.5));
    EXPECT_FALSE(setValue(shared, "app", 0.5));
    EXPECT_FALSE(setValue(shared, editor + "/bar-z", 0.5));
    EXPECT_EQ(shared.read([](const Model& m) { return m.window.scroll; }), scrolled);

    EXPECT_EQ(attr(shared, doc, "AXValue"), json::object());
    EXPECT_EQ(attr(shared, "app", "AXPosition"), json::object());
    EXPECT_EQ(attr(shared, editor, "AXFancy"), json::object());
    EXPECT_EQ(attr(shared, "app", "AXParent"), json::object());
    EXPECT_TRUE(ask(shared, {{"op", "ax.attr"}, {"name", "AXRole"}})["error"].is_string());
    EXPECT_TRUE(ask(shared, {{"op", "ax.set"}, {"element", h}, {"value", 0.5}})["error"].is_string());
}

TEST(StandinAXTreeTest, WithoutPermissionTheSystemRefusesAtOnceAndCountsItsPrompts) {
    Model m = placedModel();
    m.ax.trusted = false;
    m.ax.delay = {5, false}; // a program that hardly answers: the refusal never reaches it
    m.window.zoom = 200;
    SharedModel shared(m);
    const auto ax = [&] { return ask(shared, {{"op", "state"}})["ax"]; };

    EXPECT_EQ(ask(shared, {{"op", "ax.trusted"}}), (json{{"trusted", false}}));
    EXPECT_EQ(ask(shared, {{"op", "ax.prompt"}}), (json{{"trusted", false}}));
    EXPECT_EQ(ask(shared, {{"op", "ax.prompt"}}), (json{{"trusted", false}}));
    EXPECT_EQ(ax()["prompts"], 2);
    // The application element is only a reference; using it is what the system refuses.
    EXPECT_EQ(ask(shared, {{"op", "ax.app"}, {"pid", 4242}})["element"], "app");
    EXPECT_EQ(ax()["searches"], 1);
    auto refused = std::async(std::launch::async, [&] {
        return std::make_pair(attr(shared, "app", "AXRole"), setValue(shared, "win0/g/g/g/split/editor/bar-h", 0.9));
    });
    ASSERT_EQ(refused.wait_for(1s), std::future_status::ready);
    const auto [role, set] = refused.get();
    EXPECT_EQ(role, json::object());
    EXPECT_FALSE(set);
    EXPECT_EQ(shared.read([](const Model& x) { return x.window.scroll; }), (Point{0.5, 0.5}));

    change(shared, {{"ax.trusted", true}, {"ax.delay", 0}});
    EXPECT_EQ(ask(shared, {{"op", "ax.trusted"}}), (json{{"trusted", true}}));
    EXPECT_TRUE(setValue(shared, "win0/g/g/g/split/editor/bar-h", 0.9));
    EXPECT_EQ(shared.read([](const Model& x) { return x.window.scroll.x; }), 0.9);
}

TEST(StandinAXTreeTest, ASlowProgramAnswersLateAndAHungOneOnlyWhenToldTo) {
    Model m = placedModel();
    m.window.zoom = 200;
    m.ax.delay = {0.2, false};
    SharedModel shared(m);
    const std::string bar = "win0/g/g/g/split/editor/bar-v";

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(value(shared, bar, "AXRole"), "AXScrollBar");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    start = std::chrono::steady_clock::now();
    ask(shared, {{"op", "ax.trusted"}});
    ask(shared, {{"op", "ax.app"}, {"pid", 4242}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 150ms);

    // A hung program scrolls once it answers again, though its caller may have given up.
    shared.change([](Model& x) { x.ax.delay = {0, true}; });
    auto scrolling = std::async(std::launch::async, [&] { return setValue(shared, bar, 0.25); });
    EXPECT_EQ(scrolling.wait_for(150ms), std::future_status::timeout);
    EXPECT_EQ(shared.read([](const Model& x) { return x.window.scroll.y; }), 0.5);
    change(shared, {{"ax.delay", 0}});
    ASSERT_EQ(scrolling.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(scrolling.get());
    EXPECT_EQ(shared.read([](const Model& x) { return x.window.scroll.y; }), 0.25);

    shared.change([](Model& x) { x.ax.delay = {0, true}; });
    auto stuck = std::async(std::launch::async, [&] {
        return handleRequest(shared, {{"op", "ax.attr"}, {"element", bar}, {"name", "AXValue"}});
    });
    EXPECT_EQ(stuck.wait_for(100ms), std::future_status::timeout);
    shared.end();
    ASSERT_EQ(stuck.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(stuck.get().answered);
}

TEST(StandinAXTreeTest, TheAccessibilityKeysAreCheckedAndKeptWithTheState) {
    Model m = placedModel();
    const Model before = m;
    for (const json& bad : {json{{"ax.depth", 1}}, json{{"ax.depth", 41}}, json{{"ax.depth", "deep"}},
                            json{{"ax.depth", 7.5}}, json{{"ax.editor", "maybe"}}, json{{"ax.delay", -1}},
                            json{{"ax.trusted", "perhaps"}}, json{{"ax.prompts", 0}}, json{{"ax.searches", 0}},
                            json{{"ax.generation", 3}}, json{{"ax.rebuild", "later"}}}) {
        EXPECT_NE(applyValues(m, bad), "") << bad.dump();
        EXPECT_EQ(m, before) << bad.dump();
    }
    ASSERT_EQ(applyValues(m, {{"ax.depth", "14"}, {"ax.editor", "unlabelled"}, {"ax.delay", "never"},
                              {"ax.trusted", "false"}}),
              "");
    ++m.ax.prompts;
    const json saved = json::parse(stateJson(m).dump());
    EXPECT_EQ(saved["ax"], (json{{"trusted", false}, {"delay", "never"}, {"depth", 14}, {"editor", "unlabelled"},
                                 {"prompts", 1}, {"searches", 0}, {"generation", 0}}));

    // The counts are the running stand-in's own; a saved state brings the rest back.
    Model fresh = Model::standard("1.2.3", 4242);
    ASSERT_EQ(loadState(fresh, saved), "");
    EXPECT_EQ(fresh.ax.depth, 14);
    EXPECT_EQ(fresh.ax.editor, EditorShown::unlabelled);
    EXPECT_TRUE(fresh.ax.delay.never);
    EXPECT_FALSE(fresh.ax.trusted);
    EXPECT_EQ(fresh.ax.prompts, 0);
}

TEST(StandinAXTreeTest, TheSlideSorterHasNoSlideEditorAndNoWindowHasNoWindows) {
    SharedModel shared(zoomedModel());
    const std::string normalWindow = focusedWindow(shared);
    const std::string editor = editorId(shared);
    ASSERT_NE(editor, "");

    change(shared, {{"view", "sorter"}});
    const std::string window = focusedWindow(shared);
    EXPECT_NE(window, normalWindow); // the window's elements are made anew
    EXPECT_EQ(attr(shared, editor, "AXRole"), json::object());
    EXPECT_EQ(value(shared, window, "AXTitle"), "Presentation1");
    EXPECT_EQ(frame(shared, window), rectJson(layoutOf(shared).window));
    // Only the ribbon and the sorter's grid, which fills the window's width; nothing a reader
    // could take for the slide editor by its description, and no notes.
    const auto areas = scrollAreas(shared);
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_EQ(areas[0].description, "Ribbon");
    EXPECT_EQ(areas[1].description, "Slide Sorter");
    EXPECT_EQ(editorId(shared), "");
    const Layout l = layoutOf(shared);
    EXPECT_EQ(frame(shared, areas[1].scroll), rectJson({l.window.x, l.ribbon.bottom(), l.window.w, l.thumbnails.h}));
    std::vector<json> texts;
    walk(shared, window, 0, [&](const std::string& id, int) {
        const json role = value(shared, id, "AXRole");
        EXPECT_NE(role, "AXScrollBar") << id;
        EXPECT_NE(role, "AXTextArea") << id;
        if (role == "AXStaticText") texts.push_back(value(shared, id, "AXValue"));
    });
    EXPECT_EQ(texts, std::vector<json>{"Slide Sorter"}); // the status bar

    // No window: the application is there, with no windows at all.
    change(shared, {{"view", "none"}});
    EXPECT_EQ(value(shared, "app", "AXRole"), "AXApplication");
    EXPECT_EQ(value(shared, "app", "AXWindows"), (json{{"elements", json::array()}}));
    EXPECT_EQ(attr(shared, "app", "AXFocusedWindow"), json::object());
    EXPECT_EQ(attr(shared, window, "AXRole"), json::object());

    // Back in Normal view a slide editor is found again, in a new window.
    change(shared, {{"view", "normal"}});
    EXPECT_NE(focusedWindow(shared), window);
    EXPECT_NE(editorId(shared), "");
    EXPECT_EQ(frame(shared, editorId(shared)), rectJson(layoutOf(shared).pane));
}
