#include <gtest/gtest.h>

#include "app/link.hpp"

using namespace scribbet;

namespace {

TEST(LinkTest, ReadsCommandAndQueryCaseInsensitiveSchemeAndHost) {
    auto l = Link::parse("SCRIBBET://Draw?g=&tool=Shape:Rect");
    ASSERT_TRUE(l);
    EXPECT_EQ(l->command, "draw");
    EXPECT_EQ(l->value("g"), "");
    EXPECT_EQ(l->value("tool"), "Shape:Rect");
    EXPECT_EQ(l->value("missing"), std::nullopt);
}

TEST(LinkTest, FirstOccurrenceWinsPlusStaysAndEscapesAreDecoded) {
    auto l = Link::parse("scribbet://draw?tool=select&tool=pen&g=1%7C2+3%2C4&flag&n%61me=v=w");
    ASSERT_TRUE(l);
    EXPECT_EQ(l->value("tool"), "select");
    EXPECT_EQ(l->value("g"), "1|2+3,4");
    EXPECT_EQ(l->value("flag"), "");
    EXPECT_EQ(l->value("name"), "v=w");
}

TEST(LinkTest, PathFragmentUserAndPortAreIgnored) {
    auto l = Link::parse("scribbet://user@status:99/some/path?x=1#frag");
    ASSERT_TRUE(l);
    EXPECT_EQ(l->command, "status");
    EXPECT_EQ(l->value("x"), "1");
}

TEST(LinkTest, NoDoubleSlashMeansNoCommand) {
    auto l = Link::parse("scribbet:draw");
    ASSERT_TRUE(l);
    EXPECT_EQ(l->command, "");
}

TEST(LinkTest, OtherSchemesAndNonLinksAreRefused) {
    for (const char* text : {"http://x", "x", "", "scribbet ://draw", "scribbet://draw?g=a b", "scribbet://draw?g=%zz",
                             "://draw", "scribbet://dr aw", "\xff\xfe"}) {
        EXPECT_FALSE(Link::parse(text)) << text;
    }
}

TEST(LinkTest, DecodedBytesThatAreNotUtf8AreMadeSafe) {
    auto l = Link::parse("scribbet://draw?g=%FF1");
    ASSERT_TRUE(l);
    EXPECT_EQ(l->value("g"), "\uFFFD1");
}

} // namespace
