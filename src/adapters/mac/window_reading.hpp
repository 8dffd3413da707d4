#pragma once
// One entry of the window server's list as the window list read it, and what it means for
// the port: the owner's process, the layer and the bounds, each none when unreadable.
#include <cstdint>
#include <optional>

#include "ports/window_list.hpp"

namespace scribbet::mac {

// CGWindowListCopyWindowInfo's options: on-screen windows only, front to back
// (kCGWindowListOptionOnScreenOnly), without the desktop picture and icons
// (kCGWindowListExcludeDesktopElements); no reference window (kCGNullWindowID).
inline constexpr std::uint32_t windowListOnScreenOnly = 1u << 0;
inline constexpr std::uint32_t windowListExcludeDesktopElements = 1u << 4;
inline constexpr std::uint32_t windowListOptions = windowListOnScreenOnly | windowListExcludeDesktopElements;
inline constexpr std::uint32_t nullWindowId = 0;

struct WindowReading {
    // kCGWindowOwnerPID and kCGWindowLayer as CFNumbers read as doubles; none when the key
    // was missing or held no number.
    std::optional<double> ownerPid;
    std::optional<double> layer;
    // kCGWindowBounds after CGRectMakeWithDictionaryRepresentation; none when the key was
    // missing, held no dictionary, or the function could not read it.
    struct Bounds {
        double x = 0, y = 0, w = 0, h = 0;
    };
    std::optional<Bounds> bounds;
};

// A number that is not a whole number within int's range is no process or layer.
std::optional<int> wholeNumber(std::optional<double> value);

// The bounds are in the window server's global space, top-left origin, y down, which is the
// port's own convention, so nothing is turned over. A negative size is the same area
// standardized, as Core Graphics reads such rectangles; a non-finite value is unreadable.
WindowInfo windowInfoOf(const WindowReading& reading);

} // namespace scribbet::mac
