#include "base/text.hpp"

#include <utf8proc.h>

#include <vector>

namespace scribbet::text {

namespace {
constexpr utf8proc_int32_t replacement = 0xFFFD;

// Code points of the text, invalid bytes each becoming U+FFFD.
std::vector<utf8proc_int32_t> decode(std::string_view s) {
    std::vector<utf8proc_int32_t> out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        CodePoint cp;
        pos += codePointAt(s, pos, cp);
        out.push_back(cp < 0 ? replacement : cp);
    }
    return out;
}

std::string encode(const std::vector<utf8proc_int32_t>& cps, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) appendCodePoint(out, cps[i]);
    return out;
}

bool blank(utf8proc_int32_t cp) {
    return cp == '\t' || utf8proc_category(cp) == UTF8PROC_CATEGORY_ZS;
}
} // namespace

std::string prefix(std::string_view utf8, std::size_t n) {
    const auto cps = decode(utf8);
    if (n == 0 || cps.empty()) return {};
    std::size_t clusters = 1;
    std::size_t end = 1;
    utf8proc_int32_t state = 0;
    for (; end < cps.size(); ++end) {
        if (utf8proc_grapheme_break_stateful(cps[end - 1], cps[end], &state)) {
            if (clusters == n) break;
            ++clusters;
        }
    }
    return encode(cps, 0, end);
}

std::string trimBlanks(std::string_view utf8) {
    const auto cps = decode(utf8);
    std::size_t from = 0;
    std::size_t to = cps.size();
    while (from < to && blank(cps[from])) ++from;
    while (to > from && blank(cps[to - 1])) --to;
    return encode(cps, from, to);
}

std::string lowercased(std::string_view utf8) {
    std::string out;
    for (auto cp : decode(utf8)) appendCodePoint(out, utf8proc_tolower(cp));
    return out;
}

std::string validUtf8(std::string_view bytes) {
    const auto cps = decode(bytes);
    return encode(cps, 0, cps.size());
}

std::size_t multiByteAt(std::string_view s, std::size_t pos, CodePoint& cp) {
    const auto p = reinterpret_cast<const utf8proc_uint8_t*>(s.data()) + pos;
    const auto n = utf8proc_iterate(p, static_cast<utf8proc_ssize_t>(s.size() - pos), &cp);
    if (n <= 0) {
        cp = -1;
        return 1;
    }
    return static_cast<std::size_t>(n);
}

void appendCodePoint(std::string& out, CodePoint cp) {
    utf8proc_uint8_t buf[4];
    const auto n = utf8proc_encode_char(cp, buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

} // namespace scribbet::text
