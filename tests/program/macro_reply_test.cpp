#include <gtest/gtest.h>

#include "program/macro_reply.hpp"

using namespace scribbet;

namespace {

using Parts = std::vector<std::string>;

TEST(MacroReplyTest, AnswersKeepTheirFieldsAndWriteBackAsTheyCame) {
    const MacroReply bare = fromMacro("OK");
    EXPECT_TRUE(bare.ok);
    EXPECT_FALSE(bare.hasFields());
    EXPECT_EQ(bare.fields(), "");
    EXPECT_EQ(bare.text(), "OK");

    // "OK|" is an answer with one empty field, not a bare "OK".
    const MacroReply empty = fromMacro("OK|");
    EXPECT_TRUE(empty.hasFields());
    EXPECT_EQ(empty.text(), "OK|");
    EXPECT_NE(empty, bare);

    const MacroReply two = fromMacro("OK|a|b");
    EXPECT_EQ(two.parts, (Parts{"a", "b"}));
    EXPECT_EQ(two.fields(), "a|b");
    EXPECT_EQ(two.fields(1), "b");
    EXPECT_EQ(two.fields(2), "");
    EXPECT_EQ(two.text(), "OK|a|b");
    EXPECT_TRUE(two.error.empty());
    EXPECT_FALSE(two.addinMissing);
    EXPECT_EQ(replyError(two), "OK|a|b"); // an answer is shown as it stands

    // A geometry answer's text after the prefix survives, empty fields and all.
    EXPECT_EQ(fromMacro("OK|960|540||x|").fields(), "960|540||x|");
    EXPECT_TRUE(conventional("OK") && conventional("OK|") && conventional("OK|a|b"));
}

TEST(MacroReplyTest, FailuresCarryTheirSentence) {
    const MacroReply r = fromMacro("ERR|The slide is locked.");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.hasFields());
    EXPECT_EQ(r.error, "The slide is locked.");
    EXPECT_EQ(replyError(r), "The slide is locked.");
    EXPECT_EQ(r.fields(), ""); // a failure has no fields to read
    EXPECT_EQ(r.text(), "ERR|The slide is locked.");
    EXPECT_EQ(r, MacroReply::failure("The slide is locked."));

    // A bar in the sentence stays in it; the parts cut it as the convention does.
    const MacroReply barred = fromMacro("ERR|one|two");
    EXPECT_EQ(barred.error, "one|two");
    EXPECT_EQ(barred.parts, (Parts{"one", "two"}));
    EXPECT_EQ(barred, MacroReply::failure("one|two"));

    const MacroReply blank = fromMacro("ERR|");
    EXPECT_EQ(blank.error, "");
    EXPECT_EQ(blank.parts, Parts{""});
    EXPECT_EQ(blank, MacroReply::failure(""));
    EXPECT_EQ(blank.text(), "ERR|");
    EXPECT_TRUE(conventional("ERR|"));
}

TEST(MacroReplyTest, TextsOutsideTheConventionAreTheirOwnMessage) {
    for (const char* text : {"", "OKAY", "ERR", "ok|x", "Err|x", " OK", "Plain words"}) {
        const MacroReply r = fromMacro(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_FALSE(conventional(text)) << text;
        EXPECT_EQ(replyError(r), text);
        EXPECT_FALSE(r.addinMissing) << text;
    }
    EXPECT_TRUE(fromMacro("").parts.empty());
    EXPECT_EQ(fromMacro("ok|x").parts, Parts{"x"});
}

TEST(MacroReplyTest, OnlyAFailureOfItsOwnKindSaysTheAddinIsMissing) {
    const MacroReply missing = MacroReply::failure("Not there.", true);
    EXPECT_TRUE(missing.addinMissing);
    EXPECT_EQ(missing.text(), "ERR|Not there.");
    EXPECT_NE(missing, MacroReply::failure("Not there."));
    // The add-in's own words never make it missing, whatever they say.
    EXPECT_FALSE(fromMacro("ERR|The Scribbet add-in is not loaded in PowerPoint yet.").addinMissing);
}

} // namespace
