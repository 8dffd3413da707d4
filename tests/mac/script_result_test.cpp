#include <gtest/gtest.h>

#include "adapters/mac/script_result.hpp"

using namespace scribbet;
using namespace scribbet::mac;

namespace {

ScriptResult of(FourCharCode type, bool boolean = false, std::optional<std::string> text = std::nullopt) {
    return scriptResultOf(ScriptResultReading{type, boolean, std::move(text)});
}

TEST(ScriptValueTest, BooleansByTheirTypes) {
    EXPECT_TRUE(of(ae::typeTrue).isTrue());
    EXPECT_EQ(of(ae::typeFalse).value, (ScriptResult{false}.value));
    EXPECT_TRUE(of(ae::typeBoolean, true).isTrue());
    EXPECT_EQ(of(ae::typeBoolean, false).value, (ScriptResult{false}.value));
    // The type decides, not a Boolean read by coercion on the side.
    EXPECT_EQ(of(ae::typeFalse, true).value, (ScriptResult{false}.value));
}

TEST(ScriptValueTest, TextsOfEveryTextType) {
    for (FourCharCode t : {ae::typeUnicodeText, ae::typeUTF8Text, ae::typeUTF16ExternalRepresentation, ae::typeChar,
                           ae::typeStyledText, ae::typeIntlText}) {
        EXPECT_TRUE(isTextType(t));
        EXPECT_EQ(of(t, false, "loaded").value, (ScriptResult{std::string("loaded")}.value));
    }
    EXPECT_EQ(of(ae::typeUnicodeText, false, "").value, (ScriptResult{std::string()}.value));
    // The word "true" as text is no Boolean true: the reload would stop polling too soon.
    EXPECT_FALSE(of(ae::typeUnicodeText, false, "true").isTrue());
}

TEST(ScriptValueTest, EverythingElseIsNoValue) {
    using None = std::monostate;
    EXPECT_TRUE(std::holds_alternative<None>(of(ae::typeNull).value));
    EXPECT_TRUE(std::holds_alternative<None>(of(fourCharCode("long"), true, "1").value)); // a number, coercible
    EXPECT_TRUE(std::holds_alternative<None>(of(fourCharCode("list"), false, "a, b").value));
    EXPECT_TRUE(std::holds_alternative<None>(of(0).value));
    // A text type whose string could not be read.
    EXPECT_TRUE(std::holds_alternative<None>(of(ae::typeUnicodeText, false, std::nullopt).value));
    EXPECT_FALSE(isTextType(fourCharCode("long")));
}

} // namespace
