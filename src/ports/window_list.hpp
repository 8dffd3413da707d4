#pragma once
// The window server's list of on-screen windows, front to back.
#include <optional>
#include <vector>

#include "base/rect.hpp"

namespace scribbet {

struct WindowInfo {
    std::optional<int> ownerPid;
    std::optional<int> layer;
    std::optional<Rect> bounds; // global points, top-left origin; none when unreadable
};

class WindowList {
public:
    virtual ~WindowList() = default;
    // On-screen windows without desktop elements; none when the list can't be had.
    virtual std::optional<std::vector<WindowInfo>> onScreenWindows() const = 0;
};

} // namespace scribbet
