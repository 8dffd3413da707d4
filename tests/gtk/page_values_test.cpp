// What the page sends reaches the layer as it was sent: numbers JSON cannot write
// (infinities, NaN) stay numbers, so the layer's own rules can drop the regions they spoil,
// and a text with a lone surrogate stays a text. First on script values made in a
// JavaScript context of our own, then through a real page's messages.
#include <jsc/jsc.h>
#include <webkit2/webkit2.h>

#include <cmath>

#include "gtk_fixture.hpp"
#include "layer/overlay.hpp"
#include "adapters/gtk/layer_window.hpp"
#include "adapters/gtk/page_view.hpp"

using namespace scribbet;
using namespace scribbet::gtkhost;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// A script's value in a context of its own; no display needed.
class GtkPageValuesTest : public ::testing::Test {
protected:
    GtkPageValuesTest() : context_(jsc_context_new()) {}
    ~GtkPageValuesTest() override { g_object_unref(context_); }
    json body(const char* script) {
        JSCValue* v = jsc_context_evaluate(context_, script, -1);
        json out = messageBodyOf(v);
        g_object_unref(v);
        return out;
    }
    EvalResult result(const char* script) {
        JSCValue* v = jsc_context_evaluate(context_, script, -1);
        EvalResult out = evalResultOf(v);
        g_object_unref(v);
        return out;
    }

private:
    JSCContext* context_;
};

TEST_F(GtkPageValuesTest, RegionsKeepTheirNonFiniteNumbersSoTheLayerDropsThem) {
    const json m = body("({type: 'regions', all: false, rects: [[10, 20, 30, 40, Infinity], [1, NaN, 3, 4, 5],"
                        " [0, 0, 100, 40], [5, -Infinity, 1, 1], [2, 3, 4, 5, 'x']]})");
    ASSERT_TRUE(m.is_object());
    const json& rects = m.at("rects");
    ASSERT_EQ(rects.size(), 5u);
    EXPECT_TRUE(rects[0][4].is_number());
    EXPECT_TRUE(std::isinf(rects[0][4].get<double>()));
    EXPECT_TRUE(std::isnan(rects[1][1].get<double>()));
    EXPECT_EQ(rects[1].size(), 5u); // nothing moved up
    EXPECT_EQ(Overlay::regionsFrom(rects), (std::vector<Rect>{{0, 0, 100, 40}, {2, 3, 4, 5}}));
}

TEST_F(GtkPageValuesTest, TextsWithALoneSurrogateArriveAsValidUTF8) {
    const json m = body("({type: 'log', msg: 'pen \\uD800 up \\uDC00!', '\\uDBFFkey': 'a\\uD83D\\uDE00b'})");
    ASSERT_TRUE(m.is_object());
    EXPECT_EQ(m.at("type"), "log");
    EXPECT_EQ(m.at("msg"), "pen \xEF\xBF\xBD up \xEF\xBF\xBD!");
    EXPECT_EQ(m.at("\xEF\xBF\xBDkey"), "a\xF0\x9F\x98\x80" "b"); // a pair stays the character it makes
    EXPECT_NO_THROW(m.dump());
}

TEST_F(GtkPageValuesTest, LoneSurrogatesAreMendedWhereTextsCannotMakeThemselvesWellFormed) {
    body("delete String.prototype.toWellFormed"); // as in script engines before 2023
    EXPECT_EQ(body("({msg: '\\uDC00a\\uD800\\uD83D\\uDE00b\\uD800'})").at("msg"),
              "\xEF\xBF\xBD" "a\xEF\xBF\xBD\xF0\x9F\x98\x80" "b\xEF\xBF\xBD");
}

TEST_F(GtkPageValuesTest, EverythingElseReadsAsJSONWouldHaveIt) {
    EXPECT_EQ(body("({a: 1, b: -2.5, c: true, d: null, e: 'x', f: [1, [2, {g: 3}]], h: {}, i: []})"),
              json::parse(R"({"a":1,"b":-2.5,"c":true,"d":null,"e":"x","f":[1,[2,{"g":3}]],"h":{},"i":[]})"));
    // Left out of objects, null in arrays, null on their own.
    EXPECT_EQ(body("({u: undefined, f: () => 1, k: 1})"), json::parse(R"({"k":1})"));
    EXPECT_EQ(body("[undefined, () => 1, , 4]"), json::parse("[null,null,null,4]"));
    EXPECT_TRUE(body("undefined").is_null());
    EXPECT_TRUE(body("(() => 1)").is_null());
    EXPECT_EQ(body("'just text'"), "just text");
    // Whole numbers are integers as a JSON reader gives them; others stay doubles.
    EXPECT_TRUE(body("[9007199254740992]")[0].is_number_integer());
    EXPECT_TRUE(body("[1e300]")[0].is_number_float());
    const json negativeZero = body("[-0]")[0];
    EXPECT_TRUE(negativeZero.is_number_float());
    EXPECT_TRUE(std::signbit(negativeZero.get<double>()));
}

// How deep objects nest down their member `key`.
int nesting(const json& j, const char* key) {
    return j.is_object() && j.contains(key) ? 1 + nesting(j.at(key), key) : 0;
}

TEST_F(GtkPageValuesTest, AValueTooDeepIsNullInItsPlaceAndTheMessageIsKept) {
    const json m = body("(() => { let o = {end: 1}; for (let i = 0; i < 100; ++i) o = {o};"
                        " return {type: 'log', msg: 'pen up', o, after: [1, 2]}; })()");
    ASSERT_TRUE(m.is_object());
    EXPECT_EQ(m.at("msg"), "pen up");
    EXPECT_EQ(m.at("after"), json({1, 2}));
    // The top is at depth 0, so objects go on to depth 64 and the member at 65 is null.
    EXPECT_EQ(nesting(m, "o"), 65);
    const json* inner = &m;
    while (inner->is_object() && inner->contains("o")) inner = &inner->at("o");
    EXPECT_TRUE(inner->is_null());
    // Exactly at the depth a value is still read.
    const json fits = body("(() => { let o = {end: 1}; for (let i = 0; i < 62; ++i) o = {o}; return {o}; })()");
    inner = &fits;
    while (inner->contains("o")) inner = &inner->at("o");
    EXPECT_EQ(*inner, json({{"end", 1}}));
}

TEST_F(GtkPageValuesTest, ACyclicOrEndlessValueIsBoundedNotAHang) {
    // Held by itself: cut at the depth, the rest of each level kept.
    const json self = body("(() => { const o = {type: 'log', msg: 'hi'}; o.self = o; return o; })()");
    ASSERT_TRUE(self.is_object());
    EXPECT_EQ(self.at("msg"), "hi");
    EXPECT_EQ(nesting(self, "self"), 65);
    // Too many values to walk: null as a whole, not a part that passes for all of it.
    EXPECT_TRUE(body("(() => { const a = []; a.length = 4e9; return a; })()").is_null());
    EXPECT_TRUE(body("(() => { const o = {msg: 'hi'}; o.a = o; o.b = o; return o; })()").is_null());
    EXPECT_TRUE(body("(() => { const a = []; for (let i = 0; i < 1000; ++i) a.push(a); return a; })()").is_null());
    EXPECT_FALSE(body("(() => { let o = {}; for (let i = 0; i < 30; ++i) o = {o}; return o; })()").is_null());
}

TEST_F(GtkPageValuesTest, ScriptResultsKeepTheirNumbersToo) {
    const EvalResult r = result("({tool: 'pen', at: [1, Infinity], note: 'a\\uDC00'})");
    const auto* j = std::get_if<json>(&r.value);
    ASSERT_TRUE(j);
    EXPECT_TRUE(std::isinf(j->at("at")[1].get<double>()));
    EXPECT_EQ(j->at("note"), "a\xEF\xBF\xBD");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(result("42").value));
    EXPECT_EQ(std::get<std::string>(result("'a\\uD800'").value), "a\xEF\xBF\xBD");
}

// The same through a real page's script messages.
class Recorder final : public LayerPageEvents {
public:
    bool allowNavigation(const LayerWebView&, const std::string&) override { return true; }
    bool allowResponse(const LayerWebView&, bool, int, bool) override { return true; }
    void loadFailed(const LayerWebView&, const PageLoadFailure&) override {}
    void contentProcessEnded(const LayerWebView&) override {}
    void message(const LayerWebView&, const json& body) override { messages.push_back(body); }
    std::vector<json> messages;
};

class GtkPageMessagesTest : public test::GtkDisplayTest {};

TEST_F(GtkPageMessagesTest, ARealPagesMessagesKeepTheirNumbersAndTexts) {
    auto recorder = std::make_shared<Recorder>();
    LayerWindow window(screens->screens().front().frame, screens);
    GtkLayerFactory layers(screens, *main);
    auto page = std::dynamic_pointer_cast<PageView>(layers.makeWebView(window, recorder));
    ASSERT_TRUE(page);
    webkit_web_view_load_html(page->view(), R"(<!doctype html><script>
const post = (m) => window.webkit.messageHandlers.scribbet.postMessage(m);
post({type: 'regions', rects: [[10, 20, 30, 40, Infinity], [1, NaN, 3, 4, 5], [0, 0, 100, 40]], all: false});
post({type: 'log', msg: 'lone \uD800 surrogate'});
let deep = {};
for (let i = 0; i < 100; ++i) deep = {deep};
post({type: 'log', msg: 'kept', deep});
post({type: 'done'});
</script>)",
                              "http://127.0.0.1/");
    ASSERT_TRUE(pumpUntil([&] { return recorder->messages.size() >= 4; }, 15000ms));
    const json& regions = recorder->messages[0];
    ASSERT_TRUE(regions.is_object());
    EXPECT_EQ(Overlay::regionsFrom(regions.at("rects")), (std::vector<Rect>{{0, 0, 100, 40}}));
    const json& line = recorder->messages[1];
    ASSERT_TRUE(line.is_object());
    EXPECT_EQ(line.value("msg", ""), "lone \xEF\xBF\xBD surrogate");
    const json& deep = recorder->messages[2];
    ASSERT_TRUE(deep.is_object());
    EXPECT_EQ(deep.value("msg", ""), "kept");
    EXPECT_EQ(nesting(deep, "deep"), 65);
    page->detach();
}

} // namespace
