// Numbers read from text fields: the whole field or nothing, with each reader's own signs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "app/whole_number.hpp"

namespace scribbet {
namespace {

using whole::Sign;

TEST(WholeNumber, AnIntegerIsTheWholeFieldWithOnlyTheSignsItsReaderTakes) {
    for (const char* bad : {"", " 5", "5 ", "5a", "0x5", "1e3", "5.0", "+", "-", "++5", "+-5", "\xEF\xBC\x95"}) {
        EXPECT_EQ(whole::integer<long long>(bad, Sign::any), std::nullopt) << bad;
    }
    EXPECT_EQ(whole::integer<long long>("+42", Sign::any), 42);
    EXPECT_EQ(whole::integer<long long>("-42", Sign::any), -42);
    EXPECT_EQ(whole::integer<long long>("007", Sign::any), 7);

    EXPECT_EQ(whole::integer<int>("+42"), std::nullopt); // the default takes only a minus
    EXPECT_EQ(whole::integer<int>("-42"), -42);
    EXPECT_EQ(whole::integer<int>("-42", Sign::none), std::nullopt);
    EXPECT_EQ(whole::integer<int>("+42", Sign::none), std::nullopt);
    EXPECT_EQ(whole::integer<int>("42", Sign::none), 42);
}

TEST(WholeNumber, AnIntegerOutsideItsTypeIsNone) {
    EXPECT_EQ(whole::integer<int>("2147483647"), 2147483647);
    EXPECT_EQ(whole::integer<int>("2147483648"), std::nullopt);
    EXPECT_EQ(whole::integer<std::uint16_t>("65536", Sign::none), std::nullopt);
    EXPECT_EQ(whole::integer<long long>("99999999999999999999", Sign::any), std::nullopt);
}

TEST(WholeNumber, ADecimalTakesEitherSignAndReadsInfinityAndNan) {
    for (const char* bad : {"", " 1.5", "1.5 ", "1.5x", "0x1p3", "++1", "+-1", "-+1", "+", "1,5", "."}) {
        EXPECT_EQ(whole::decimal(bad), std::nullopt) << bad;
        EXPECT_EQ(whole::finite(bad), std::nullopt) << bad;
        EXPECT_EQ(whole::saturating(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(whole::decimal("+1.5"), 1.5);
    EXPECT_EQ(whole::decimal("-2e3"), -2000);
    EXPECT_EQ(whole::decimal(".5"), 0.5);
    EXPECT_EQ(whole::decimal("-inf"), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(*whole::decimal("nan")));
    EXPECT_EQ(whole::finite("inf"), std::nullopt);
    EXPECT_EQ(whole::finite("nan"), std::nullopt);
    EXPECT_EQ(whole::finite("+0.25"), 0.25);
}

TEST(WholeNumber, BeyondADoublesRangeIsNoneOrTheInfinityOrZeroItWouldBecome) {
    EXPECT_EQ(whole::decimal("1e400"), std::nullopt);
    EXPECT_EQ(whole::finite("1e400"), std::nullopt);
    EXPECT_EQ(whole::saturating("1e400"), HUGE_VAL);
    EXPECT_EQ(whole::saturating("-1e400"), -HUGE_VAL);
    EXPECT_EQ(whole::saturating("+0.0001e-400"), 0.0);
    const auto negativeZero = whole::saturating("-1e-400");
    ASSERT_TRUE(negativeZero);
    EXPECT_EQ(*negativeZero, 0.0);
    EXPECT_TRUE(std::signbit(*negativeZero));
    // The digits before the point decide, not how many there are.
    EXPECT_EQ(whole::saturating("0." + std::string(400, '0') + "1e800"), HUGE_VAL);
    EXPECT_EQ(whole::saturating("1" + std::string(400, '0') + "e-800"), 0.0);
    EXPECT_EQ(whole::saturating("1e400x"), std::nullopt);
}

} // namespace
} // namespace scribbet
