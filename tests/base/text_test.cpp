// Decoding UTF-8 one code point at a time: the one decoder the text helpers and the request
// parser share.
#include <gtest/gtest.h>

#include <vector>

#include "base/text.hpp"

namespace scribbet {
namespace {

// Each code point of `s` as decoded, with its length, "-1" for a refused byte.
std::vector<std::pair<text::CodePoint, std::size_t>> walk(std::string_view s) {
    std::vector<std::pair<text::CodePoint, std::size_t>> out;
    for (std::size_t pos = 0; pos < s.size();) {
        text::CodePoint cp;
        const auto n = text::codePointAt(s, pos, cp);
        out.emplace_back(cp, n);
        pos += n;
    }
    return out;
}

using Steps = std::vector<std::pair<text::CodePoint, std::size_t>>;

TEST(TextDecode, ReadsEachLengthOfSequence) {
    EXPECT_EQ(walk("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (Steps{{'a', 1}, {0xE9, 2}, {0x20AC, 3}, {0x1F600, 4}}));
    EXPECT_EQ(walk(std::string_view("\0", 1)), (Steps{{0, 1}}));
}

TEST(TextDecode, RefusesMalformedSequencesOneByteAtATime) {
    // A lone continuation byte, a byte that never starts anything, an overlong slash, a
    // surrogate, a code point past U+10FFFF, and sequences cut off by the end.
    EXPECT_EQ(walk("\x80"), (Steps{{-1, 1}}));
    EXPECT_EQ(walk("\xFF" "a"), (Steps{{-1, 1}, {'a', 1}}));
    EXPECT_EQ(walk("\xC0\xAF"), (Steps{{-1, 1}, {-1, 1}}));
    EXPECT_EQ(walk("\xED\xA0\x80").front(), (std::pair<text::CodePoint, std::size_t>{-1, 1}));
    EXPECT_EQ(walk("\xF4\x90\x80\x80").front(), (std::pair<text::CodePoint, std::size_t>{-1, 1}));
    EXPECT_EQ(walk("\xE2\x82"), (Steps{{-1, 1}, {-1, 1}}));
    EXPECT_EQ(walk("\xF0\x9F\x98"), (Steps{{-1, 1}, {-1, 1}, {-1, 1}}));
    // A cut-off sequence does not swallow the character after it.
    EXPECT_EQ(walk("\xE2\x82" "b").back(), (std::pair<text::CodePoint, std::size_t>{'b', 1}));
}

TEST(TextDecode, ValidTextComesBackAsItWasAndBrokenBytesAsReplacements) {
    const std::string mixed = "x\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(text::validUtf8(mixed), mixed);
    EXPECT_EQ(text::validUtf8("a\xC0\xAF" "b\xE2\x82"), "a\uFFFD\uFFFD" "b\uFFFD\uFFFD");
    std::string out;
    for (const auto& [cp, n] : walk(mixed)) text::appendCodePoint(out, cp);
    EXPECT_EQ(out, mixed);
}

} // namespace
} // namespace scribbet
