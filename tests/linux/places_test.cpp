#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/desktop_places.hpp"
#include "platform/mac/mac_paths.hpp"

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

} // namespace
