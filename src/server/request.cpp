#include "server/request.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

#include "base/text.hpp"

namespace scribbet {

namespace {

using text::CodePoint;

constexpr std::string_view headEnd = "\r\n\r\n";

// ---- Text ----

// Header blocks are almost always plain ASCII, and then none of the Unicode rules below can
// change anything: one quick look decides which way the block is read. Eight bytes at a
// time; the high bit of any byte is what it looks for.
bool isAscii(std::string_view s) {
    const char* p = s.data();
    std::size_t n = s.size();
    std::uint64_t seen = 0;
    for (; n >= 32; p += 32, n -= 32) {
        std::uint64_t w[4];
        std::memcpy(w, p, sizeof w);
        seen |= w[0] | w[1] | w[2] | w[3];
    }
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, sizeof w);
        seen |= w;
    }
    for (; n > 0; ++p, --n) seen |= static_cast<unsigned char>(*p);
    return (seen & 0x8080808080808080u) == 0;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view s) {
    if (isAscii(s)) return true;
    for (std::size_t pos = 0; pos < s.size();) {
        CodePoint cp;
        pos += text::codePointAt(s, pos, cp);
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

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

enum class Case { upper, lower };

// Simple (one-to-one) case mapping, code point by code point. Methods and header names are
// ASCII in practice; this just keeps anything else intact.
std::string mapCase(std::string_view s, Case to) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        CodePoint cp;
        const auto n = text::codePointAt(s, pos, cp);
        if (cp < 0) {
            out.append(s.substr(pos, n));
        } else if (cp < 0x80) {
            const char c = static_cast<char>(cp);
            out += to == Case::upper ? upperAscii(c) : lowerAscii(c);
        } else {
            text::appendCodePoint(out, to == Case::upper ? utf8proc_toupper(cp) : utf8proc_tolower(cp));
        }
        pos += n;
    }
    return out;
}

std::string upperCaseAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = upperAscii(c);
    return out;
}

// Header names, eight letters at a time. Every byte is below 0x80, so adding to one never
// carries into the next: the sums' high bits mark the bytes from 'A' on and those past 'Z'.
// The words are read from the block itself, not from a fresh copy of it, which the
// processor would have to finish writing first.
std::string lowerCaseAscii(std::string_view s) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t high = ones * 0x80;
    std::string out(s.size(), '\0');
    const char* from = s.data();
    char* to = out.data();
    std::size_t n = s.size();
    for (; n >= 8; from += 8, to += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, from, sizeof w);
        const auto fromA = (w + ones * (0x80 - 'A')) & high;
        const auto pastZ = (w + ones * (0x80 - 'Z' - 1)) & high;
        w |= (fromA & ~pastZ) >> 2; // 0x80 >> 2 is the bit between the cases
        std::memcpy(to, &w, sizeof w);
    }
    for (; n > 0; ++from, ++to, --n) *to = lowerAscii(*from);
    return out;
}

bool isAsciiBlank(char c) { return c == ' ' || c == '\t'; }

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
        const auto n = text::codePointAt(s, first, cp);
        if (!isBlank(cp)) break;
        first += n;
    }
    std::size_t last = s.size();
    while (last > first) {
        const auto pos = previousCodePoint(s, first, last);
        CodePoint cp;
        // A code point that does not end exactly at `last` is a broken sequence: not blank.
        if (pos + text::codePointAt(s, pos, cp) != last || !isBlank(cp)) break;
        last = pos;
    }
    return s.substr(first, last - first);
}

// In ASCII text the only blanks are spaces and tabs (every other separator is above 0x7F).
std::string_view trimAscii(std::string_view s) {
    while (!s.empty() && isAsciiBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isAsciiBlank(s.back())) s.remove_suffix(1);
    return s;
}

// ---- Target ----

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Nothing when an escape is malformed or the decoded bytes are not UTF-8: the caller then
// keeps the text as it came, rather than handing on half-decoded or invalid text.
std::optional<std::string> percentDecode(std::string_view s) {
    auto i = s.find('%');
    if (i == std::string_view::npos) {
        if (!isUtf8(s)) return std::nullopt;
        return std::string(s);
    }
    std::string out;
    out.reserve(s.size());
    out.append(s.substr(0, i));
    for (; i < s.size(); ++i) {
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
    std::replace(plussed.begin(), plussed.end(), '+', ' ');
    auto decoded = percentDecode(plussed);
    return decoded ? std::move(*decoded) : std::move(plussed);
}

std::map<std::string, std::string> parseQuery(std::string_view text) {
    std::map<std::string, std::string> query;
    while (!text.empty()) {
        const auto amp = text.find('&');
        const auto piece = text.substr(0, amp);
        text.remove_prefix(amp == std::string_view::npos ? text.size() : amp + 1);
        if (piece.empty()) continue;
        const auto eq = piece.find('=');
        const auto key = piece.substr(0, eq);
        const auto value = eq == std::string_view::npos ? std::string_view{} : piece.substr(eq + 1);
        auto name = formDecode(key);
        if (query.contains(name)) continue; // the first occurrence wins
        query.emplace(std::move(name), formDecode(value));
    }
    return query;
}

// ---- Header block ----

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

// The first CR LF CR LF that starts at or after `from`. Every line has one LF, so the search
// jumps from LF to LF and looks back. The few new bytes of a trickling request are looked at
// one by one, or eight at a time in a register, which costs less than calling the library.
std::size_t findHeadEnd(std::string_view data, std::size_t from) {
    constexpr auto npos = std::string_view::npos;
    const auto matches = [&](std::size_t lf) {
        return data[lf] == '\n' && data[lf - 3] == '\r' && data[lf - 2] == '\n' &&
               data[lf - 1] == '\r';
    };
    std::size_t lf = from + 3;
    const auto size = data.size();
    if (size <= lf + 8) {
        for (; lf < size; ++lf) {
            if (matches(lf)) return lf - 3;
        }
        return npos;
    }

    if (size - lf < 64 && std::endian::native == std::endian::little) {
        // The eight bytes from `at`, of which those below `lf` were looked at before. The
        // lowest bits are the first bytes, so the first end in a word is found first.
        const auto look = [&](std::size_t at) {
            constexpr std::uint64_t ones = 0x0101010101010101u;
            std::uint64_t word;
            std::memcpy(&word, data.data() + at, sizeof word);
            const auto x = word ^ (ones * '\n');
            // A high bit for every byte that may be an LF (a borrow can mark a byte above a
            // real one, so each is looked at again).
            auto candidates = (x - ones) & ~x & (ones * 0x80);
            if (lf > at) candidates &= ~std::uint64_t{0} << (8 * (lf - at));
            for (; candidates; candidates &= candidates - 1) {
                const auto found = at + static_cast<std::size_t>(std::countr_zero(candidates)) / 8;
                if (matches(found)) return found - 3;
            }
            return npos;
        };
        for (; lf + 8 <= size; lf += 8) {
            if (const auto end = look(lf); end != npos) return end;
        }
        return lf < size ? look(size - 8) : npos; // the last few, in the word that ends the data
    }

    while (lf < size) {
        const auto* at = static_cast<const char*>(std::memchr(data.data() + lf, '\n', size - lf));
        if (!at) break;
        lf = static_cast<std::size_t>(at - data.data());
        if (matches(lf)) return lf - 3;
        ++lf;
    }
    return npos;
}

const char* find(const char* from, const char* end, char c) {
    return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

// Where the line that starts at `p` ends: its CR LF, or the end of the block. A CR alone or
// an LF alone is part of the line.
const char* lineEnd(const char* p, const char* end) {
    while (p < end) {
        const auto* cr = find(p, end, '\r');
        if (!cr) break;
        if (cr + 1 < end && cr[1] == '\n') return cr;
        p = cr + 1;
    }
    return end;
}

// What the rules after the header lines need, found while the lines are stored. The
// pointers are to values inside the request's map, whose nodes never move.
struct HeadFacts {
    std::string_view target;
    const std::string* length = nullptr;
    const std::string* expect = nullptr;
    bool transferEncoding = false;
};

// Reads the request line and the header lines into `request`. False when the request line
// has fewer than two words. ASCII blocks take the short way through trimming and casing;
// the Unicode rules give the same result on them.
template <bool ascii>
bool readHead(std::string_view head, Request& request, HeadFacts& facts) {
    const char* p = head.data();
    const char* const end = p + head.size();
    const char* eol = lineEnd(p, end);

    // Only spaces separate the words, and runs of them count as one; a third word (the
    // version) and anything after it are not needed.
    const std::string_view line(p, static_cast<std::size_t>(eol - p));
    const auto methodAt = line.find_first_not_of(' ');
    if (methodAt == std::string_view::npos) return false;
    const auto methodEnd = std::min(line.find(' ', methodAt), line.size());
    const auto targetAt = line.find_first_not_of(' ', methodEnd);
    if (targetAt == std::string_view::npos) return false;
    const auto method = line.substr(methodAt, methodEnd - methodAt);
    facts.target = line.substr(targetAt, line.find(' ', targetAt) - targetAt);
    request.method = ascii ? upperCaseAscii(method) : mapCase(method, Case::upper);

    while (eol != end) {
        p = eol + 2;
        eol = lineEnd(p, end);
        const auto* colon = find(p, eol, ':');
        if (!colon) continue; // not a header line: skipped, as are continuation lines
        const std::string_view rawName(p, static_cast<std::size_t>(colon - p));
        const std::string_view rawValue(colon + 1, static_cast<std::size_t>(eol - colon - 1));
        const auto name = ascii ? trimAscii(rawName) : trim(rawName);
        const auto value = ascii ? trimAscii(rawValue) : trim(rawValue);

        // The last line of a name wins.
        auto [it, fresh] = request.headers.try_emplace(
            ascii ? lowerCaseAscii(name) : mapCase(name, Case::lower));
        it->second.assign(value);

        const auto& key = it->first;
        if (key.size() == 14 && key == "content-length") {
            facts.length = &it->second;
        } else if (key.size() == 6 && key == "expect") {
            facts.expect = &it->second;
        } else if (key.size() == 17 && key == "transfer-encoding") {
            facts.transferEncoding = true;
        }
    }
    return true;
}

} // namespace

Request::Parse Request::parse(std::string_view data) {
    Progress fresh;
    return fresh.read(data);
}

Request::Parse Request::Progress::read(std::string_view data) {
    // Shorter than before: not the buffer this progress belongs to.
    if (data.size() < searched_ || data.size() < bodyStart_) reset();

    if (bodyStart_ != 0) {
        if (data.size() - bodyStart_ < length_) return Partial{expectContinue_};
        return finish(data);
    }

    // The first blank line ends the header block; anything after belongs to the body. An
    // end could straddle the last bytes already searched, so the search backs up three.
    const auto end = findHeadEnd(data, searched_ - std::min<std::size_t>(searched_, 3));
    if (end == std::string_view::npos) {
        if (data.size() > maxHead) {
            searched_ = 0;
            return Bad{431};
        }
        searched_ = data.size();
        return Partial{};
    }
    searched_ = 0; // whatever comes of this call, the search is over
    if (end > maxHead) return Bad{400};
    return readBlock(data, end);
}

[[gnu::noinline]] Request::Parse Request::Progress::readBlock(std::string_view data,
                                                             std::size_t end) {
    Request request;
    HeadFacts facts;
    std::string_view head = data.substr(0, end);
    std::string converted;
    bool wellFormed;
    if (isAscii(head)) {
        wellFormed = readHead<true>(head, request, facts);
    } else {
        // Old clients send ISO 8859-1 header values; read those rather than refuse them.
        if (!isUtf8(head)) {
            converted = latin1ToUtf8(head);
            head = converted;
        }
        wellFormed = readHead<false>(head, request, facts);
    }
    if (!wellFormed) return Bad{400};

    // Chunked bodies are not supported: ask for a length instead of misreading the body.
    if (facts.transferEncoding) return Bad{411};

    const auto length = parseLength(facts.length ? std::string_view(*facts.length) : "0");
    if (!length) return Bad{400};
    if (*length > maxBody) return Bad{413};

    // The target points into the header block, which may be a converted copy: read it now.
    request.setTarget(facts.target);

    const auto bodyStart = end + headEnd.size();
    if (data.size() - bodyStart < *length) {
        expectContinue_ = facts.expect && mapCase(*facts.expect, Case::lower) == "100-continue";
        bodyStart_ = bodyStart;
        length_ = *length;
        head_ = std::move(request);
        return Partial{expectContinue_};
    }
    request.body.assign(data.substr(bodyStart, *length));
    return request;
}

[[gnu::noinline]] Request::Parse Request::Progress::finish(std::string_view data) {
    Request request = std::move(head_);
    request.body.assign(data.substr(bodyStart_, length_));
    reset();
    return request;
}

[[gnu::noinline]] void Request::Progress::reset() { *this = Progress{}; }

void Request::setTarget(std::string_view target) {
    const auto question = target.find('?');
    const auto pathText = target.substr(0, question);
    auto decoded = percentDecode(pathText);
    path = decoded ? std::move(*decoded) : std::string(pathText);
    query.clear();
    if (question != std::string_view::npos) query = parseQuery(target.substr(question + 1));
}

} // namespace scribbet
