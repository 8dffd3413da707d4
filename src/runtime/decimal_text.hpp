#pragma once
// Floating-point numbers to and from decimal text, with a point whatever the locale says and
// every digit. The standard's <charconv> does this where the library has it for doubles; Apple's
// library has neither direction on the oldest macOS Scribbet runs on, so there the C library
// does it under the C locale.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace scribbet::decimal {

// What reading a number from the start of a text gave, as std::from_chars reports it: the value
// (unchanged on an error), how many characters it took, and the error.
struct Read {
    double value = 0;
    std::size_t used = 0;
    std::errc ec = std::errc();
};

// Reads as std::from_chars(general) does: an optional '-', digits with an optional point and
// exponent, or inf/infinity/nan; no blanks, no '+', no base prefix. A value too large or too
// small for a double is result_out_of_range.
Read read(std::string_view text);

// `value` written with exactly `decimals` digits after the point (none and no point for 0);
// none for a value that is not finite.
std::optional<std::string> fixed(double value, int decimals);

namespace detail {
// The C library's way, built on every system so that it is tested where <charconv> has both
// directions to check it against.
Read readWithC(std::string_view text);
std::optional<std::string> fixedWithC(double value, int decimals);
} // namespace detail

} // namespace scribbet::decimal
