#pragma once
// Links of the "scribbet" scheme: scribbet://COMMAND?name=value&...
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace scribbet {

struct Link {
    std::string command; // the host, lower-cased; empty when the link has none
    std::map<std::string, std::string> query; // decoded; the first occurrence of a name wins

    // None when the text is not an RFC 3986 reference or its scheme is not "scribbet".
    // Only the scheme, host and query are read; "+" stays "+".
    static std::optional<Link> parse(std::string_view text);

    std::optional<std::string> value(const std::string& name) const;
};

} // namespace scribbet
