#pragma once
// Process-wide settings, read once from the environment before anything else starts and
// handed to what needs them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace scribbet {

struct Settings {
    std::uint16_t port = 3921;
    std::string macroPrefix = "SCBT_Pen.";
    std::string addinName = "Scribbet";
    bool testing = false;
    bool noScriptCopy = false;

    using Lookup = std::function<std::optional<std::string>(const char* name)>;
    // Bad values never stop the start: each falls back to its default.
    static Settings read(const Lookup& env);
    static Settings fromEnvironment();

    // Decimal, digits only, an optional "+" (a "-" only before zero); 0 to 65535. The
    // setting itself takes 0 as unusable and keeps the default.
    static std::optional<std::uint16_t> parsePort(std::string_view text);
};

// Reads one environment variable; none when unset.
std::optional<std::string> environment(const char* name);

} // namespace scribbet
