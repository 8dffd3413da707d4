// The path text of the insert macro: what SVG allows within M, L, C and Z is read exactly,
// and anything else is refused whole.
#include <gtest/gtest.h>

#include <cmath>

#include "path_text.hpp"

using namespace scribbet::standin;

namespace {
Point end(const Subpath& s, std::size_t i) { return s.segments.at(i).to; }
} // namespace

TEST(StandinPathTextTest, ReadsSvgNumberFormsAndImplicitRepeats) {
    // Run-together numbers, signs, exponents, commas, implied lines after M and repeated C.
    const auto p = parsePath("M1,2 3-4L.5.5\n+6e1 -2E-1C0 0 1 1 2 2 3 3 4 4 5 5Z  M 10 10 L 11 11");
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.subpaths.size(), 2u);
    const Subpath& a = p.subpaths[0];
    EXPECT_EQ(a.start, (Point{1, 2}));
    ASSERT_EQ(a.segments.size(), 5u);
    EXPECT_EQ(end(a, 0), (Point{3, -4}));
    EXPECT_EQ(end(a, 1), (Point{0.5, 0.5}));
    EXPECT_EQ(end(a, 2), (Point{60, -0.2}));
    EXPECT_EQ(a.segments[3].kind, Segment::Kind::cubic);
    EXPECT_EQ(a.segments[3].c1, (Point{0, 0}));
    EXPECT_EQ(a.segments[3].c2, (Point{1, 1}));
    EXPECT_EQ(end(a, 3), (Point{2, 2}));
    EXPECT_EQ(end(a, 4), (Point{5, 5}));
    EXPECT_TRUE(a.closed);
    EXPECT_FALSE(p.subpaths[1].closed);
}

TEST(StandinPathTextTest, RefusesAnythingOutsideTheAgreedForm) {
    const char* bad[] = {
        "",                         // nothing
        "   \n ",                   // only blanks
        "L 1 2",                    // no M first
        "m 1 2 l 3 4",              // relative commands
        "M 1 2 H 5",                // other commands
        "M 1 2 Q 1 2 3 4",          //
        "M 1 2 L 3",                // a coordinate missing
        "M 1 2 C 1 2 3 4 5",        // a curve short of its end point
        "M 1 2",                    // a part without lines
        "M 1 2 Z",                  //
        "M 1 2 L 3 4 Z L 5 6",      // a part after Z without M
        "M 1 2 L 3 4 Z 5 6",        // numbers after Z
        "M 1 2 L 3 4,",             // a dangling comma
        "M 1 2 L 3 4, Z",           //
        "M,1 2 L 3 4",              // a comma before the first number
        "M 1 2 L 1e999 0",          // not a finite number
        "M 1 2 L 2000000 0",        // far beyond any slide
        "M 1 2 L 3 4 L 1e 2",       // a broken exponent
        "M 1 2 L . 4",              // a lone point
        "M 1 2 L 3 4 #",            // a stray character
        "M 1 2 L nan 4",            //
    };
    for (const char* text : bad) {
        const auto p = parsePath(text);
        EXPECT_FALSE(p.ok()) << "accepted: " << text;
        EXPECT_TRUE(p.subpaths.empty()) << text;
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.back(), '.') << "not a sentence: " << p.error;
    }
}

// The sentence names the character the user sees, whole, and stays valid UTF-8.
TEST(StandinPathTextTest, AStrayCharacterIsNamedWhole) {
    EXPECT_EQ(parsePath("M 1 2 L 3 4 \u00C5").error, "The drawing has an unexpected character \"\u00C5\".");
    EXPECT_EQ(parsePath("M 1 2 L 3 4 \u20AC").error, "The drawing has an unexpected character \"\u20AC\".");
    EXPECT_EQ(parsePath("M 1 2 L 3 4 \U0001F58A").error, "The drawing has an unexpected character \"\U0001F58A\".");
    EXPECT_EQ(parsePath("M 1 2 L 3 4 \xC2").error, "The drawing has an unexpected character \"\uFFFD\".");
    EXPECT_EQ(parsePath("M 1 2 L 3 4 q").error,
              "The drawing uses the path command \"q\", but only absolute M, L, C and Z are understood.");
}

TEST(StandinPathTextTest, AFaultLateInTheTextKeepsTheEarlierPartsToo) {
    const auto p = parsePath("M 0 0 L 10 10 M 5 5 L 6 6 M 7 7 l 1 1");
    EXPECT_FALSE(p.ok());
    EXPECT_TRUE(p.subpaths.empty());
    EXPECT_NE(p.error.find("\"l\""), std::string::npos) << p.error;
}

TEST(StandinPathTextTest, WrittenTextReadsBackTheSameNumbers) {
    const auto p = parsePath("M 0.1 -2.5e-3 L 1e5 3 C 1.0000001 2 3 4 5 6 Z M 9 9 L 8 8");
    ASSERT_TRUE(p.ok());
    const auto again = parsePath(pathText(p.subpaths));
    ASSERT_TRUE(again.ok()) << again.error;
    EXPECT_EQ(again.subpaths, p.subpaths);
}

TEST(StandinPathTextTest, BoundsFollowTheCurveNotItsControlPoints) {
    // The control points reach y = -100, the curve itself only -75.
    const auto arch = parsePath("M 0 0 C 0 -100 100 -100 100 0");
    ASSERT_TRUE(arch.ok());
    const Rect b = bounds(arch.subpaths);
    EXPECT_DOUBLE_EQ(b.x, 0);
    EXPECT_DOUBLE_EQ(b.w, 100);
    EXPECT_NEAR(b.y, -75, 1e-9);
    EXPECT_NEAR(b.h, 75, 1e-9);

    // An S-shaped curve turns twice along x, at t = (3 -+ sqrt 3) / 6, reaching 50 / sqrt 3.
    const auto s = parsePath("M 0 0 C 100 0 -100 100 0 100");
    ASSERT_TRUE(s.ok());
    const Rect sb = bounds(s.subpaths);
    EXPECT_NEAR(sb.x, -50 / std::sqrt(3.0), 1e-9);
    EXPECT_NEAR(sb.right(), 50 / std::sqrt(3.0), 1e-9);
    EXPECT_DOUBLE_EQ(sb.y, 0);
    EXPECT_DOUBLE_EQ(sb.h, 100);

    const auto lines = parsePath("M 10 20 L 30 5 L 15 40");
    EXPECT_EQ(bounds(lines.subpaths), (Rect{10, 5, 20, 35}));
}
