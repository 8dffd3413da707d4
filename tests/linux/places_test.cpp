#include <gtest/gtest.h>

#include <cstdlib>

#include "adapters/linux/desktop_places.hpp"
#include "adapters/linux/file_preferences.hpp"
#include "adapters/mac/mac_paths.hpp"
#include "support/test_env.hpp"

using namespace scribbet;
using namespace scribbet::linuxhost;

namespace {

TEST(XdgPathsTest, LogAndScriptsFollowTheXdgVariablesAndIgnoreRelativeOnes) {
    ::setenv("HOME", "/home/ann", 1);
    ::setenv("XDG_STATE_HOME", "/state", 1);
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    XdgPaths paths;
    EXPECT_EQ(paths.logFile(), "/state/scribbet/Scribbet.log");
    EXPECT_EQ(paths.scriptsFolder(),
              "/home/ann/.local/share/scribbet-standin/Application Scripts/com.microsoft.Powerpoint");
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(paths.logFile(), "/home/ann/.local/state/scribbet/Scribbet.log");

    mac::MacPaths macPaths; // the same places as the program has always used on macOS
    EXPECT_EQ(macPaths.logFile(), "/home/ann/Library/Logs/Scribbet.log");
    EXPECT_EQ(macPaths.scriptsFolder(), "/home/ann/Library/Application Scripts/com.microsoft.Powerpoint");
}

TEST(FilePreferencesTest, ValuesSurviveARestartAndADamagedFileIsSetAside) {
    test::TempDir dir;
    const auto file = dir / "config" / "scribbet" / "preferences.json";
    {
        FilePreferences prefs(file);
        EXPECT_EQ(prefs.get("nudge"), std::nullopt);
        prefs.set("nudge", {{"x", 1.5}, {"y", -2}});
        prefs.set("axAskedFor", "0.1.0");
    }
    FilePreferences again(file);
    EXPECT_EQ(again.get("nudge"), (nlohmann::json{{"x", 1.5}, {"y", -2}}));
    EXPECT_EQ(again.get("axAskedFor"), nlohmann::json("0.1.0"));

    test::writeFile(file, "{ not json");
    FilePreferences damaged(file);
    EXPECT_EQ(damaged.get("nudge"), std::nullopt);
    EXPECT_EQ(test::readFile(file.string() + ".damaged"), "{ not json");
    damaged.set("axAskedFor", "0.2.0");
    EXPECT_EQ(FilePreferences(file).get("axAskedFor"), nlohmann::json("0.2.0"));
}

} // namespace
