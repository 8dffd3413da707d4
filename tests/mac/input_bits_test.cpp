// Key presses as the layer's key monitor reads them: only Command, Option and Control count,
// whatever else the flags carry.
#include <gtest/gtest.h>

#include "adapters/mac/input_bits.hpp"

using namespace scribbet;
using namespace scribbet::mac;
using namespace scribbet::mac::input_bits;

TEST(MacKeyEventTest, TheThreeModifiersAreReadFromTheirBits) {
    const KeyEvent w = keyEventOf(commandFlag, u"w", true);
    EXPECT_TRUE(w.command);
    EXPECT_FALSE(w.option);
    EXPECT_FALSE(w.control);
    EXPECT_EQ(w.charactersIgnoringModifiers, "w");
    EXPECT_TRUE(w.inLayerPanel);

    const KeyEvent all = keyEventOf(commandFlag | optionFlag | controlFlag, u".", false);
    EXPECT_TRUE(all.command && all.option && all.control);
    EXPECT_FALSE(all.inLayerPanel);

    const KeyEvent none = keyEventOf(0, u"", true);
    EXPECT_FALSE(none.command || none.option || none.control);
    EXPECT_EQ(none.charactersIgnoringModifiers, "");
}

TEST(MacKeyEventTest, OtherFlagsChangeNothing) {
    // Shift (Command-Shift-W closes too), Caps Lock, the function key, the numeric pad, and
    // the device-dependent low bits (which side's Command key).
    const std::uint64_t noise = shiftFlag | (1u << 16) | (1u << 23) | (1u << 21) | 0xFFFFu;
    const KeyEvent e = keyEventOf(commandFlag | noise, u"W", true);
    EXPECT_TRUE(e.command);
    EXPECT_FALSE(e.option);
    EXPECT_FALSE(e.control);
    const KeyEvent bare = keyEventOf(noise, u"w", true);
    EXPECT_FALSE(bare.command || bare.option || bare.control);
    // Bits past the 32 the flags use say nothing either.
    const KeyEvent high = keyEventOf(std::uint64_t{1} << 40, u"w", true);
    EXPECT_FALSE(high.command || high.option || high.control);
}

TEST(MacKeyEventTest, TheCharactersArriveAsUtf8) {
    EXPECT_EQ(keyEventOf(0, u"\u00e9", true).charactersIgnoringModifiers, "\xC3\xA9");
    // A function key's private-use character, and a lone surrogate that must not break the text.
    EXPECT_EQ(keyEventOf(0, u"\uF700", true).charactersIgnoringModifiers, "\xEF\x9C\x80");
    EXPECT_EQ(keyEventOf(0, std::u16string(1, char16_t(0xD800)), true).charactersIgnoringModifiers, "\xEF\xBF\xBD");
}

TEST(MacKeyEventTest, TheMonitorsAskForTheirEventsOnly) {
    EXPECT_EQ(keyMask, std::uint64_t{1} << 10);
    // Left-mouse-up, scroll wheel and magnify; not a mouse-down, not a drag, not a key.
    EXPECT_NE(mouseMask & maskOf(leftMouseUpType), 0u);
    EXPECT_NE(mouseMask & maskOf(scrollWheelType), 0u);
    EXPECT_NE(mouseMask & maskOf(magnifyType), 0u);
    EXPECT_EQ(mouseMask & maskOf(1), 0u); // left mouse down
    EXPECT_EQ(mouseMask & maskOf(6), 0u); // left mouse dragged
    EXPECT_EQ(mouseMask & keyMask, 0u);
    EXPECT_EQ(__builtin_popcountll(mouseMask), 3);
}
