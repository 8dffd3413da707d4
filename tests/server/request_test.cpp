#include <gtest/gtest.h>

#include <string>

#include "server/request.hpp"

namespace scribbet {
// Readable failures when whole requests are compared.
void PrintTo(const Request& r, std::ostream* os) {
    *os << r.method << " " << testing::PrintToString(r.path)
        << " query=" << testing::PrintToString(r.query)
        << " headers=" << testing::PrintToString(r.headers)
        << " body=" << testing::PrintToString(r.body);
}
} // namespace scribbet

using namespace scribbet;

namespace {

using Map = std::map<std::string, std::string>;

// What a parse decided, as text, so that a wrong kind of result shows in the failure.
std::string outcome(std::string_view data) {
    const auto parsed = Request::parse(data);
    if (const auto* p = std::get_if<Request::Partial>(&parsed)) {
        return p->expectContinue ? "partial+continue" : "partial";
    }
    if (const auto* bad = std::get_if<Request::Bad>(&parsed)) {
        return "bad " + std::to_string(bad->status);
    }
    return "ready";
}

Request ready(std::string_view data) {
    const auto parsed = Request::parse(data);
    const auto* request = std::get_if<Request>(&parsed);
    EXPECT_NE(request, nullptr) << outcome(data) << ": " << data.substr(0, 200);
    return request ? *request : Request{};
}

std::string get(std::string_view target, std::string_view headers = "") {
    return "GET " + std::string(target) + " HTTP/1.1\r\n" + std::string(headers) + "\r\n";
}

std::string post(std::string_view headers, std::string_view body = "") {
    return "POST /api/x HTTP/1.1\r\n" + std::string(headers) + "\r\n" + std::string(body);
}

TEST(RequestLineTest, SplitsOnRunsOfSpacesAndUpperCasesTheMethod) {
    const auto r = ready("GET /a HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(r, (Request{"GET", "/a", {}, {{"host", "x"}}, ""}));

    EXPECT_EQ(ready("get  /a\r\n\r\n"), (Request{"GET", "/a", {}, {}, ""}));
    EXPECT_EQ(ready("  put   /b   HTTP/1.1   extra \r\n\r\n").path, "/b");
    // Only spaces separate words: a tab stays inside the method.
    EXPECT_EQ(ready("GET\t/a /b\r\n\r\n").method, "GET\t/A");

    EXPECT_EQ(outcome("GET\r\n\r\n"), "bad 400");
    EXPECT_EQ(outcome("GET    \r\nHost: x\r\n\r\n"), "bad 400");
    // A leading empty line is the request line, not something to skip.
    EXPECT_EQ(outcome("\r\nGET / HTTP/1.1\r\n\r\n"), "bad 400");
}

TEST(RequestLimitTest, WaitsForTheBlankLineUpToTheHeaderLimit) {
    EXPECT_EQ(outcome(""), "partial");
    EXPECT_EQ(outcome("GET /a HTTP/1.1\r\n"), "partial");
    EXPECT_EQ(outcome("GET /a HTTP/1.1\r\n\r"), "partial");

    const std::string start = "GET /a HTTP/1.1\r\nX: ";
    const std::string atLimit = start + std::string(Request::maxHead - start.size(), 'a');
    EXPECT_EQ(outcome(atLimit), "partial");
    EXPECT_EQ(outcome(atLimit + "a"), "bad 431");

    // Arriving whole, the block is measured without its blank line.
    EXPECT_EQ(ready(atLimit + "\r\n\r\n").headers.at("x").size(), atLimit.size() - start.size());
    EXPECT_EQ(outcome(atLimit + "a\r\n\r\n"), "bad 400");
    // Once the block has ended, a large body is no reason for 431.
    const std::string big(Request::maxHead * 2, 'b');
    EXPECT_EQ(ready(post("Content-Length: " + std::to_string(big.size()) + "\r\n", big)).body, big);
}

TEST(RequestLimitTest, BareLineFeedsNeverEndTheHeaderBlock) {
    std::string data = "GET /a HTTP/1.1\n\n\n\r\n\n\r\r\n";
    EXPECT_EQ(outcome(data), "partial");
    while (data.size() <= Request::maxHead) data += "X: y\n\n";
    EXPECT_EQ(outcome(data), "bad 431");
}

TEST(RequestHeaderTest, TrimsLowerCasesAndKeepsTheLastValue) {
    const auto r = ready(get("/",
                             "  Content-TYPE \t:\t text/plain  \r\n"
                             "X-Dup: one\r\n"
                             "x-dup: two\r\n"
                             "no colon here\r\n"
                             "Referer: http://h:1/a?b=c\r\n"
                             "Empty:\r\n"
                             " folded: line\r\n"));
    EXPECT_EQ(r.headers, (Map{{"content-type", "text/plain"},
                              {"x-dup", "two"},
                              {"referer", "http://h:1/a?b=c"},
                              {"empty", ""},
                              {"folded", "line"}}));
}

TEST(RequestHeaderTest, TrimsUnicodeSpaceSeparatorsButNotOtherCharacters) {
    // No-break, em and ideographic spaces go; U+200B (not a separator) and a CR stay.
    const auto r = ready(get("/",
                             "\xC2\xA0Name\xE3\x80\x80: \xE3\x80\x80v\xE2\x80\x8B\xC2\xA0\r\n"
                             "Emoji:\xE2\x80\x83\xF0\x9F\x98\x80\xE3\x80\x80\r\n"
                             "Blank: \xC2\xA0\t\xE3\x80\x80\r\n"
                             "Cr: x\r\r\n"));
    EXPECT_EQ(r.headers, (Map{{"name", "v\xE2\x80\x8B"},
                              {"emoji", "\xF0\x9F\x98\x80"},
                              {"blank", ""},
                              {"cr", "x\r"}}));
}

TEST(RequestHeaderTest, FallsBackToLatin1WhenTheBlockIsNotUtf8) {
    const auto latin = ready("GET /caf\xE9 HTTP/1.1\r\nX-Name: Ren\xE9\r\n\r\n");
    EXPECT_EQ(latin.headers.at("x-name"), "Ren\xC3\xA9");
    EXPECT_EQ(latin.path, "/caf\xC3\xA9");
    // Valid UTF-8 is taken as it is, not converted a second time.
    EXPECT_EQ(ready(get("/", "A: Ren\xC3\xA9\r\n")).headers.at("a"), "Ren\xC3\xA9");
    // Overlong forms and encoded surrogates are not UTF-8 either.
    EXPECT_EQ(ready(get("/", "A: \xC0\xAF\r\n")).headers.at("a"), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(ready(get("/", "A: \xED\xA0\x80\r\n")).headers.at("a"), "\xC3\xAD\xC2\xA0\xC2\x80");
}

TEST(RequestBodyTest, WaitsForTheWholeBodyAndTakesExactlyItsLength) {
    EXPECT_EQ(outcome(post("Content-Length: 5\r\n", "abc")), "partial");
    EXPECT_EQ(outcome(post("Content-Length: 5\r\nExpect: 100-Continue\r\n", "abc")),
              "partial+continue");
    EXPECT_EQ(outcome(post("Content-Length: 5\r\nEXPECT:  100-CONTINUE \r\n")), "partial+continue");
    EXPECT_EQ(outcome(post("Content-Length: 5\r\nExpect: 100-continue-ish\r\n")), "partial");
    EXPECT_EQ(ready(post("Content-Length: 5\r\nExpect: 100-continue\r\n", "abcdefg")).body,
              "abcde");

    // Body bytes are bytes: no decoding, NULs and CR LF CR LF kept.
    const std::string raw("\xFF\0\r\n\r\n\xE9", 7);
    EXPECT_EQ(ready(post("Content-Length: 7\r\n", raw)).body, raw);
    EXPECT_EQ(ready(post("", "no length, no body")).body, "");
}

TEST(RequestBodyTest, AcceptsOnlyPlainNonNegativeDecimalLengths) {
    for (const char* bad : {"abc", "-1", "", "5 5", "5a", "0x5", "+-5", "-", "\xEF\xBC\x95"}) {
        EXPECT_EQ(outcome(post(std::string("Content-Length: ") + bad + "\r\n", "12345")), "bad 400")
            << bad;
    }
    EXPECT_EQ(ready(post("Content-Length: +5\r\n", "12345")).body, "12345");
    EXPECT_EQ(ready(post("Content-Length: -0\r\n", "12345")).body, "");

    EXPECT_EQ(outcome(post("Content-Length: 67108864\r\n")), "partial");
    EXPECT_EQ(outcome(post("Content-Length: 67108865\r\n")), "bad 413");
    // Too large for any integer type is still too large, not malformed.
    EXPECT_EQ(outcome(post("Content-Length: 18446744073709551617\r\n")), "bad 413");
    EXPECT_EQ(outcome(post("Content-Length: -99999999999999999999999\r\n")), "bad 400");
}

TEST(RequestBodyTest, RefusesAnyTransferEncoding) {
    EXPECT_EQ(outcome(post("Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", "12345")),
              "bad 411");
    EXPECT_EQ(outcome(post(" TRANSFER-encoding :\r\n")), "bad 411");
    // It is decided before the length is even looked at.
    EXPECT_EQ(outcome(post("Content-Length: nope\r\nTransfer-Encoding: x\r\n")), "bad 411");
}

TEST(RequestTargetTest, DecodesPathAndQuery) {
    EXPECT_EQ(ready(get("/p%20q?a+b=c%2Bd&flag&&=e")),
              (Request{"GET", "/p q", {{"a b", "c+d"}, {"flag", ""}, {"", "e"}}, {}, ""}));
    EXPECT_EQ(ready(get("/api/slide?px=800&px=900")).query, (Map{{"px", "800"}}));

    const auto r = ready(get("/a+b%C3%A9?x=1=2?y&&&q=%e9%41"));
    EXPECT_EQ(r.path, "/a+b\xC3\xA9");
    EXPECT_EQ(r.query, (Map{{"x", "1=2?y"}, {"q", "%e9%41"}}));
    EXPECT_EQ(ready(get("?")), (Request{"GET", "", {}, {}, ""}));
}

TEST(RequestTargetTest, KeepsTextUndecodedWhenDecodingFails) {
    for (const char* kept : {"/x%zz", "/ok%20then%2", "/x%", "/%FF%20", "/%C0%AF"}) {
        EXPECT_EQ(ready(get(kept)).path, kept);
    }
    EXPECT_EQ(ready(get("/%00")).path, std::string("/\0", 2));
    // In the query the plus signs are still spaces when the escapes are kept.
    EXPECT_EQ(ready(get("/?v=%E0&a+b%=c+%zz")).query, (Map{{"v", "%E0"}, {"a b%", "c %zz"}}));
}

TEST(RequestReparseTest, GivesTheSameAnswerWhateverArrivesLater) {
    const std::string whole =
        "POST /api/overlay/nudge?id=7 HTTP/1.1\r\nContent-Length: 11\r\n"
        "Expect: 100-continue\r\n\r\n{\"dx\":1.5}\n";
    const auto blankLine = whole.find("\r\n\r\n") + 4;
    for (std::size_t n = 0; n < whole.size(); ++n) {
        EXPECT_EQ(outcome(whole.substr(0, n)), n < blankLine ? "partial" : "partial+continue") << n;
    }
    const auto expected = ready(whole);
    EXPECT_EQ(expected.body, "{\"dx\":1.5}\n");
    EXPECT_EQ(ready(whole + "GET /next HTTP/1.1\r\n\r\n"), expected);
}

} // namespace
