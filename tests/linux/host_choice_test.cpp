#include "adapters/linux/host_choice.hpp"

#include <gtest/gtest.h>

using namespace scribbet;
using namespace scribbet::linuxhost;

namespace {
struct Asker {
    std::optional<int> pid;
    int asked = 0;
    std::function<std::optional<int>()> fn() {
        return [this] {
            ++asked;
            return pid;
        };
    }
};
} // namespace

TEST(HostChoice, ImpressWhenItsExtensionAnswersElseTheStandin) {
    Asker a{4242};
    auto c = chooseHost(std::nullopt, true, a.fn());
    EXPECT_EQ(c.kind, HostKind::impress);
    EXPECT_EQ(c.impressPid, 4242);
    EXPECT_EQ(c.note, "Impress's Scribbet extension answers: Scribbet serves Impress.");
    EXPECT_EQ(chooseHost("auto", true, a.fn()).kind, HostKind::impress);

    Asker none;
    c = chooseHost(std::nullopt, true, none.fn());
    EXPECT_EQ(c.kind, HostKind::standin);
    EXPECT_FALSE(c.impressPid);
    EXPECT_EQ(c.note, "No Impress with the Scribbet extension answers: Scribbet serves the desktop stand-in.");

    // Without a display there is no desktop to read Impress's windows from: nobody is asked.
    Asker unasked{4242};
    EXPECT_EQ(chooseHost(std::nullopt, false, unasked.fn()).kind, HostKind::standin);
    c = chooseHost("impress", false, unasked.fn());
    EXPECT_EQ(c.kind, HostKind::standin);
    EXPECT_EQ(c.note, "Impress needs an X display, and there is none: Scribbet serves the desktop stand-in.");
    EXPECT_EQ(unasked.asked, 0);
}

TEST(HostChoice, TheSettingSettlesItAndABadOneIsSaidAndIgnored) {
    Asker a{4242};
    EXPECT_EQ(chooseHost("standin", true, a.fn()).kind, HostKind::standin);
    EXPECT_EQ(a.asked, 0);

    // Set to Impress, it is served even before its extension answers: the view reconnects.
    Asker none;
    auto c = chooseHost("impress", true, none.fn());
    EXPECT_EQ(c.kind, HostKind::impress);
    EXPECT_FALSE(c.impressPid);
    EXPECT_EQ(c.note, "Scribbet serves Impress, as set; its extension does not answer yet.");

    c = chooseHost("Impress ", true, a.fn());
    EXPECT_EQ(c.kind, HostKind::impress);
    EXPECT_EQ(c.note, "SCRIBBET_HOST is \"Impress \", which is none of impress, standin or auto: Scribbet chooses. "
                      "Impress's Scribbet extension answers: Scribbet serves Impress.");
}

TEST(HostChoice, ImpressIsNamedInTextsAndItsExtensionMendedByTheUser) {
    const Host h = impressHost();
    EXPECT_EQ(h.say("PowerPoint is not running."), "Impress is not running.");
    EXPECT_FALSE(h.reloadsAddin);
    EXPECT_FALSE(h.runsHelperScript); // the extension starts Scribbet itself
    EXPECT_NE(h.programId, Host{}.programId);
    EXPECT_NE(h.mendAddin.find("unopkg add"), std::string::npos);
}
