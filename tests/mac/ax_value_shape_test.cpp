#include "adapters/mac/ax_value_shape.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace scribbet::mac {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

class Element final : public AXElement {};

AXRaw number(double n) {
    AXRaw r;
    r.kind = CFKind::number;
    r.number = n;
    return r;
}

AXRaw axStruct(int type, double a, double b, bool read = true) {
    AXRaw r;
    r.kind = CFKind::axValue;
    r.axType = type;
    r.axRead = read;
    r.first = a;
    r.second = b;
    return r;
}

TEST(AXValueShape, ErrorNumbersGiveTheirKinds) {
    const struct {
        int error;
        AXFailure kind;
    } table[] = {
        {0, AXFailure::none},           {-25205, AXFailure::missing}, {-25212, AXFailure::missing},
        {-25213, AXFailure::missing},   {-25202, AXFailure::stale},   {-25204, AXFailure::timedOut},
        {-25211, AXFailure::denied},    {-25208, AXFailure::unsupported}, {-25201, AXFailure::invalid},
        {-25200, AXFailure::other},     {-25206, AXFailure::other},   {-25214, AXFailure::other},
        {-1, AXFailure::other},         {1, AXFailure::other},        {-25215, AXFailure::other},
        {std::numeric_limits<int>::min(), AXFailure::other},
    };
    for (const auto& row : table) EXPECT_EQ(axFailureOf(row.error), row.kind) << row.error;
}

TEST(AXValueShape, NumbersBooleansAndTexts) {
    EXPECT_EQ(std::get<double>(*axValueOf(number(0.25))), 0.25);
    EXPECT_EQ(std::get<double>(*axValueOf(number(-3))), -3);
    EXPECT_FALSE(axValueOf(number(nan)));
    EXPECT_FALSE(axValueOf(number(inf)));
    EXPECT_FALSE(axValueOf(number(-inf)));

    AXRaw b;
    b.kind = CFKind::boolean;
    b.boolean = true;
    ASSERT_TRUE(axValueOf(b));
    EXPECT_TRUE(std::get<bool>(*axValueOf(b)));

    AXRaw s;
    s.kind = CFKind::string;
    s.text = "Slide Editor \xe2\x80\x94 1";
    EXPECT_EQ(std::get<std::string>(*axValueOf(s)), *s.text);
    s.text = "";
    EXPECT_EQ(std::get<std::string>(*axValueOf(s)), "");
    s.text.reset(); // it would not convert
    EXPECT_FALSE(axValueOf(s));
}

TEST(AXValueShape, PointsAndSizes) {
    const auto p = axValueOf(axStruct(axValuePoint, -1440, 25.5));
    ASSERT_TRUE(p && std::holds_alternative<AXPoint>(*p));
    EXPECT_EQ(std::get<AXPoint>(*p).x, -1440);
    EXPECT_EQ(std::get<AXPoint>(*p).y, 25.5);

    const auto s = axValueOf(axStruct(axValueSize, 800, 0));
    ASSERT_TRUE(s && std::holds_alternative<AXSize>(*s));
    EXPECT_EQ(std::get<AXSize>(*s).w, 800);
    EXPECT_EQ(std::get<AXSize>(*s).h, 0);

    EXPECT_FALSE(axValueOf(axStruct(axValueSize, -1, 10)));
    EXPECT_FALSE(axValueOf(axStruct(axValueSize, 10, -0.5)));
    EXPECT_FALSE(axValueOf(axStruct(axValuePoint, nan, 0)));
    EXPECT_FALSE(axValueOf(axStruct(axValueSize, 10, inf)));
    EXPECT_FALSE(axValueOf(axStruct(axValuePoint, 1, 2, false))) << "the payload was never read";
}

TEST(AXValueShape, OtherStructTypesAreAbsent) {
    for (int type : {axValueIllegal, axValueRect, axValueRange, axValueError, 6, -1, 99}) {
        EXPECT_FALSE(axValueOf(axStruct(type, 1, 2))) << type;
    }
}

TEST(AXValueShape, ElementsAndLists) {
    AXRaw e;
    e.kind = CFKind::element;
    EXPECT_FALSE(axValueOf(e)) << "no element wrapped";
    e.element = std::make_shared<Element>();
    EXPECT_EQ(std::get<AXRef>(*axValueOf(e)), e.element);

    AXRaw list;
    list.kind = CFKind::array;
    EXPECT_TRUE(std::get<std::vector<AXRef>>(*axValueOf(list)).empty()) << "an empty list is a list";

    const auto a = std::make_shared<Element>(), b = std::make_shared<Element>();
    list.elements = {a, nullptr, b};
    list.others = 2;
    const auto kept = std::get<std::vector<AXRef>>(*axValueOf(list));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], a);
    EXPECT_EQ(kept[1], b);

    AXRaw ranges;
    ranges.kind = CFKind::array;
    ranges.others = 3;
    EXPECT_FALSE(axValueOf(ranges)) << "a list of non-elements is not a list of children";
}

TEST(AXValueShape, UnknownTypesAreAbsent) {
    AXRaw r;
    r.number = 4; // a payload that does not belong to the kind is ignored
    EXPECT_FALSE(axValueOf(r));
}

TEST(AXValueShape, MessagingTimeoutsAndSettableNumbers) {
    EXPECT_FLOAT_EQ(*messagingTimeoutOf(0.25), 0.25f);
    EXPECT_FLOAT_EQ(*messagingTimeoutOf(0), 0.f);
    EXPECT_FALSE(messagingTimeoutOf(-0.25));
    EXPECT_FALSE(messagingTimeoutOf(nan));
    EXPECT_FALSE(messagingTimeoutOf(inf));
    EXPECT_FALSE(messagingTimeoutOf(1e300));

    EXPECT_TRUE(settableNumber(0.5));
    EXPECT_TRUE(settableNumber(-2));
    EXPECT_FALSE(settableNumber(nan));
    EXPECT_FALSE(settableNumber(-inf));
}

} // namespace
} // namespace scribbet::mac
