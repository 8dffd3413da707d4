#pragma once
// The screens as AppKit last showed them, for every thread. NSScreen may only be asked on
// the main thread, and the core asks from there, but nothing stops a caller on another
// queue; so the main thread stores what it read, whenever it reads, and every caller off the
// main thread gets that copy.
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include "ports/screens.hpp"

namespace scribbet::mac {

// One screen as NSScreen reports it.
struct ScreenReading {
    Rect frame;
    Rect visibleFrame;
    double backingScaleFactor = 1;
};

// A screen whose frame is not finite is left out; a visible frame that is not finite is the
// whole frame; a backing scale that is not finite or not above zero is 1.
std::optional<ScreenInfo> screenInfo(const ScreenReading& reading);

struct ScreenSnapshot {
    std::vector<ScreenInfo> screens; // NSScreen.screens' order: the menu bar's screen first
    std::optional<std::size_t> main; // index into screens of NSScreen.mainScreen

    // The main screen's entry; the first screen when the main screen is unknown or was left
    // out; none without screens.
    std::optional<ScreenInfo> mainScreen() const;
};

// `mainIndex`: NSScreen.mainScreen's index in the readings, none when it is nil or not among
// them.
ScreenSnapshot snapshotOf(const std::vector<ScreenReading>& readings, std::optional<std::size_t> mainIndex);

class ScreenCache {
public:
    void store(ScreenSnapshot snapshot);
    ScreenSnapshot snapshot() const;

private:
    mutable std::mutex mutex_;
    ScreenSnapshot snapshot_;
};

} // namespace scribbet::mac
