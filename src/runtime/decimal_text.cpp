#include "runtime/decimal_text.hpp"

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>
#if __has_include(<xlocale.h>)
#include <xlocale.h>
#endif

// libstdc++ announces floating-point <charconv> with this macro; Apple's libc++ does not have it.
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
#define SCRIBBET_FLOAT_CHARCONV 1
#endif

namespace scribbet::decimal {

namespace {

// The C locale for this thread while it lives: the C library then writes and reads a point.
class CLocale {
public:
    CLocale() : previous_(uselocale(c())) {}
    ~CLocale() { uselocale(previous_); }
    CLocale(const CLocale&) = delete;
    CLocale& operator=(const CLocale&) = delete;

private:
    static locale_t c() {
        static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return locale;
    }
    locale_t previous_;
};

bool startsWithHex(std::string_view s) { return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'); }

} // namespace

namespace detail {

Read readWithC(std::string_view text) {
    const std::string_view unsigned_ = text.starts_with('-') ? text.substr(1) : text;
    // strtod also takes blanks, a '+' and hexadecimal, which from_chars does not: it stops at
    // the 'x' of "0x", so only the zero before it is read.
    if (unsigned_.empty() || std::isspace(static_cast<unsigned char>(unsigned_.front())) ||
        unsigned_.front() == '+' || unsigned_.front() == '-') {
        return {0, 0, std::errc::invalid_argument};
    }
    std::string copy(text.substr(0, startsWithHex(unsigned_) ? text.size() - unsigned_.size() + 1 : text.size()));
    const CLocale c;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(copy.c_str(), &end);
    const auto used = static_cast<std::size_t>(end - copy.c_str());
    if (used == 0) return {0, 0, std::errc::invalid_argument};
    // strtod also says ERANGE for a subnormal result, which from_chars gives as a value.
    if (errno == ERANGE && (v == 0 || std::isinf(v))) return {0, used, std::errc::result_out_of_range};
    return {v, used, std::errc()};
}

std::optional<std::string> fixedWithC(double value, int decimals) {
    if (!std::isfinite(value) || decimals < 0) return std::nullopt;
    // A sign, 309 integer digits, the point and the decimals.
    std::array<char, std::numeric_limits<double>::max_exponent10 + 8 + 32> buf;
    if (decimals > 32) return std::nullopt;
    const CLocale c;
    const int n = std::snprintf(buf.data(), buf.size(), "%.*f", decimals, value);
    if (n < 0 || static_cast<std::size_t>(n) >= buf.size()) return std::nullopt;
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

} // namespace detail

#ifdef SCRIBBET_FLOAT_CHARCONV
Read read(std::string_view text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    return {v, static_cast<std::size_t>(end - text.data()), ec};
}

std::optional<std::string> fixed(double value, int decimals) {
    if (!std::isfinite(value) || decimals < 0 || decimals > 32) return std::nullopt;
    std::array<char, std::numeric_limits<double>::max_exponent10 + 8 + 32> buf;
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return std::nullopt;
    return std::string(buf.data(), end);
}
#else
Read read(std::string_view text) { return detail::readWithC(text); }
std::optional<std::string> fixed(double value, int decimals) { return detail::fixedWithC(value, decimals); }
#endif

} // namespace scribbet::decimal
