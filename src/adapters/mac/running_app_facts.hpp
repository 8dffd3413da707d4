#pragma once
// The workspace's answers in plain C++: the glue reads each NSRunningApplication into a
// RunningAppFacts and these pick what the port reports.
#include <optional>
#include <string>
#include <vector>

#include "ports/workspace.hpp"

namespace scribbet::mac {

struct RunningAppFacts {
    int pid = -1;                        // processIdentifier: -1 when the application has none
    bool terminated = false;             // terminated: it quit since the list was made
    std::optional<std::string> bundleId; // bundleIdentifier: none without an Info.plist
};

// The process of the first application in the list that still runs with a process of its
// own. The list may still name an application that has just quit (or one not yet given a
// process), and a pid of -1 or 0 handed to the accessibility interface would address nothing.
std::optional<int> firstLiveProcess(const std::vector<RunningAppFacts>& apps);

// The front application as the port reports it; `selfPid` is this process's. An empty bundle
// identifier counts as none.
FrontApp frontAppOf(const RunningAppFacts& app, int selfPid);

// The bundle identifier named by a terminate notification, for the port's handler.
std::optional<std::string> terminatedBundleOf(const std::optional<RunningAppFacts>& app);

// NSApplicationActivationOptions: none. Bringing the program forward "as the user would" asks
// for nothing more (the ignoring-other-apps flag is deprecated and would steal the focus).
inline constexpr unsigned long activateWithNoOptions = 0;

} // namespace scribbet::mac
