#include "runtime/decimal_text.hpp"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

using namespace scribbet::decimal;

TEST(DecimalText, ReadsTheWholeNumberAndNothingElse) {
    struct Case {
        const char* text;
        std::errc ec;
        std::size_t used;
        double value;
    };
    const Case cases[]{{"12.5", std::errc(), 4, 12.5},          {"-0.25e2", std::errc(), 7, -25},
                       {"1e", std::errc(), 1, 1},               {"0x1A", std::errc(), 1, 0},
                       {"+1", std::errc::invalid_argument, 0, 0}, {" 1", std::errc::invalid_argument, 0, 0},
                       {"1e400", std::errc::result_out_of_range, 5, 0}, {"4e-320", std::errc(), 6, 4e-320},
                       {"1,5", std::errc(), 1, 1}};
    for (const auto& c : cases) {
        const Read r = read(c.text);
        EXPECT_EQ(r.ec, c.ec) << c.text;
        if (r.ec == std::errc::invalid_argument) continue;
        EXPECT_EQ(r.used, c.used) << c.text;
        if (r.ec == std::errc()) {
            EXPECT_EQ(r.value, c.value) << c.text;
        }
    }
    EXPECT_EQ(fixed(-1234.5, 2), "-1234.50");
    EXPECT_EQ(fixed(2.5, 0), "2");
    EXPECT_EQ(fixed(1e22, 0), "10000000000000000000000");
}

// Where the library has floating-point <charconv>, the C library's way is checked against it.
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
namespace {

// Texts around every edge the readers treat differently: signs, blanks, base prefixes,
// infinities, exponents without digits, values past a double's range at either end, subnormals.
const std::vector<std::string> readTexts{
    "0", "-0", "1", "12.5", ".5", "5.", ".", "-", "--1", "+1", " 1", "1 ", "\t2", "1e5", "1E+5", "1e-5", "1e",
    "1e+", "2.5e3x", "0x1A", "-0x10", "0X", "inf", "-INF", "infinity", "nan", "NaN(123)", "nan(", "1e400",
    "-1e400", "1e-400", "4e-320", "2.2250738585072011e-308", "179769313486231570000000000000000000000000000000000"
    "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000000000000000000000000000000000000000",
    "0.1", "0.30000000000000004", "123456789012345678901234567890", "", "abc", "1,5", "٣"};

void expectSameRead(const std::string& text) {
    double expected = -7;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), expected, std::chars_format::general);
    const Read c = detail::readWithC(text);
    SCOPED_TRACE("text \"" + text + "\"");
    EXPECT_EQ(c.ec, ec);
    if (ec == std::errc::invalid_argument) return; // from_chars says nothing more then
    EXPECT_EQ(c.used, static_cast<std::size_t>(end - text.data()));
    if (ec != std::errc()) return;
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(c.value));
    } else {
        EXPECT_EQ(c.value, expected);
        EXPECT_EQ(std::signbit(c.value), std::signbit(expected));
    }
}

} // namespace

TEST(DecimalText, TheCLibraryReadsEveryTextAsFromCharsDoes) {
    for (const auto& t : readTexts) expectSameRead(t);
    // And the reader in use is one of the two.
    for (const auto& t : readTexts) {
        const Read r = read(t);
        const Read c = detail::readWithC(t);
        EXPECT_EQ(r.ec, c.ec) << t;
        if (r.ec == std::errc()) {
            EXPECT_EQ(r.used, c.used) << t;
        }
    }
}

TEST(DecimalText, TheCLibraryWritesEveryDigitAsToCharsDoes) {
    const std::vector<double> values{0.0, -0.0, 1, -1, 0.125, 2.675, 1e-7, 123456.789, 1e21, -1e300, 1.7976931348623157e308,
                                     4.9e-324, 0.005, 0.015, 1e15 + 0.3};
    for (double v : values) {
        for (int decimals : {0, 1, 2, 6, 17}) {
            std::array<char, 400> buf;
            const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, decimals);
            ASSERT_EQ(ec, std::errc());
            const std::string expected(buf.data(), end);
            EXPECT_EQ(detail::fixedWithC(v, decimals), expected) << v << " with " << decimals;
            EXPECT_EQ(fixed(v, decimals), expected) << v << " with " << decimals;
        }
    }
    EXPECT_EQ(fixed(1e308, 0)->size(), 309U);
}

#endif

TEST(DecimalText, NumbersThatCannotBeWrittenGiveNone) {
    for (auto* f : {&fixed, &detail::fixedWithC}) {
        EXPECT_EQ(f(NAN, 2), std::nullopt);
        EXPECT_EQ(f(INFINITY, 0), std::nullopt);
        EXPECT_EQ(f(-INFINITY, 0), std::nullopt);
        EXPECT_EQ(f(1, -1), std::nullopt);
        EXPECT_EQ(f(1, 400), std::nullopt);
    }
}
