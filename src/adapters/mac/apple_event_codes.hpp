#pragma once
// The Apple-event codes the macOS adapters send and read, written as the numbers the SDK
// names them by. Plain C++, so the tables can be tested anywhere; every .mm that uses one
// ties it to the SDK's own constant with a static_assert, so a Mac build catches a typo.
#include <cstddef>
#include <cstdint>

namespace scribbet::mac {

using FourCharCode = std::uint32_t;

// Packs exactly four characters, the first in the highest byte: fourCharCode("GURL").
// A literal of another length does not compile. Bytes count as unsigned, so a code with a
// byte above 0x7F (MacRoman) packs the same whether char is signed or not.
template <std::size_t N>
constexpr FourCharCode fourCharCode(const char (&code)[N]) {
    static_assert(N == 5, "a four-char code has exactly four characters");
    FourCharCode value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(code[i]);
    return value;
}

namespace ae {

// The add-in's macro event and its parameters.
inline constexpr FourCharCode macroEventClass = fourCharCode("sPPT");
inline constexpr FourCharCode macroEventId = fourCharCode("rVbM");
inline constexpr FourCharCode macroNameKeyword = fourCharCode("Str#");
inline constexpr FourCharCode macroArgumentsKeyword = fourCharCode("tpAE");

// Reply and event parameters every Apple event shares.
inline constexpr FourCharCode keyDirectObject = fourCharCode("----");
inline constexpr FourCharCode keyErrorNumber = fourCharCode("errn");
inline constexpr FourCharCode keyErrorString = fourCharCode("errs");

// The get-URL event that brings links of our scheme (kInternetEventClass, kAEGetURL).
inline constexpr FourCharCode internetEventClass = fourCharCode("GURL");
inline constexpr FourCharCode getURLEventId = fourCharCode("GURL");

// Descriptor types a script's result may come back as.
inline constexpr FourCharCode typeTrue = fourCharCode("true");
inline constexpr FourCharCode typeFalse = fourCharCode("fals");
inline constexpr FourCharCode typeBoolean = fourCharCode("bool");
inline constexpr FourCharCode typeUnicodeText = fourCharCode("utxt");
inline constexpr FourCharCode typeUTF8Text = fourCharCode("utf8");
inline constexpr FourCharCode typeUTF16ExternalRepresentation = fourCharCode("ut16");
inline constexpr FourCharCode typeChar = fourCharCode("TEXT");
inline constexpr FourCharCode typeStyledText = fourCharCode("STXT");
inline constexpr FourCharCode typeIntlText = fourCharCode("itxt");
inline constexpr FourCharCode typeNull = fourCharCode("null");

// Creating and sending: a return ID made by the system, no transaction, and the send options
// wait-for-reply (3) with can-interact (32), so the program may show the user a message.
inline constexpr std::int16_t autoGenerateReturnID = -1;
inline constexpr std::int32_t anyTransactionID = 0;
inline constexpr std::uint32_t sendWaitForReply = 0x3;
inline constexpr std::uint32_t sendCanInteract = 0x20;
inline constexpr std::uint32_t macroSendOptions = sendWaitForReply | sendCanInteract;

} // namespace ae
} // namespace scribbet::mac
