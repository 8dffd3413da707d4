#include "program/macro_reply.hpp"

#include <cstddef>
#include <iterator>
#include <optional>

namespace scribbet {

namespace {
constexpr std::string_view okWord = "OK";
constexpr std::string_view errWord = "ERR";
constexpr char bar = '|';

// Every piece between bars; none for the empty text.
std::vector<std::string> pieces(std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(bar, start);
        out.emplace_back(text.substr(start, at - start));
        if (at == std::string_view::npos) return out;
        start = at + 1;
    }
}

std::string joined(std::vector<std::string>::const_iterator from, std::vector<std::string>::const_iterator to) {
    std::string out;
    for (auto it = from; it != to; ++it) {
        if (it != from) out += bar;
        out += *it;
    }
    return out;
}

// The one reader of the prefixes; none for a text outside the convention.
std::optional<MacroReply> read(std::string_view text) {
    std::vector<std::string> p = pieces(text);
    if (p.empty()) return std::nullopt;
    MacroReply out;
    out.ok = p.front() == okWord;
    if (!out.ok && (p.front() != errWord || p.size() == 1)) return std::nullopt;
    out.parts.assign(std::make_move_iterator(p.begin() + 1), std::make_move_iterator(p.end()));
    if (!out.ok) out.error = text.substr(errWord.size() + 1);
    return out;
}
} // namespace

MacroReply MacroReply::failure(std::string sentence, bool addinMissing) {
    MacroReply out;
    out.parts = pieces(sentence);
    // A sentence is one piece even when empty, as "ERR|" reads.
    if (out.parts.empty()) out.parts.emplace_back();
    out.error = std::move(sentence);
    out.addinMissing = addinMissing;
    return out;
}

std::string MacroReply::fields(std::size_t from) const {
    if (!ok || from >= parts.size()) return {};
    return joined(parts.begin() + static_cast<std::ptrdiff_t>(from), parts.end());
}

std::string MacroReply::text() const {
    if (!ok) return std::string(errWord) + bar + error;
    std::string out(okWord);
    for (const std::string& p : parts) out += bar + p;
    return out;
}

MacroReply fromMacro(std::string_view reply) {
    if (auto r = read(reply)) return std::move(*r);
    MacroReply out;
    const std::vector<std::string> p = pieces(reply);
    if (!p.empty()) out.parts.assign(p.begin() + 1, p.end());
    out.error = std::string(reply);
    return out;
}

bool conventional(std::string_view reply) { return read(reply).has_value(); }

std::string replyError(const MacroReply& reply) { return reply.ok ? reply.text() : reply.error; }

} // namespace scribbet
