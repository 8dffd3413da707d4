#pragma once
// Unicode text helpers: user-perceived characters, blanks and case, as people see text.
#include <cstddef>
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

} // namespace scribbet::text
