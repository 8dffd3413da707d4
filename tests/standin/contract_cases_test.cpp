// The add-in's contract cases (addin/contract.cases) held against the stand-in's add-in: every
// case starts from the default desktop, its givens are set as one `ctl set` sets them, its
// calls go through the macro dispatch under the default prefix, and each answer is held to its
// pattern, its exact text and its spans. The add-in's self-test reads the same file inside the
// presentation program, so the reader here keeps to the file's few line kinds.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "app/whole_number.hpp"
#include "state.hpp"
#include "standin_support.hpp"

using namespace scribbet::standin;
using namespace scribbet::standin::test;

namespace {

constexpr const char* defaultPrefix = "SCBT_Pen.";

// ---- the file's lines ----

struct Line {
    int number = 0;
    std::vector<std::string> fields; // as written: escapes are read where the field is used
};

struct Call {
    Line call;
    std::vector<Line> checks; // answer, exactly and span lines, in order
};

struct Case {
    std::string name;
    int line = 0;
    std::vector<Line> givens;
    std::vector<Call> calls;
};

// The fields of a record: split at every TAB, a trailing TAB giving an empty last field, as
// VBA's Split does.
std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == '\t') out.emplace_back();
        else out.back().push_back(c);
    }
    return out;
}

// The character an escape at `at` stands for: \t, \n and \\ in every field, \* too in a
// pattern. None when no escape starts there (a backslash before anything else is itself).
std::optional<char> escapeAt(std::string_view raw, std::size_t at, bool inPattern) {
    if (raw[at] != '\\' || at + 1 >= raw.size()) return std::nullopt;
    switch (raw[at + 1]) {
    case 't': return '\t';
    case 'n': return '\n';
    case '\\': return '\\';
    case '*': return inPattern ? std::optional('*') : std::nullopt;
    default: return std::nullopt;
    }
}

std::string unescape(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (const auto c = escapeAt(raw, i, false)) out.push_back(*c), ++i;
        else out.push_back(raw[i]);
    }
    return out;
}

bool nameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The length of a "{NAME}" at `at` (braces included), or 0 when none starts there.
std::size_t bindingAt(std::string_view raw, std::size_t at) {
    if (at >= raw.size() || raw[at] != '{') return 0;
    std::size_t end = at + 1;
    while (end < raw.size() && nameChar(raw[end])) ++end;
    return end > at + 1 && end < raw.size() && raw[end] == '}' ? end - at + 1 : 0;
}

struct Parsed {
    std::vector<Case> cases;
    std::vector<std::string> faults; // "line N: why"
};

const std::map<std::string, std::size_t> minimumFields = {
    {"case", 2}, {"given", 3}, {"call", 2}, {"answer", 2}, {"exactly", 2}, {"span", 4}};
const std::map<std::string, std::size_t> maximumFields = {
    {"case", 2}, {"given", 3}, {"answer", 2}, {"exactly", 2}, {"span", 4}};

Parsed parseCases(const std::string& text) {
    Parsed p;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    auto fault = [&](const std::string& why) { p.faults.push_back("line " + std::to_string(number) + ": " + why); };
    while (std::getline(in, raw)) {
        ++number;
        if (raw.find('\r') != std::string::npos) fault("a carriage return (the file's lines end in LF only)");
        if (raw.empty() || raw[0] == '#') continue;
        Line line{number, fieldsOf(raw)};
        const std::string& kind = line.fields[0];
        if (!minimumFields.count(kind)) {
            fault("unknown line kind \"" + kind + "\"");
            continue;
        }
        if (line.fields.size() < minimumFields.at(kind) ||
            (maximumFields.count(kind) && line.fields.size() > maximumFields.at(kind))) {
            fault("a \"" + kind + "\" line with " + std::to_string(line.fields.size()) + " fields");
            continue;
        }
        if (kind == "case") {
            p.cases.push_back({line.fields[1], number, {}, {}});
            continue;
        }
        if (p.cases.empty()) {
            fault("\"" + kind + "\" before the first case");
            continue;
        }
        Case& c = p.cases.back();
        if (kind == "given") {
            if (!c.calls.empty()) fault("a given after the case's first call");
            c.givens.push_back(std::move(line));
        } else if (kind == "call") {
            c.calls.push_back({std::move(line), {}});
        } else if (c.calls.empty()) {
            fault("\"" + kind + "\" before the case's first call");
        } else {
            c.calls.back().checks.push_back(std::move(line));
        }
    }
    return p;
}

// ---- patterns ----

// `*` matches a run of characters without "|", TAB or line feed; `{NAME}` does the same and
// binds NAME, or matches the bound text again; `\*` is a star.
struct Piece {
    enum class Kind { text, any, name };
    Kind kind = Kind::text;
    std::string value;
};

std::vector<Piece> compile(std::string_view raw) {
    std::vector<Piece> out;
    auto literal = [&](char c) {
        if (out.empty() || out.back().kind != Piece::Kind::text) out.push_back({Piece::Kind::text, {}});
        out.back().value.push_back(c);
    };
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (const auto c = escapeAt(raw, i, true)) {
            literal(*c);
            ++i;
        } else if (raw[i] == '*') {
            out.push_back({Piece::Kind::any, {}});
        } else if (const std::size_t n = bindingAt(raw, i)) {
            out.push_back({Piece::Kind::name, std::string(raw.substr(i + 1, n - 2))});
            i += n - 1;
        } else {
            literal(raw[i]);
        }
    }
    return out;
}

using Bindings = std::map<std::string, std::string>;

bool inRun(char c) { return c != '|' && c != '\t' && c != '\n'; }

// Tries the shortest runs first; `bound` takes the new bindings only when the whole text matched.
bool matchFrom(const std::vector<Piece>& pieces, std::size_t i, std::string_view text, std::size_t at,
               Bindings& bound) {
    if (i == pieces.size()) return at == text.size();
    const Piece& piece = pieces[i];
    if (piece.kind == Piece::Kind::text || (piece.kind == Piece::Kind::name && bound.count(piece.value))) {
        const std::string& expected = piece.kind == Piece::Kind::text ? piece.value : bound.at(piece.value);
        if (text.substr(at, expected.size()) != expected) return false;
        return matchFrom(pieces, i + 1, text, at + expected.size(), bound);
    }
    for (std::size_t end = at;; ++end) {
        if (piece.kind == Piece::Kind::name) {
            Bindings tried = bound;
            tried[piece.value] = std::string(text.substr(at, end - at));
            if (matchFrom(pieces, i + 1, text, end, tried)) return bound = std::move(tried), true;
        } else if (matchFrom(pieces, i + 1, text, end, bound)) {
            return true;
        }
        if (end == text.size() || !inRun(text[end])) return false;
    }
}

bool matches(std::string_view pattern, std::string_view text, Bindings& bound) {
    return matchFrom(compile(pattern), 0, text, 0, bound);
}

// A call's argument: the plain escapes, and every {NAME} replaced by its bound text. None (with
// `why`) when it names one not bound yet.
std::optional<std::string> argument(std::string_view raw, const Bindings& bound, std::string& why) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (const std::size_t n = bindingAt(raw, i)) {
            const std::string name(raw.substr(i + 1, n - 2));
            const auto it = bound.find(name);
            if (it == bound.end()) {
                why = "{" + name + "} is used before it is bound";
                return std::nullopt;
            }
            out += it->second;
            i += n - 1;
        } else if (const auto c = escapeAt(raw, i, false)) {
            out.push_back(*c);
            ++i;
        } else {
            out.push_back(raw[i]);
        }
    }
    return out;
}

std::string shown(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : std::string(1, c);
    return out.size() > 300 ? out.substr(0, 300) + "..." : out;
}

// ---- running a case ----

// The first way the stand-in departs from the case, as "line N: why"; empty when it holds.
std::string runCase(const Case& c) {
    Model m = Model::standard(SCRIBBET_VERSION, 4242);
    m.addin.prefix = defaultPrefix;
    nlohmann::json values = nlohmann::json::object();
    for (const Line& g : c.givens) {
        const std::string& key = g.fields[1];
        if (values.contains(key)) return "line " + std::to_string(g.number) + ": " + key + " given twice";
        values[key] = unescape(g.fields[2]);
    }
    if (const std::string e = applyValues(m, values); !e.empty()) {
        return "line " + std::to_string(c.givens.front().number) + ": the givens are refused: " + e;
    }
    Bindings bound;
    for (const Call& call : c.calls) {
        const auto at = [](const Line& l) { return "line " + std::to_string(l.number) + ": "; };
        std::vector<std::string> args;
        for (std::size_t i = 2; i < call.call.fields.size(); ++i) {
            std::string why;
            const auto a = argument(call.call.fields[i], bound, why);
            if (!a) return at(call.call) + why;
            args.push_back(*a);
        }
        const std::string& macro = call.call.fields[1];
        const MacroReply reply = runMacro(m, defaultPrefix + macro, args);
        if (reply.errn != 0) {
            return at(call.call) + macro + " did not run: error " + std::to_string(reply.errn) + " " + reply.errs;
        }
        const std::string& answer = reply.direct;
        for (const Line& check : call.checks) {
            const std::string& kind = check.fields[0];
            if (kind == "answer" && !matches(check.fields[1], answer, bound)) {
                return at(check) + macro + " answered \"" + shown(answer) + "\", not \"" + check.fields[1] + "\"";
            }
            if (kind == "exactly" && answer != unescape(check.fields[1])) {
                return at(check) + macro + " answered \"" + shown(answer) + "\", not exactly \"" + check.fields[1] +
                       "\"";
            }
            if (kind == "span") {
                const auto number = [&](const std::string& field) -> std::optional<double> {
                    const auto n = bindingAt(field, 0);
                    if (n == 0 || n != field.size()) return std::nullopt;
                    const auto it = bound.find(field.substr(1, n - 2));
                    return it == bound.end() ? std::nullopt : scribbet::whole::finite(it->second);
                };
                const auto a = number(check.fields[1]);
                const auto b = number(check.fields[2]);
                const auto span = scribbet::whole::finite(check.fields[3]);
                if (!a || !b || !span) return at(check) + "a span of names not bound to numbers, or without a number";
                if (std::fabs(*b - *a - *span) > 0.5) {
                    return at(check) + check.fields[2] + " - " + check.fields[1] + " is " + num(*b - *a) + ", not " +
                           check.fields[3];
                }
            }
        }
    }
    return {};
}

std::string casesText() {
    const char* root = std::getenv("SCRIBBET_TEST_SOURCE");
    std::ifstream in(std::string(root ? root : ".") + "/addin/contract.cases", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const Parsed& theCases() {
    static const Parsed parsed = parseCases(casesText());
    return parsed;
}

// The keys the self-test can set in the presentation program; a case with any other given
// key is skipped there.
const std::set<std::string> keysSetInTheProgram = {"window", "zoom", "fit", "slide", "slides", "slideSize", "focus"};

} // namespace

// ---- the matcher ----

TEST(ContractPatternTest, StarsMatchRunsWithinOneField) {
    Bindings b;
    EXPECT_TRUE(matches("OK|*", "OK|", b));
    EXPECT_TRUE(matches("OK|*", "OK|1.2.3", b));
    EXPECT_TRUE(matches("OK|*|*", "OK|a|", b));
    EXPECT_FALSE(matches("OK|*", "OK|a|b", b));        // a star never crosses a "|"
    EXPECT_FALSE(matches("OK|1\\n*", "OK|1\n0\tname", b)); // nor a TAB
    EXPECT_FALSE(matches("OK|*", "OK|1\n0", b));       // nor a line feed
    EXPECT_TRUE(matches("OK|*.*", "OK|1.2.3", b));     // shorter runs give way to longer ones
    EXPECT_TRUE(matches("iVBOR*", "iVBORw0KGgoAAA", b));
    EXPECT_FALSE(matches("iVBOR*", "OK|iVBOR", b));
    EXPECT_FALSE(matches("OK", "OK|", b));
    EXPECT_TRUE(b.empty());
}

TEST(ContractPatternTest, EscapesAreLiteral) {
    Bindings b;
    EXPECT_TRUE(matches("a\\*b", "a*b", b));
    EXPECT_FALSE(matches("a\\*b", "axb", b));
    EXPECT_TRUE(matches("x\\ty\\nz", "x\ty\nz", b));
    EXPECT_TRUE(matches("c:\\\\d", "c:\\d", b));
    EXPECT_TRUE(matches("c:\\d", "c:\\d", b));  // a backslash before anything else stays
    EXPECT_TRUE(matches("{ a}{}", "{ a}{}", b)); // braces that name nothing are text
    EXPECT_EQ(unescape("a\\tb\\nc\\\\d\\*"), "a\tb\nc\\d\\*");
}

TEST(ContractPatternTest, NamesBindAndMustMatchTheSameTextAgain) {
    Bindings b;
    ASSERT_TRUE(matches("OK|1\\n0\\t*\\t{ID}\\t10", "OK|1\n0\tFreeform 1\t42\t10", b));
    EXPECT_EQ(b.at("ID"), "42");
    EXPECT_TRUE(matches("{ID}|{ID}", "42|42", b));
    EXPECT_FALSE(matches("{ID}", "43", b)); // bound to another text
    EXPECT_FALSE(matches("{ID}", "4", b));
    // Within one pattern the second use holds the first to the same text.
    Bindings fresh;
    EXPECT_TRUE(matches("{A}-{A}", "ab-ab", fresh));
    EXPECT_EQ(fresh.at("A"), "ab");
    Bindings other;
    EXPECT_FALSE(matches("{A}-{A}", "ab-ac", other));
    EXPECT_TRUE(other.empty()); // a failed match binds nothing
    // A name binds no "|": the fields stay apart.
    Bindings fields;
    EXPECT_TRUE(matches("{L}|{R}", "1|2", fields));
    EXPECT_EQ(fields.at("L"), "1");
    EXPECT_EQ(fields.at("R"), "2");
}

TEST(ContractPatternTest, CallArgumentsTakeTheBoundTexts) {
    const Bindings b = {{"OLD", "7"}, {"S", "257"}};
    std::string why;
    EXPECT_EQ(argument("{OLD},8", b, why), "7,8");
    EXPECT_EQ(argument("M 0 0\\tL 1 1", b, why), "M 0 0\tL 1 1");
    EXPECT_EQ(argument("", b, why), "");
    EXPECT_FALSE(argument("{NEW}", b, why));
    EXPECT_NE(why.find("{NEW}"), std::string::npos);
}

TEST(ContractCasesReaderTest, FindsFaultsOfForm) {
    const Parsed p = parseCases("# note\n\ncase\tone\ncall\tSCBT_Slide\t\nanswer\tERR|*\n"
                                "answer\tbefore\n" // fine: a second check of the same call
                                "case\ttwo\nexpect\tOK\ncall\tSCBT_Geom\ngiven\tzoom\t50\nspan\t{A}\t{B}\n"
                                "case\tthree\r\n");
    ASSERT_EQ(p.cases.size(), 3u);
    EXPECT_EQ(p.cases[0].calls.at(0).call.fields, (std::vector<std::string>{"call", "SCBT_Slide", ""}));
    EXPECT_EQ(p.cases[0].calls.at(0).checks.size(), 2u);
    EXPECT_EQ(p.faults, (std::vector<std::string>{"line 8: unknown line kind \"expect\"",
                                                  "line 10: a given after the case's first call",
                                                  "line 11: a \"span\" line with 3 fields",
                                                  "line 12: a carriage return (the file's lines end in LF only)"}));
}

// ---- the cases ----

TEST(ContractCasesTest, TheFileIsWellFormed) {
    const Parsed& p = theCases();
    ASSERT_FALSE(p.cases.empty()) << "no cases read from addin/contract.cases";
    for (const auto& f : p.faults) ADD_FAILURE() << "addin/contract.cases " << f;
    std::set<std::string> names;
    for (const Case& c : p.cases) {
        EXPECT_TRUE(names.insert(c.name).second) << "line " << c.line << ": a second case named " << c.name;
        EXPECT_FALSE(c.calls.empty()) << "line " << c.line << ": case " << c.name << " calls nothing";
        for (const Call& call : c.calls) {
            const bool answered = std::any_of(call.checks.begin(), call.checks.end(),
                                              [](const Line& l) { return l.fields[0] == "answer"; });
            EXPECT_TRUE(answered) << "line " << call.call.number << ": case " << c.name
                                  << ": a call without an answer line, which the self-test could not check";
        }
    }
}

TEST(ContractCasesTest, EveryCaseHoldsForTheStandIn) {
    for (const Case& c : theCases().cases) {
        const std::string why = runCase(c);
        if (!why.empty()) ADD_FAILURE() << "addin/contract.cases " << why << " (case " << c.name << ")";
    }
}

// Each macro is checked by some case that the self-test can run in the program itself.
TEST(ContractCasesTest, EveryMacroHasACaseTheProgramCanRun) {
    std::set<std::string> runnable;
    for (const Case& c : theCases().cases) {
        const bool settable = std::all_of(c.givens.begin(), c.givens.end(),
                                          [](const Line& g) { return keysSetInTheProgram.count(g.fields[1]) > 0; });
        if (!settable) continue;
        for (const Call& call : c.calls) runnable.insert(call.call.fields[1]);
    }
    for (const char* macro : {"SCBT_Geom", "SCBT_Where", "SCBT_Zoom", "SCBT_Version", "SCBT_Slide", "SCBT_Theme",
                              "SCBT_Insert", "SCBT_LinkQuery"}) {
        EXPECT_TRUE(runnable.count(macro)) << macro;
    }
}

// A case that departs is reported with its name and line: a copy of a case with one answer
// changed fails, and names that line.
TEST(ContractCasesTest, ADepartingCaseIsNamedWithItsLine) {
    const Parsed p = parseCases("case\tversion\ngiven\taddin.version\t1.2.3\ncall\tSCBT_Version\nanswer\tOK|1.2.3\n"
                                "case\twrong\ngiven\taddin.version\t1.2.3\ncall\tSCBT_Version\nanswer\tOK|1.2.*\n"
                                "exactly\tOK|1.2.4\n"
                                "case\tspan\ngiven\tzoom\t50\ncall\tSCBT_Geom\n"
                                "answer\tOK|*|*|{L}|*|{R}|*|*|*|*|*|*|*|*|*|*\n"
                                "span\t{L}\t{R}\t960\n"
                                "case\tspan of nothing\ncall\tSCBT_Version\nanswer\tOK|{V}\nspan\t\t{V}\t1\n");
    ASSERT_TRUE(p.faults.empty());
    ASSERT_EQ(p.cases.size(), 4u);
    EXPECT_EQ(runCase(p.cases[0]), "");
    EXPECT_EQ(runCase(p.cases[1]), "line 9: SCBT_Version answered \"OK|1.2.3\", not exactly \"OK|1.2.4\"");
    // At 50 % the slide is 480 points wide on the screen.
    EXPECT_EQ(runCase(p.cases[2]), "line 14: {R} - {L} is 480, not 960");
    EXPECT_EQ(runCase(p.cases[3]), "line 18: a span of names not bound to numbers, or without a number");
}
