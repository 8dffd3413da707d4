#include "adapters/mac/bundle_facts.hpp"
#include "adapters/mac/running_app_facts.hpp"

#include <gtest/gtest.h>

namespace scribbet::mac {
namespace {

TEST(RunningAppFacts, TheFirstApplicationThatStillRuns) {
    EXPECT_FALSE(firstLiveProcess({}));
    EXPECT_EQ(firstLiveProcess({{412, false, "com.microsoft.Powerpoint"}}), 412);
    EXPECT_EQ(firstLiveProcess({{300, true, {}}, {-1, false, {}}, {0, false, {}}, {512, false, {}}, {600, false, {}}}),
              512);
    EXPECT_FALSE(firstLiveProcess({{300, true, {}}, {-1, false, {}}}));
}

TEST(RunningAppFacts, FrontApplication) {
    const FrontApp ppt = frontAppOf({412, false, "com.microsoft.Powerpoint"}, 77);
    EXPECT_EQ(ppt.bundleId, "com.microsoft.Powerpoint");
    EXPECT_FALSE(ppt.isSelf);

    const FrontApp self = frontAppOf({77, false, "com.tarnwell.scribbet"}, 77);
    EXPECT_TRUE(self.isSelf);

    const FrontApp bare = frontAppOf({90, false, ""}, 77);
    EXPECT_FALSE(bare.bundleId) << "an empty identifier is none";
    EXPECT_FALSE(frontAppOf({-1, false, {}}, -1).isSelf) << "two missing processes are not the same one";
}

TEST(RunningAppFacts, TerminatedApplication) {
    EXPECT_EQ(terminatedBundleOf(RunningAppFacts{412, true, "com.microsoft.Powerpoint"}), "com.microsoft.Powerpoint");
    EXPECT_FALSE(terminatedBundleOf(RunningAppFacts{412, true, {}}));
    EXPECT_FALSE(terminatedBundleOf(RunningAppFacts{412, true, ""}));
    EXPECT_FALSE(terminatedBundleOf(std::nullopt)) << "a notification without its application";
}

TEST(BundleFacts, VersionOnlyWhenItIsText) {
    EXPECT_EQ(versionOf({true, true, "1.4.2"}), "1.4.2");
    EXPECT_FALSE(versionOf({true, false, ""})) << "a number in the Info.plist";
    EXPECT_FALSE(versionOf({true, true, ""}));
    EXPECT_FALSE(versionOf({}));
}

TEST(BundleFacts, PathsAndResourceNames) {
    EXPECT_EQ(pathOf(std::string("/Applications/Scribbet.app")), std::filesystem::path("/Applications/Scribbet.app"));
    EXPECT_FALSE(pathOf(std::string()));
    EXPECT_FALSE(pathOf(std::nullopt));

    EXPECT_TRUE(resourceNameUsable("Scribbet", "scpt"));
    EXPECT_TRUE(resourceNameUsable("LICENSE", ""));
    EXPECT_FALSE(resourceNameUsable("", "scpt")) << "would answer any .scpt";
    EXPECT_FALSE(resourceNameUsable("../Info", "plist"));
    EXPECT_FALSE(resourceNameUsable("web/overlay", "html"));
    EXPECT_FALSE(resourceNameUsable("Scribbet", "x/y"));
    EXPECT_FALSE(resourceNameUsable("..", ""));
    EXPECT_FALSE(resourceNameUsable(std::string("a\0b", 3), "txt"));
}

} // namespace
} // namespace scribbet::mac
