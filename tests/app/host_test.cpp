#include <gtest/gtest.h>

#include "app/host.hpp"

using namespace scribbet;

TEST(HostTest, SaysEveryPowerPointAsTheProgramsNameAndLeavesTheRest) {
    const Host impress{"Impress", "org.libreoffice.impress", false, ""};
    EXPECT_EQ(impress.say("PowerPoint is not running. Open your presentation in PowerPoint, then try again."),
              "Impress is not running. Open your presentation in Impress, then try again.");
    EXPECT_EQ(impress.say("PowerPoint's view"), "Impress's view");
    EXPECT_EQ(impress.say("Power Point, Powerpoint and powerpoint stay"), "Power Point, Powerpoint and powerpoint stay");
    EXPECT_EQ(impress.say(""), "");
    EXPECT_EQ(impress.say("PowerPointPowerPoint"), "ImpressImpress");
    EXPECT_EQ(Host{}.say("PowerPoint"), "PowerPoint");
}

TEST(HostTest, TheProgramChosenAtStartIsTheOneEveryoneReads) {
    EXPECT_EQ(Host::current().name, "PowerPoint");
    EXPECT_EQ(Host::current().programId, "com.microsoft.Powerpoint");
    Host::use({"Impress", "org.libreoffice.impress", false, ""});
    EXPECT_EQ(Host::current().say("PowerPoint quit - drawing layer closed."), "Impress quit - drawing layer closed.");
    Host::use({});
    EXPECT_EQ(Host::current().name, "PowerPoint");
}
