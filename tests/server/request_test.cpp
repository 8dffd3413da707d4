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
                             " folded: line\r\n"
                             "@AZ[`az{09~ThE-LoNg-NAME: MiXeD\r\n"));
    EXPECT_EQ(r.headers, (Map{{"content-type", "text/plain"},
                              {"x-dup", "two"},
                              {"referer", "http://h:1/a?b=c"},
                              {"empty", ""},
                              {"folded", "line"},
                              {"@az[`az{09~the-long-name", "MiXeD"}}));
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
    // Names are compared after case mapping, also when it is Unicode's (dotted capital I).
    EXPECT_EQ(outcome(post("TRANSFER-ENCOD\xC4\xB0NG: x\r\n")), "bad 411");
    EXPECT_EQ(outcome(post("Content-Length: 3\r\nEXPECT: 100-CONT\xC4\xB0NUE\r\n")),
              "partial+continue");
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

// Hands `data` over `chunk` bytes at a time with one progress, as a connection does, and
// checks every answer against reading the same bytes from their start.
void expectSameInChunks(const std::string& data, std::size_t chunk) {
    Request::Progress progress;
    for (std::size_t n = std::min(chunk, data.size());; n = std::min(n + chunk, data.size())) {
        const auto prefix = std::string_view(data).substr(0, n);
        ASSERT_EQ(Request::parse(prefix, progress), Request::parse(prefix))
            << "chunks of " << chunk << ", " << n << " of " << data.size() << " bytes: "
            << testing::PrintToString(data.substr(0, 80));
        if (n == data.size()) break;
    }
}

TEST(RequestProgressTest, AnswersAsTheWholeBufferDoesWhateverTheChunks) {
    const std::string requests[] = {
        get("/a%20b?c=d+e&c=f", "Host: x\r\nAccept:  */* \r\n"),
        post("Content-Length: 11\r\nExpect: 100-continue\r\n", "{\"dx\":1.5}\nGET / HTTP/1.1"),
        post("Transfer-Encoding: chunked\r\n", "5\r\nabcde\r\n0\r\n\r\n"),
        post("Content-Length: 67108865\r\n", "abc"),
        post("Content-Length: 1x\r\n", "abc"),
        "GET /caf\xE9 HTTP/1.1\r\nX-Name: Ren\xE9\r\n\r\n",
        "GET\r\n\r\n",
        // Bare LFs, and bytes one above an LF, next to the end (and on every side of the
        // eight-byte words the search reads).
        "GET / HTTP/1.1\r\nA: \n\x0B\n\r\n\x0B\r\r\n\r\n",
        // Two ends close together: the first one ends the block.
        post("Content-Length: 4\r\n", "\r\n\r\n\r\n"),
    };
    for (const auto& request : requests) {
        for (const std::size_t chunk : {1, 2, 3, 4, 5, 7, 8, 9, 31, 63, 64, 65, 4096}) {
            expectSameInChunks(request, chunk);
        }
    }
    EXPECT_EQ(ready(post("Content-Length: 4\r\n", "\r\n\r\n\r\n")).body, "\r\n\r\n");
}

TEST(RequestProgressTest, KeepsTheHeaderLimitsWhenTheBlockTrickles) {
    const std::string start = "GET /a HTTP/1.1\r\nX: ";
    const std::string atLimit = start + std::string(Request::maxHead - start.size(), 'a');
    for (const std::size_t chunk : {1000, 4093}) {
        expectSameInChunks(atLimit + "a", chunk);          // 431 once the limit is passed
        expectSameInChunks(atLimit + "\r\n\r\n", chunk);   // whole at the limit: ready
        expectSameInChunks(atLimit + "a\r\n\r\n", chunk);  // whole but too long: 400
    }
    Request::Progress progress;
    EXPECT_EQ(Request::parse(atLimit, progress), Request::Parse{Request::Partial{}});
    EXPECT_EQ(Request::parse(atLimit + "a", progress), Request::Parse{Request::Bad{431}});
    // After refusing, the same progress reads the next buffer from its start.
    const auto next = "GET /q\r\n\r\n" + std::string(Request::maxHead, 'x');
    EXPECT_EQ(outcome(next), "ready");
    EXPECT_EQ(Request::parse(next, progress), Request::parse(next));
}

TEST(RequestProgressTest, StartsAfreshAfterAnAnswerOrOnAnotherBuffer) {
    Request::Progress progress;
    const auto first = post("Content-Length: 5\r\n", "abcde");
    EXPECT_EQ(Request::parse(first.substr(0, first.size() - 2), progress),
              Request::Parse{Request::Partial{}});
    EXPECT_EQ(Request::parse(first, progress), Request::parse(first));

    // Once a request was handed over, the same progress serves the next buffer, read from
    // its start however far the search got in the last one.
    const auto second = get("/second", "Host: y\r\nContent-Length: 0\r\n");
    EXPECT_EQ(Request::parse(second, progress), Request::parse(second));
    EXPECT_EQ(Request::parse(second.substr(0, 30), progress), Request::Parse{Request::Partial{}});
    EXPECT_EQ(Request::parse(second, progress), Request::parse(second));
    const auto third = "GET /z\r\n\r\n" + std::string(40, 'x');
    EXPECT_EQ(Request::parse(third, progress), Request::parse(third));

    // A buffer shorter than the last one is not the one the progress belongs to.
    EXPECT_EQ(Request::parse(post("Content-Length: 9\r\n", "abc"), progress),
              Request::Parse{Request::Partial{}});
    EXPECT_EQ(Request::parse("GET /x\r\n\r\n", progress), Request::parse("GET /x\r\n\r\n"));
    EXPECT_EQ(Request::parse("GET /x HTTP/1.1\r\nHo", progress),
              Request::Parse{Request::Partial{}});
    EXPECT_EQ(Request::parse("GET /y\r\n\r\n", progress), Request::parse("GET /y\r\n\r\n"));
}

} // namespace
