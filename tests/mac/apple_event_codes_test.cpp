#include <gtest/gtest.h>

#include "adapters/mac/apple_event_codes.hpp"
#include "program/ppt.hpp"

using namespace scribbet;
using namespace scribbet::mac;

namespace {

TEST(AppleEventCodesTest, PacksTheFirstCharacterHighestAndBytesUnsigned) {
    EXPECT_EQ(fourCharCode("sPPT"), 0x73505054u);
    EXPECT_EQ(fourCharCode("----"), 0x2D2D2D2Du);
    // MacRoman bytes above 0x7F must not sign-extend into the bytes before them.
    EXPECT_EQ(fourCharCode("\xFF\x80\x01\x7F"), 0xFF80017Fu);
    EXPECT_EQ(fourCharCode("\x80\x00\x00\x00"), 0x80000000u);
    static_assert(fourCharCode("GURL") == 0x4755524Cu, "usable where the SDK's constants are compared");
}

TEST(AppleEventCodesTest, TheAdaptersCodesAreTheOnesTheBridgeNames) {
    // The core packs codes from texts at run time; the adapter's compile-time ones must agree.
    const std::pair<FourCharCode, const char*> codes[] = {
        {ae::macroEventClass, "sPPT"},  {ae::macroEventId, "rVbM"},       {ae::macroNameKeyword, "Str#"},
        {ae::macroArgumentsKeyword, "tpAE"}, {ae::keyErrorNumber, "errn"}, {ae::keyErrorString, "errs"},
        {ae::keyDirectObject, "----"},  {ae::internetEventClass, "GURL"}, {ae::getURLEventId, "GURL"},
        {ae::typeTrue, "true"},         {ae::typeFalse, "fals"},          {ae::typeBoolean, "bool"},
        {ae::typeUnicodeText, "utxt"},  {ae::typeChar, "TEXT"},           {ae::typeNull, "null"},
    };
    for (const auto& [code, text] : codes) EXPECT_EQ(code, fourCC(text)) << text;
}

TEST(AppleEventCodesTest, TheMacroIsSentWaitingForTheReplyAndMayAskTheUser) {
    EXPECT_EQ(ae::macroSendOptions, 0x23u);
    EXPECT_EQ(ae::autoGenerateReturnID, -1);
    EXPECT_EQ(ae::anyTransactionID, 0);
}

} // namespace
