#pragma once
// Numbers read from text fields: the whole field is the number, or there is none. No
// blanks around it, no base prefix, no digits of other scripts; each reader says which
// signs it takes.
#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace scribbet::whole {

enum class Sign {
    none,  // digits only
    minus, // an optional '-'
    any,   // one optional '+' or '-'
};

namespace detail {
// Takes a leading '+' off when `sign` allows it; false when what is left cannot be a number
// of that kind (nothing, or a second sign after the '+').
inline bool plus(std::string_view& s, Sign sign) {
    if (sign == Sign::any && !s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && (s.front() == '+' || s.front() == '-')) return false;
    }
    if (sign == Sign::none && !s.empty() && s.front() == '-') return false;
    return !s.empty();
}
} // namespace detail

// A decimal integer of type T; nothing when it is out of T's range.
template <class T>
std::optional<T> integer(std::string_view s, Sign sign = Sign::minus) {
    if (!detail::plus(s, sign)) return std::nullopt;
    T value{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// A double in the usual text form with an optional sign; "inf" and "nan" read too. Nothing
// when it is beyond the range of a double.
std::optional<double> decimal(std::string_view s);
// The same, only finite values.
std::optional<double> finite(std::string_view s);
// The same as decimal(), except that a number beyond the range of a double reads as the
// infinity it overflows to, or as the zero it underflows to, as it would in arithmetic.
std::optional<double> saturating(std::string_view s);

} // namespace scribbet::whole
