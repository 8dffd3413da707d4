#include "server/request.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace scribbet {

namespace {

using CodePoint = utf8proc_int32_t;

constexpr std::string_view headEnd = "\r\n\r\n";
constexpr std::string_view lineEnd = "\r\n";

// Steps over one code point at `pos`. Invalid bytes come back as -1, one byte long, so
// callers always make progress and never read past the end.
std::size_t nextCodePoint(std::string_view s, std::size_t pos, CodePoint& cp) {
    // Header blocks are almost all ASCII; a header block is re-read on every chunk.
    if (static_cast<unsigned char>(s[pos]) < 0x80) {
        cp = static_cast<unsigned char>(s[pos]);
        return 1;
    }
    const auto p = reinterpret_cast<const utf8proc_uint8_t*>(s.data()) + pos;
    const auto n = utf8proc_iterate(p, static_cast<utf8proc_ssize_t>(s.size() - pos), &cp);
    if (n <= 0) {
        cp = -1;
        return 1;
    }
    return static_cast<std::size_t>(n);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view s) {
    for (std::size_t pos = 0; pos < s.size();) {
        CodePoint cp;
        pos += nextCodePoint(s, pos, cp);
        if (cp < 0) return false;
    }
    return true;
}

// Every ISO 8859-1 byte is the code point of the same number, so this cannot fail.
std::string latin1ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

void appendCodePoint(std::string& out, CodePoint cp) {
    utf8proc_uint8_t buf[4];
    const auto n = utf8proc_encode_char(cp, buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

enum class Case { upper, lower };

// Simple (one-to-one) case mapping, code point by code point. Methods and header names are
// ASCII in practice; this just keeps anything else intact.
std::string mapCase(std::string_view s, Case to) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        CodePoint cp;
        const auto n = nextCodePoint(s, pos, cp);
        if (cp < 0) {
            out.append(s.substr(pos, n));
        } else if (cp < 0x80) {
            const char c = static_cast<char>(cp);
            if (to == Case::upper) {
                out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            } else {
                out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            }
        } else {
            appendCodePoint(out, to == Case::upper ? utf8proc_toupper(cp) : utf8proc_tolower(cp));
        }
        pos += n;
    }
    return out;
}

bool isBlank(CodePoint cp) {
    if (cp < 0x80) return cp == ' ' || cp == '\t';
    return utf8proc_category(cp) == UTF8PROC_CATEGORY_ZS;
}

// Where the code point that ends just before `end` starts, never going below `floor`.
std::size_t previousCodePoint(std::string_view s, std::size_t floor, std::size_t end) {
    auto pos = end - 1;
    const auto continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
    };
    while (pos > floor && end - pos < 4 && continuation(pos)) --pos;
    return pos;
}

// Trims tabs and every Unicode space separator; CR and LF are not white space here. Only
// the blanks at either end are looked at, so a long value costs nothing extra.
std::string_view trim(std::string_view s) {
    std::size_t first = 0;
    while (first < s.size()) {
        CodePoint cp;
        const auto n = nextCodePoint(s, first, cp);
        if (!isBlank(cp)) break;
        first += n;
    }
    std::size_t last = s.size();
    while (last > first) {
        const auto pos = previousCodePoint(s, first, last);
        CodePoint cp;
        // A code point that does not end exactly at `last` is a broken sequence: not blank.
        if (pos + nextCodePoint(s, pos, cp) != last || !isBlank(cp)) break;
        last = pos;
    }
    return s.substr(first, last - first);
}

// Pieces between separators; with dropEmpty, runs of separators count as one.
std::vector<std::string_view> split(std::string_view s, std::string_view sep, bool dropEmpty) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const auto at = s.find(sep, start);
        const auto piece = s.substr(start, at == std::string_view::npos ? s.npos : at - start);
        if (!dropEmpty || !piece.empty()) pieces.push_back(piece);
        if (at == std::string_view::npos) break;
        start = at + sep.size();
    }
    return pieces;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Nothing when an escape is malformed or the decoded bytes are not UTF-8: the caller then
// keeps the text as it came, rather than handing on half-decoded or invalid text.
std::optional<std::string> percentDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (s.size() - i < 3) return std::nullopt;
        const int hi = hexValue(s[i + 1]);
        const int lo = hexValue(s[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    if (!isUtf8(out)) return std::nullopt;
    return out;
}

// Form encoding: "+" is a space, and a "+" meant literally arrives as "%2B".
std::string formDecode(std::string_view s) {
    std::string plussed(s);
    for (char& c : plussed) {
        if (c == '+') c = ' ';
    }
    auto decoded = percentDecode(plussed);
    return decoded ? std::move(*decoded) : std::move(plussed);
}

std::map<std::string, std::string> parseQuery(std::string_view text) {
    std::map<std::string, std::string> query;
    for (const auto piece : split(text, "&", true)) {
        const auto eq = piece.find('=');
        const auto key = piece.substr(0, eq);
        const auto value = eq == std::string_view::npos ? std::string_view{} : piece.substr(eq + 1);
        auto name = formDecode(key);
        if (query.contains(name)) continue; // the first occurrence wins
        query.emplace(std::move(name), formDecode(value));
    }
    return query;
}

// The declared body length: nothing when it is not a plain decimal or is negative. Values
// beyond the limit saturate just above it, so a length of any size is refused as too large
// instead of overflowing.
std::optional<std::size_t> parseLength(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    constexpr std::size_t tooLarge = Request::maxBody + 1;
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = std::min(value * 10 + static_cast<std::size_t>(c - '0'), tooLarge);
    }
    if (negative && value != 0) return std::nullopt;
    return value;
}

} // namespace

Request::Parse Request::parse(std::string_view data) {
    // The first blank line ends the header block; anything after belongs to the body.
    const auto end = data.find(headEnd);
    if (end == std::string_view::npos) {
        if (data.size() > maxHead) return Bad{431};
        return Partial{};
    }
    if (end > maxHead) return Bad{400};

    // Old clients send ISO 8859-1 header values; read those rather than refuse them.
    std::string_view head = data.substr(0, end);
    std::string converted;
    if (!isUtf8(head)) {
        converted = latin1ToUtf8(head);
        head = converted;
    }

    const auto lines = split(head, lineEnd, false);
    const auto words = split(lines.front(), " ", true);
    if (words.size() < 2) return Bad{400};

    Request request;
    request.method = mapCase(words[0], Case::upper);
    const auto target = words[1];

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto line = lines[i];
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        auto name = mapCase(trim(line.substr(0, colon)), Case::lower);
        auto value = std::string(trim(line.substr(colon + 1)));
        request.headers.insert_or_assign(std::move(name), std::move(value));
    }

    // Chunked bodies are not supported: ask for a length instead of misreading the body.
    if (request.headers.contains("transfer-encoding")) return Bad{411};

    const auto lengthHeader = request.headers.find("content-length");
    const auto length =
        parseLength(lengthHeader == request.headers.end() ? "0" : lengthHeader->second);
    if (!length) return Bad{400};
    if (*length > maxBody) return Bad{413};

    const auto bodyStart = end + headEnd.size();
    if (data.size() - bodyStart < *length) {
        const auto expect = request.headers.find("expect");
        const bool expectContinue = expect != request.headers.end() &&
                                    mapCase(expect->second, Case::lower) == "100-continue";
        return Partial{expectContinue};
    }
    request.body.assign(data.substr(bodyStart, *length));

    const auto question = target.find('?');
    const auto pathText = target.substr(0, question);
    auto path = percentDecode(pathText);
    request.path = path ? std::move(*path) : std::string(pathText);
    if (question != std::string_view::npos) request.query = parseQuery(target.substr(question + 1));

    return request;
}

} // namespace scribbet
