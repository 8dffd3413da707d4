// The stand-in answers with the error numbers the Mac's Apple events give, so that the core
// meets the same failures on both systems: the two transports must read each number alike.
#include <gtest/gtest.h>

#include "adapters/linux/standin_adapters.hpp"
#include "adapters/mac/macro_event.hpp"

using namespace scribbet;

TEST(AppleEventKinds, TheStandinsTransportReadsEveryNumberAsTheMacsDoes) {
    const std::optional<std::string> noWords, macroWords = "The macro cannot be found.", otherWords = "Disk full.";
    for (int number : {0, -18, -128, -600, -609, -903, -1708, -1712, -1743, -1744, -10661, -10000, -1, 1, -50}) {
        for (const auto& words : {noWords, macroWords, otherWords}) {
            const MacroFailure standin = linuxhost::macroFailureOf(number, words);
            const MacroFailure mac = mac::macroFailureOf(number, words);
            EXPECT_EQ(standin.kind, mac.kind) << number << " with " << words.value_or("no words");
            EXPECT_EQ(standin.number, mac.number);
            EXPECT_EQ(standin.message, mac.message);
        }
    }
}
