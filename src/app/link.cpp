#include "app/link.hpp"

#include <uriparser/Uri.h>

#include "base/text.hpp"

namespace scribbet {

namespace {
std::string range(const UriTextRangeA& r) {
    if (r.first == nullptr || r.afterLast == nullptr) return {};
    return std::string(r.first, r.afterLast);
}

std::string unescape(std::string s) {
    s.push_back('\0');
    const char* end = uriUnescapeInPlaceExA(s.data(), URI_FALSE, URI_BR_DONT_TOUCH);
    s.resize(static_cast<std::size_t>(end - s.data()));
    return text::validUtf8(s);
}

struct ParsedUri {
    UriUriA uri{};
    bool ok = false;
    explicit ParsedUri(std::string_view text) {
        const char* errorPos = nullptr;
        ok = uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPos) == URI_SUCCESS;
    }
    ~ParsedUri() {
        if (ok) uriFreeUriMembersA(&uri);
    }
    ParsedUri(const ParsedUri&) = delete;
    ParsedUri& operator=(const ParsedUri&) = delete;
};
} // namespace

std::optional<Link> Link::parse(std::string_view text) {
    ParsedUri parsed(text);
    if (!parsed.ok || parsed.uri.scheme.first == nullptr) return std::nullopt;
    if (text::lowercased(range(parsed.uri.scheme)) != "scribbet") return std::nullopt;

    Link link;
    link.command = text::lowercased(unescape(range(parsed.uri.hostText)));

    const UriTextRangeA& q = parsed.uri.query;
    if (q.first != nullptr && q.afterLast != q.first) {
        UriQueryListA* items = nullptr;
        int count = 0;
        if (uriDissectQueryMallocExA(&items, &count, q.first, q.afterLast, URI_FALSE, URI_BR_DONT_TOUCH) ==
            URI_SUCCESS) {
            for (auto* item = items; item != nullptr; item = item->next) {
                // The library has already decoded both parts; keep the first of each name.
                std::string name = text::validUtf8(item->key ? item->key : "");
                std::string value = text::validUtf8(item->value ? item->value : "");
                link.query.emplace(std::move(name), std::move(value));
            }
            uriFreeQueryListA(items);
        }
    }
    return link;
}

std::optional<std::string> Link::value(const std::string& name) const {
    auto it = query.find(name);
    if (it == query.end()) return std::nullopt;
    return it->second;
}

} // namespace scribbet
