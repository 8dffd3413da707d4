#pragma once
// The panel's placement: which screen the layer covers, where its origin lies, how the
// program's coordinates turn into the layer's, and moving the panel when the slide goes to
// another screen.
#include <optional>
#include <vector>

#include "base/rect.hpp"
#include "ports/input_monitors.hpp"
#include "ports/screens.hpp"

namespace scribbet {

struct Session;

namespace panel_place {

// The frame of the screen under the probe (in the program's coordinates, y down), else the
// main screen's, else the first one's. `screens` is not empty.
Rect screenFor(const std::vector<ScreenInfo>& screens, const std::optional<ScreenInfo>& mainScreen, const Rect& probe);
// The top left of a screen frame in the program's coordinates; `H` is the first screen's top.
Point originOf(const Rect& frame, double H);
inline Rect toLayer(Point origin, const Rect& r) { return {r.x - origin.x, r.y - origin.y, r.w, r.h}; }
// Moves the session's panel to the screen under the probe when it left the panel's screen;
// the geometry the page has is stale then, so it is sent again.
void moveToScreenOf(Session& s, const Rect& probe, const Screens& screens);

} // namespace panel_place
} // namespace scribbet
