#pragma once
// Unicode text helpers: user-perceived characters, blanks and case, as people see text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace scribbet::text {

// The first `n` extended grapheme clusters. Invalid UTF-8 bytes count as one character
// each and come out as U+FFFD, so what this returns is always valid UTF-8.
std::string prefix(std::string_view utf8, std::size_t n);
// Without leading and trailing spaces, tabs and other space separators (not line breaks).
std::string trimBlanks(std::string_view utf8);
std::string lowercased(std::string_view utf8);
// Invalid sequences replaced by U+FFFD.
std::string validUtf8(std::string_view bytes);

using CodePoint = std::int32_t;

// codePointAt() for a byte above ASCII.
std::size_t multiByteAt(std::string_view s, std::size_t pos, CodePoint& cp);
// Decodes the code point that starts at `pos` (< s.size()) and says how many bytes it takes.
// Strict UTF-8: an overlong form, a surrogate, anything above U+10FFFF or a cut-off sequence
// comes back as -1, one byte long, so that a caller always moves on and never reads past
// the end. ASCII takes no call.
inline std::size_t codePointAt(std::string_view s, std::size_t pos, CodePoint& cp) {
    const auto byte = static_cast<unsigned char>(s[pos]);
    if (byte < 0x80) {
        cp = byte;
        return 1;
    }
    return multiByteAt(s, pos, cp);
}
// Appends `cp` (a valid code point) in UTF-8.
void appendCodePoint(std::string& out, CodePoint cp);

} // namespace scribbet::text
