// Building replies: JSON bodies with sorted keys, their fallback, and the head before a body.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "server/reply.hpp"

namespace scribbet {
namespace {

const std::string fallback = R"({"ok":false,"msg":"Internal error: the answer could not be written."})";

TEST(ReplyJson, WritesSortedKeysAtEveryDepth) {
    const auto reply = Reply::json(201, {{"zeta", 1}, {"alpha", {{"d", 2}, {"c", "é"}}}, {"mid", {3, 1}}});
    EXPECT_EQ(reply.code, 201);
    EXPECT_EQ(reply.type, "application/json; charset=utf-8");
    EXPECT_EQ(reply.body, R"({"alpha":{"c":"é","d":2},"mid":[3,1],"zeta":1})");
}

TEST(ReplyJson, FallsBackToTheFixedBodyWhenTheAnswerCannotBeWritten) {
    ASSERT_EQ(fallback.size(), 69u);
    const std::vector<nlohmann::json> unwritable{
        {{"msg", std::string("bad \xff byte")}},                      // not UTF-8
        {{"nested", {{"deeper", std::string("\xc3")}}}},              // cut-off sequence, deeper down
        {{"n", std::numeric_limits<double>::quiet_NaN()}},           // no JSON text for it
        {{"list", {1.0, std::numeric_limits<double>::infinity()}}},
        nlohmann::json::array({1, 2}),                                // not an object
        nullptr,
        "text",
    };
    for (const auto& value : unwritable) {
        const auto reply = Reply::json(418, value);
        EXPECT_EQ(reply.body, fallback) << value.type_name();
        EXPECT_EQ(reply.code, 418);
        EXPECT_EQ(reply.type, "application/json; charset=utf-8");
    }
    EXPECT_EQ(Reply::json(200, nlohmann::json::object()).body, "{}");
}

TEST(ReplyJson, OkSetsOkTrueOnACopy) {
    EXPECT_EQ(Reply::ok().body, R"({"ok":true})");
    const nlohmann::json map{{"ok", false}, {"app", "1.0"}};
    const auto reply = Reply::ok(map);
    EXPECT_EQ(reply.code, 200);
    EXPECT_EQ(reply.body, R"({"app":"1.0","ok":true})");
    EXPECT_EQ(map["ok"], false);
    EXPECT_EQ(Reply::ok(nlohmann::json::array()).body, fallback);
}

TEST(ReplyHead, ReasonPhrasesAndTheHeadLinesInOrder) {
    EXPECT_EQ(Reply::reason(200), "OK");
    EXPECT_EQ(Reply::reason(500), "OK"); // only the refusals have their own phrase
    EXPECT_EQ(Reply::reason(431), "Request Header Fields Too Large");
    EXPECT_EQ(Reply::reason(413), "Payload Too Large");
    EXPECT_EQ((Reply{500, "image/png", std::string(3, '\0')}).head(),
              "HTTP/1.1 500 OK\r\nContent-Type: image/png\r\nContent-Length: 3\r\n"
              "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n");
}

} // namespace
} // namespace scribbet
