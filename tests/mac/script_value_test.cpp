// What the page's Objective-C values become: texts always valid UTF-8, numbers as they were
// sent (so the layer's own rules can drop the regions that infinities or NaN spoil), and a
// value that could not be walked whole never read as part of itself.
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

TEST(MacScriptValueTest, AValueTheWalkCutIsNullAsAWhole) {
    // A cut deep inside must not leave a truncated array that reads as real data.
    const V cutInside = V::dictionary({{u"type", V::ofText(u"regions")},
                                       {u"rects", V::array({rect(0, 0, 1, 1), V::ofKind(V::Kind::cut)})}});
    EXPECT_TRUE(messageBodyOf(cutInside).is_null());
    EXPECT_TRUE(jsonOf(V::ofKind(V::Kind::cut)).is_null());

    // A description deeper than the walk allows is cut too, even if the glue did not mark it.
    V deep = V::ofNumber(1);
    for (int i = 0; i <= ScriptWalk::maxDepth; ++i) deep = V::array({deep});
    EXPECT_TRUE(jsonOf(deep).is_null());
    V justFits = V::ofNumber(1);
    for (int i = 0; i < ScriptWalk::maxDepth; ++i) justFits = V::array({justFits});
    EXPECT_FALSE(jsonOf(justFits).is_null());
}

TEST(MacScriptValueTest, TheWalkStopsForGoodAtItsLimits) {
    ScriptWalk deep;
    EXPECT_TRUE(deep.take(0));
    EXPECT_TRUE(deep.take(ScriptWalk::maxDepth));
    EXPECT_FALSE(deep.take(ScriptWalk::maxDepth + 1));
    EXPECT_TRUE(deep.stopped());
    EXPECT_FALSE(deep.take(0)); // nothing more once it stopped

    ScriptWalk many;
    long taken = 0;
    while (many.take(1) && taken < ScriptWalk::maxValues + 10) ++taken;
    EXPECT_EQ(taken, ScriptWalk::maxValues);
    EXPECT_TRUE(many.stopped());
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
