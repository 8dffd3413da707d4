#include "app/settings.hpp"

#include <cstdlib>

#include "app/whole_number.hpp"

namespace scribbet {

std::optional<std::string> environment(const char* name) {
    if (const char* v = std::getenv(name)) return std::string(v);
    return std::nullopt;
}

std::optional<std::uint16_t> Settings::parsePort(std::string_view text) {
    const auto value = whole::integer<long>(text, whole::Sign::any);
    if (!value || *value < 0 || *value > 65535) return std::nullopt; // "-0" is 0 all the same
    return static_cast<std::uint16_t>(*value);
}

Settings Settings::read(const Lookup& env) {
    Settings s;
    if (auto v = env("SCRIBBET_PORT")) {
        // 0 parses, but nothing can be served on it or named in the page's address.
        if (auto port = parsePort(*v); port && *port != 0) s.port = *port;
    }
    if (auto v = env("SCRIBBET_MACRO_PREFIX"); v && !v->empty()) s.macroPrefix = *v;
    if (auto v = env("SCRIBBET_ADDIN_NAME"); v && !v->empty()) s.addinName = *v;
    auto v = env("SCRIBBET_TEST");
    s.testing = v && *v == "1";
    if (s.testing) {
        s.noScriptCopy = true;
    } else {
        auto copy = env("SCRIBBET_NO_SCRIPT_COPY");
        s.noScriptCopy = copy && *copy == "1";
    }
    return s;
}

Settings Settings::fromEnvironment() { return read(environment); }

} // namespace scribbet
