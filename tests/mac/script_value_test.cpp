// What the page's Objective-C values become: texts always valid UTF-8, numbers as they were
// sent (so the layer's own rules can drop the regions that infinities or NaN spoil), a value too
// deep null in its place, and a value that could not be walked whole never read as part of itself.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "adapters/mac/script_value.hpp"

using namespace scribbet;
using namespace scribbet::mac;
using nlohmann::json;
using V = ScriptValue;

namespace {
V rect(double x, double y, double w, double h) {
    return V::array({V::ofNumber(x), V::ofNumber(y), V::ofNumber(w), V::ofNumber(h)});
}
} // namespace

TEST(MacScriptValueTest, Utf16BecomesValidUtf8) {
    EXPECT_EQ(utf8Of(u""), "");
    EXPECT_EQ(utf8Of(u"Pen-2_a.b~"), "Pen-2_a.b~");
    EXPECT_EQ(utf8Of(u"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(utf8Of(u"\U0001F58A"), "\xF0\x9F\x96\x8A"); // a surrogate pair: one pen
    EXPECT_EQ(utf8Of(std::u16string(1, u'\0') + u"a"), std::string("\0a", 2));
    // Lone surrogates, at the end, at the start, reversed: each one a replacement character.
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(utf8Of(std::u16string{u'a', char16_t(0xD83D)}), "a" + fffd);
    EXPECT_EQ(utf8Of(std::u16string{char16_t(0xDD8A), u'b'}), fffd + "b");
    EXPECT_EQ(utf8Of(std::u16string{char16_t(0xDD8A), char16_t(0xD83D)}), fffd + fffd);
    EXPECT_EQ(utf8Of(std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDD8A)}),
              fffd + "\xF0\x9F\x96\x8A");
}

TEST(MacScriptValueTest, NumbersKeepTheirValues) {
    EXPECT_TRUE(jsonOf(V::ofNumber(3.0)).is_number_integer());
    EXPECT_EQ(jsonOf(V::ofNumber(3.0)), 3);
    EXPECT_EQ(jsonOf(V::ofNumber(-12)), -12);
    EXPECT_TRUE(jsonOf(V::ofNumber(2.5)).is_number_float());
    EXPECT_DOUBLE_EQ(jsonOf(V::ofNumber(2.5)).get<double>(), 2.5);
    // Past 2^53 a double is no exact integer any more; -0 is no integer at all.
    EXPECT_TRUE(jsonOf(V::ofNumber(1e300)).is_number_float());
    EXPECT_TRUE(jsonOf(V::ofNumber(-0.0)).is_number_float());
    EXPECT_TRUE(jsonOf(V::ofNumber(9007199254740992.0)).is_number_integer());
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isinf(jsonOf(V::ofNumber(inf)).get<double>()));
    EXPECT_TRUE(std::isinf(jsonOf(V::ofNumber(-inf)).get<double>()));
    EXPECT_TRUE(std::isnan(jsonOf(V::ofNumber(std::nan(""))).get<double>()));
    // A boolean NSNumber is a boolean, not 1 or 0.
    EXPECT_EQ(jsonOf(V::ofBoolean(true)), json(true));
    EXPECT_EQ(jsonOf(V::ofBoolean(false)), json(false));
}

TEST(MacScriptValueTest, AMessageBodyKeepsItsShape) {
    const V body = V::dictionary({
        {u"type", V::ofText(u"regions")},
        {u"rects", V::array({rect(0, 0, 100, 40), V::array({V::ofNumber(5), V::ofNumber(5)}),
                             V::array({V::ofNumber(1), V::ofText(u"a"), V::null()}),
                             rect(1, 2, 3, std::numeric_limits<double>::infinity())})},
        {u"all", V::ofBoolean(false)},
        {u"when", V::ofKind(V::Kind::other)}, // an NSDate
    });
    const json j = messageBodyOf(body);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["type"], "regions");
    EXPECT_EQ(j["all"], false);
    EXPECT_TRUE(j["when"].is_null());
    ASSERT_EQ(j["rects"].size(), 4u);
    EXPECT_EQ(j["rects"][0], json({0, 0, 100, 40}));
    EXPECT_EQ(j["rects"][2], json({1, "a", nullptr}));
    EXPECT_TRUE(std::isinf(j["rects"][3][3].get<double>()));
}

TEST(MacScriptValueTest, OddKeysAndEmptyContainers) {
    EXPECT_EQ(jsonOf(V::dictionary({})), json::object());
    EXPECT_EQ(jsonOf(V::array({})), json::array());
    EXPECT_TRUE(jsonOf(V::null()).is_null());
    // An empty key, a key with a lone surrogate, and a repeated key: the last one wins.
    const json j = jsonOf(V::dictionary({{u"", V::ofNumber(1)},
                                         {std::u16string{u'k', char16_t(0xD800)}, V::ofNumber(2)},
                                         {u"x", V::ofNumber(3)},
                                         {u"x", V::ofNumber(4)}}));
    EXPECT_EQ(j[""], 1);
    EXPECT_EQ(j["k\xEF\xBF\xBD"], 2);
    EXPECT_EQ(j["x"], 4);
    EXPECT_EQ(j.size(), 3u);

    // A value without a key (a description put together wrongly) is left out, not read past the keys.
    V lopsided = V::dictionary({{u"a", V::ofNumber(1)}});
    lopsided.items.push_back(V::ofNumber(2));
    EXPECT_EQ(jsonOf(lopsided), json({{"a", 1}}));
}

// A page value as the glue sees it, possibly cyclic: node 0 is the top; a container's members
// are other nodes. The walk below is the glue's over Objective-C values.
struct Graph {
    struct Node {
        std::u16string text; // a text when it is not a container
        bool container = false;
        bool dictionary = false;
        std::vector<std::pair<std::u16string, int>> members = {};
    };
    std::vector<Node> nodes;
    long visits = 0;

    V describe(int i, ScriptWalk& walk, int depth) {
        ++visits;
        if (!walk.take(depth)) return V::ofKind(V::Kind::cut);
        const Node& n = nodes[static_cast<std::size_t>(i)];
        if (!n.container) return V::ofText(n.text);
        std::vector<std::pair<std::u16string, V>> members;
        for (const auto& [key, at] : n.members) {
            members.emplace_back(key, describe(at, walk, depth + 1));
            if (walk.stopped()) break;
        }
        if (n.dictionary) return V::dictionary(std::move(members));
        std::vector<V> items;
        for (auto& m : members) items.push_back(std::move(m.second));
        return V::array(std::move(items));
    }
    json body() {
        ScriptWalk walk;
        return messageBodyOf(describe(0, walk, 0));
    }
};

// How deep an array nests down its first items.
int nesting(const json& j) { return j.is_array() && !j.empty() ? 1 + nesting(j[0]) : 0; }

TEST(MacScriptValueTest, AValueTooDeepIsNullInItsPlaceAndTheRestIsKept) {
    V deep = V::ofNumber(1);
    for (int i = 0; i < 100; ++i) deep = V::array({deep});
    const V log = V::dictionary({{u"type", V::ofText(u"log")}, {u"msg", V::ofText(u"pen up")}, {u"detail", deep}});
    json j = messageBodyOf(log);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["type"], "log");
    EXPECT_EQ(j["msg"], "pen up");
    // "detail" is at depth 1; arrays go on to depth 64, and the one at depth 65 is null.
    EXPECT_EQ(nesting(j["detail"]), ScriptWalk::maxDepth);
    json inner = j["detail"];
    while (inner.is_array()) inner = inner[0];
    EXPECT_TRUE(inner.is_null());

    // Exactly at the depth a value is still read; one level more and it is null, also when the
    // glue did not mark it.
    V justFits = V::ofNumber(7);
    for (int i = 0; i < ScriptWalk::maxDepth; ++i) justFits = V::array({justFits});
    inner = jsonOf(justFits);
    while (inner.is_array()) inner = inner[0];
    EXPECT_EQ(inner, 7);
    inner = jsonOf(V::array({justFits}));
    while (inner.is_array()) inner = inner[0];
    EXPECT_TRUE(inner.is_null());
    // The glue's mark for a value too deep is null in place too, and what follows it is kept.
    V marked = V::ofKind(V::Kind::cut);
    for (int i = 0; i < ScriptWalk::maxDepth; ++i) marked = V::array({marked});
    j = jsonOf(V::array({marked, V::ofText(u"b")}));
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[1], "b");
    EXPECT_EQ(nesting(j[0]), ScriptWalk::maxDepth);
}

TEST(MacScriptValueTest, AValueInWhichTheWalkStoppedIsNullAsAWhole) {
    // A stop within the depth must not leave a truncated array that reads as real data.
    const V stoppedInside = V::dictionary({{u"type", V::ofText(u"regions")},
                                           {u"rects", V::array({rect(0, 0, 1, 1), V::ofKind(V::Kind::cut)})}});
    EXPECT_TRUE(messageBodyOf(stoppedInside).is_null());
    EXPECT_TRUE(jsonOf(V::ofKind(V::Kind::cut)).is_null());
}

TEST(MacScriptValueTest, CyclicBodiesThroughTheGluesWalk) {
    // {type: "log", msg: "hi", self: <itself>}: the chain is cut at the depth, the text kept.
    Graph chain;
    chain.nodes = {{u"", true, true, {{u"type", 1}, {u"msg", 2}, {u"self", 0}}}, {u"log"}, {u"hi"}};
    json j = chain.body();
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["msg"], "hi");
    int depth = 0;
    for (const json* at = &j; at->is_object(); at = &(*at)["self"]) {
        // The object at the very depth is read, its members are one level too deep.
        EXPECT_EQ((*at)["msg"], depth < ScriptWalk::maxDepth ? json("hi") : json()) << depth;
        ++depth;
    }
    EXPECT_EQ(depth, ScriptWalk::maxDepth + 1);
    EXPECT_LT(chain.visits, 300);

    // Two members that both hold the object: 2^64 paths. The count stops the walk soon, and
    // the whole body is null, not a part that passes for the whole.
    Graph forked;
    forked.nodes = {{u"", true, true, {{u"msg", 1}, {u"a", 0}, {u"b", 0}}}, {u"hi"}};
    EXPECT_TRUE(forked.body().is_null());
    EXPECT_LT(forked.visits, 2 * ScriptWalk::maxValues);

    // A wide array that holds itself below the depth: each refusal counts, so it ends too.
    Graph wide;
    wide.nodes.push_back({u"", true, false, {}});
    for (int i = 0; i < 1000; ++i) wide.nodes[0].members.emplace_back(u"", 0);
    EXPECT_TRUE(wide.body().is_null());
    EXPECT_LT(wide.visits, 2 * ScriptWalk::maxValues);
}

TEST(MacScriptValueTest, TheWalkRefusesWhatIsTooDeepAndStopsForGoodAtItsCount) {
    ScriptWalk deep;
    EXPECT_TRUE(deep.take(0));
    EXPECT_TRUE(deep.take(ScriptWalk::maxDepth));
    EXPECT_FALSE(deep.take(ScriptWalk::maxDepth + 1));
    EXPECT_FALSE(deep.stopped()); // only that value: its siblings are still read
    EXPECT_TRUE(deep.take(1));

    ScriptWalk many;
    long taken = 0;
    while (many.take(1) && taken < ScriptWalk::maxValues + 10) ++taken;
    EXPECT_EQ(taken, ScriptWalk::maxValues);
    EXPECT_TRUE(many.stopped());
    EXPECT_FALSE(many.take(0)); // nothing more once it stopped

    // Refusals count: past the count the next value within the depth stops the walk.
    ScriptWalk refusals;
    long refused = 0;
    for (long i = 0; i < ScriptWalk::maxValues; ++i) refused += refusals.take(ScriptWalk::maxDepth + 1) ? 0 : 1;
    EXPECT_EQ(refused, ScriptWalk::maxValues);
    EXPECT_FALSE(refusals.stopped());
    EXPECT_FALSE(refusals.take(0));
    EXPECT_TRUE(refusals.stopped());
}

TEST(MacScriptValueTest, AnEvaluationGivesTextsAndContainersOnly) {
    const V text = V::ofText(u"pen");
    EvalResult r = evalResultOf(&text, nullptr);
    ASSERT_TRUE(std::holds_alternative<std::string>(r.value));
    EXPECT_EQ(std::get<std::string>(r.value), "pen");
    EXPECT_FALSE(r.error);

    const V empty = V::ofText(u"");
    r = evalResultOf(&empty, nullptr);
    ASSERT_TRUE(std::holds_alternative<std::string>(r.value)); // an empty answer is still an answer
    EXPECT_EQ(std::get<std::string>(r.value), "");

    const V object = V::dictionary({{u"tool", V::ofText(u"pen")}});
    r = evalResultOf(&object, nullptr);
    ASSERT_TRUE(std::holds_alternative<json>(r.value));
    EXPECT_EQ(std::get<json>(r.value), json({{"tool", "pen"}}));

    // A number, a Boolean, null, nothing, another object or a cut container: no answer, no error.
    for (const V& v : {V::ofNumber(1), V::ofBoolean(true), V::null(), V::ofKind(V::Kind::other),
                       V::array({V::ofKind(V::Kind::cut)})}) {
        r = evalResultOf(&v, nullptr);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(r.value));
        EXPECT_FALSE(r.error);
    }
    r = evalResultOf(nullptr, nullptr);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.value));
    EXPECT_FALSE(r.error);
}

TEST(MacScriptValueTest, AnEvaluationErrorIsReportedUnlessOnlyTheValueCouldNotComeBack) {
    const ScriptError thrown{"WKErrorDomain", 4, "A JavaScript exception occurred"};
    EvalResult r = evalResultOf(nullptr, &thrown);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.value));
    ASSERT_TRUE(r.error);
    EXPECT_EQ(*r.error, "A JavaScript exception occurred");

    // An error wins over any value the glue may have read with it.
    const V text = V::ofText(u"stale");
    r = evalResultOf(&text, &thrown);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.value));
    EXPECT_TRUE(r.error);

    const ScriptError silent{"WKErrorDomain", 4, ""};
    r = evalResultOf(nullptr, &silent);
    ASSERT_TRUE(r.error);
    EXPECT_FALSE(r.error->empty()); // the log line still says something

    // SCB.command answering undefined: nothing to use, and nothing to log.
    const ScriptError undefinedResult{"WKErrorDomain", 5, "JavaScript execution returned an unsupported type"};
    r = evalResultOf(nullptr, &undefinedResult);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.value));
    EXPECT_FALSE(r.error);
}
