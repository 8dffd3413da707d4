#include "app/whole_number.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "runtime/decimal_text.hpp"

namespace scribbet::whole {

namespace {

// Whether a decimal number that does not fit a double is too large rather than too small:
// one whose first significant digit stands at the units place or higher can only overflow.
// `s` is the text after its sign, already known to read as a number.
bool atLeastOne(std::string_view s) {
    std::size_t i = 0;
    long long intDigits = 0, fracDigits = 0;
    std::optional<long long> power; // of ten, of the first significant digit
    bool fraction = false;
    for (; i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.'); ++i) {
        if (s[i] == '.') {
            fraction = true;
            continue;
        }
        const long long index = fraction ? fracDigits++ : intDigits++;
        if (!power && s[i] != '0') power = fraction ? -(index + 1) : index; // integer places fixed below
    }
    if (!power) return false;
    if (*power >= 0) power = intDigits - 1 - *power;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        const bool negative = i < s.size() && s[i] == '-';
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
        for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
            // Saturated: past any double's range only the sign of the sum matters.
            exponent = std::min(exponent * 10 + (s[i] - '0'), 1'000'000'000LL);
        }
        if (negative) exponent = -exponent;
    }
    return *power + exponent >= 0;
}

struct Read {
    std::optional<double> value;
    bool outOfRange = false;
};

Read read(std::string_view s) {
    if (!detail::plus(s, Sign::any)) return {};
    const auto [v, used, ec] = decimal::read(s);
    if (used != s.size()) return {};
    if (ec == std::errc::result_out_of_range) {
        const bool negative = s.front() == '-';
        const double magnitude = atLeastOne(negative ? s.substr(1) : s) ? HUGE_VAL : 0.0;
        return {negative ? -magnitude : magnitude, true};
    }
    if (ec != std::errc()) return {};
    return {v, false};
}

} // namespace

std::optional<double> decimal(std::string_view s) {
    const Read r = read(s);
    return r.outOfRange ? std::nullopt : r.value;
}

std::optional<double> finite(std::string_view s) {
    const auto v = decimal(s);
    return v && std::isfinite(*v) ? v : std::nullopt;
}

std::optional<double> saturating(std::string_view s) { return read(s).value; }

} // namespace scribbet::whole
