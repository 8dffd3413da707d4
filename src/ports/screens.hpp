#pragma once
// The displays. Frames are in the platform's own convention: origin at the bottom left of
// the primary screen, y growing upwards (the primary screen comes first).
#include <memory>
#include <optional>
#include <vector>

#include "base/rect.hpp"

namespace scribbet {

struct ScreenInfo {
    Rect frame;
    Rect visibleFrame; // without the menu bar and the Dock
    double backingScale = 1;
    friend bool operator==(const ScreenInfo&, const ScreenInfo&) = default;
};

class Screens {
public:
    virtual ~Screens() = default;
    virtual std::vector<ScreenInfo> screens() const = 0;
    // The screen with the keyboard focus; none when there are no screens.
    virtual std::optional<ScreenInfo> mainScreen() const = 0;
};

// The screens' backing scales, in the screens' order.
std::vector<double> backingScales(const Screens& screens);

} // namespace scribbet
