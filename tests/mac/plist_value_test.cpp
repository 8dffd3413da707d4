#include "adapters/mac/plist_value.hpp"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace scribbet::mac {
namespace {

using nlohmann::json;
using Kind = PlistValue::Kind;

json roundTrip(const json& j) {
    const auto p = plistFromJSON(j);
    if (!p) return json("not stored");
    return jsonFromPlist(*p).value_or(json("not read"));
}

TEST(PlistValue, ThePreferencesTheProgramWritesComeBackAsWritten) {
    const json nudge = {{"x", 3.5}, {"y", 0.0}};
    EXPECT_EQ(roundTrip(nudge), nudge);
    EXPECT_EQ(roundTrip(json("1.4.2")), json("1.4.2"));
    EXPECT_EQ(roundTrip(json("")), json(""));
}

// The glue hands these bytes to NSString whole (ns_utf8.h), so nothing here may cut a text at
// a NUL either: a value or a key with one in it is stored and read back as it was.
TEST(PlistValue, TextsWithANulInThemStayWhole) {
    const std::string withNul("a\0b", 3);
    const auto stored = plistFromJSON(json(withNul));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->text.size(), 3u);
    EXPECT_EQ(roundTrip(json(withNul)), json(withNul));

    const json keyed = {{withNul, 1}, {"a", 2}};
    const auto members = plistFromJSON(keyed);
    ASSERT_TRUE(members);
    EXPECT_EQ(members->members.size(), 2u) << "a key cut at its NUL would fold into \"a\"";
    EXPECT_EQ(roundTrip(keyed), keyed);
}

TEST(PlistValue, NumbersKeepTheirKind) {
    const auto whole = plistFromJSON(json(3));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->kind, Kind::integer);
    EXPECT_EQ(whole->integer, 3);
    EXPECT_TRUE(roundTrip(json(-7)).is_number_integer());

    const auto real = plistFromJSON(json(3.0));
    ASSERT_TRUE(real);
    EXPECT_EQ(real->kind, Kind::real);
    EXPECT_TRUE(roundTrip(json(3.0)).is_number_float()) << "3.0 must not come back as 3";
    EXPECT_EQ(roundTrip(json(3.0)).dump(), "3.0");

    const auto big = plistFromJSON(json(std::numeric_limits<std::uint64_t>::max()));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->kind, Kind::real);
    const auto fits = plistFromJSON(json(std::uint64_t{9223372036854775807ull}));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->kind, Kind::integer);
    EXPECT_EQ(fits->integer, std::numeric_limits<std::int64_t>::max());

    EXPECT_EQ(roundTrip(json(true)), json(true));
    EXPECT_EQ(plistFromJSON(json(false))->kind, Kind::boolean) << "a flag is not the number 0";
}

TEST(PlistValue, NullMeansNoValue) {
    EXPECT_FALSE(plistFromJSON(json()));
    EXPECT_EQ(roundTrip({{"x", 1}, {"y", nullptr}}), json({{"x", 1}}));
    EXPECT_FALSE(plistFromJSON(json::array({1, nullptr, 3}))) << "dropping it would move the 3";
    EXPECT_FALSE(plistFromJSON(json({{"list", json::array({nullptr})}})));
}

TEST(PlistValue, NestedContainers) {
    const json v = {{"a", json::array({1, "two", json::array({3.5}), {{"k", false}}})}, {"empty", json::object()}};
    EXPECT_EQ(roundTrip(v), v);
    EXPECT_EQ(roundTrip(json::array()), json::array());
}

TEST(PlistValue, ValuesJSONHasNoWordForAreLeftOut) {
    PlistValue date; // a date or data written by another tool
    EXPECT_FALSE(jsonFromPlist(date));

    PlistValue dict;
    dict.kind = Kind::dictionary;
    dict.members.emplace("when", date);
    dict.members.emplace("x", PlistValue::ofReal(2));
    EXPECT_EQ(*jsonFromPlist(dict), json({{"x", 2.0}}));

    PlistValue list;
    list.kind = Kind::array;
    list.items = {date, PlistValue::ofString("kept")};
    EXPECT_EQ(*jsonFromPlist(list), json::array({"kept"}));
}

TEST(PlistValue, NotANumberIsStoredAsARealAndReadsBackAsOne) {
    const auto p = plistFromJSON(json(std::numeric_limits<double>::quiet_NaN()));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->kind, Kind::real);
    const auto back = jsonFromPlist(*p);
    ASSERT_TRUE(back && back->is_number_float());
    EXPECT_TRUE(std::isnan(back->get<double>()));
}

} // namespace
} // namespace scribbet::mac
