#include <gtest/gtest.h>

#include <map>

#include "app/layer_tool.hpp"
#include "app/settings.hpp"
#include "base/text.hpp"

using namespace scribbet;

namespace {

Settings readWith(std::map<std::string, std::string> env) {
    return Settings::read([&](const char* name) -> std::optional<std::string> {
        auto it = env.find(name);
        if (it == env.end()) return std::nullopt;
        return it->second;
    });
}

TEST(SettingsTest, PortTakesDecimalsInRangeAndFallsBackOnAnythingElse) {
    EXPECT_EQ(readWith({}).port, 3921);
    EXPECT_EQ(readWith({{"SCRIBBET_PORT", "+8080"}}).port, 8080);
    EXPECT_EQ(readWith({{"SCRIBBET_PORT", "65535"}}).port, 65535);
    EXPECT_EQ(readWith({{"SCRIBBET_PORT", "007"}}).port, 7);
    EXPECT_EQ(Settings::parsePort("-0"), 0);
    EXPECT_EQ(Settings::parsePort("-00"), 0);
    // Zero reads as a number but can't be listened on or put in the page's address.
    EXPECT_EQ(readWith({{"SCRIBBET_PORT", "0"}}).port, 3921);
    EXPECT_EQ(readWith({{"SCRIBBET_PORT", "-0"}}).port, 3921);
    for (const char* bad : {"70000", "65536", "letters", "", "+", "-", "-1", " 80", "80 ", "8o", "99999999999999999999",
                            "0x50", "1e3", "８０"}) {
        EXPECT_EQ(readWith({{"SCRIBBET_PORT", bad}}).port, 3921) << "value '" << bad << "'";
    }
}

TEST(SettingsTest, TextsTakeAnyNonEmptyValueUnchanged) {
    const auto d = readWith({{"SCRIBBET_MACRO_PREFIX", ""}, {"SCRIBBET_ADDIN_NAME", ""}});
    EXPECT_EQ(d.macroPrefix, "SCBT_Pen.");
    EXPECT_EQ(d.addinName, "Scribbet");
    const auto s = readWith({{"SCRIBBET_MACRO_PREFIX", " My.Mod "}, {"SCRIBBET_ADDIN_NAME", "Other"}});
    EXPECT_EQ(s.macroPrefix, " My.Mod ");
    EXPECT_EQ(s.addinName, "Other");
}

TEST(SettingsTest, OnlyOneTurnsTestModeOnAndTestModeSkipsTheScriptCopy) {
    EXPECT_FALSE(readWith({{"SCRIBBET_TEST", "true"}}).testing);
    EXPECT_FALSE(readWith({{"SCRIBBET_TEST", "1 "}}).testing);
    EXPECT_FALSE(readWith({{"SCRIBBET_NO_SCRIPT_COPY", "yes"}}).noScriptCopy);
    EXPECT_TRUE(readWith({{"SCRIBBET_NO_SCRIPT_COPY", "1"}}).noScriptCopy);
    const auto t = readWith({{"SCRIBBET_TEST", "1"}, {"SCRIBBET_NO_SCRIPT_COPY", "0"}});
    EXPECT_TRUE(t.testing);
    EXPECT_TRUE(t.noScriptCopy);
}

TEST(LayerToolTest, NamesAreTrimmedLowerCasedAndUnknownOnesBecomeThePen) {
    EXPECT_EQ(LayerTool::from(std::nullopt), "");
    EXPECT_EQ(LayerTool::from(""), "");
    EXPECT_EQ(LayerTool::from(" \t\u00A0\u3000 "), "");
    EXPECT_EQ(LayerTool::from("Shape:Rect"), "shape:rect");
    EXPECT_EQ(LayerTool::from("\u2003 SELECT\t"), "select");
    EXPECT_EQ(LayerTool::from("marker"), "pen");
    // The ribbon's and the Impress toolbar's Highlighter button: the layer opens with the highlighter.
    EXPECT_EQ(LayerTool::from("highlighter"), "highlighter");
    // Line breaks are not blanks: the name is then not known.
    EXPECT_EQ(LayerTool::from("direct\n"), "pen");
    for (auto name : LayerTool::known) EXPECT_EQ(LayerTool::from(std::string(name)), name);
}

TEST(TextTest, PrefixCountsWhatPeopleSeeAsOneCharacter) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467"; // one grapheme
    const std::string accented = "e\u0301";                                  // e + combining acute
    EXPECT_EQ(text::prefix(family + accented + "xyz", 2), family + accented);
    EXPECT_EQ(text::prefix("\r\nab", 1), "\r\n");
    EXPECT_EQ(text::prefix("abc", 120), "abc");
    EXPECT_EQ(text::prefix("", 5), "");
    // Invalid bytes count one each and never reach the log as broken UTF-8.
    EXPECT_EQ(text::prefix("\xff\xfe" "a", 2), "\uFFFD\uFFFD");
}

} // namespace
