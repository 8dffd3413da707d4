#pragma once
// The keyboard and the mouse around the layer, through AppKit's event monitors: a local
// monitor sees this program's key presses before they are dispatched (and may swallow one),
// a global monitor sees copies of the clicks, scrolls and pinches that go to other programs.
// Global monitors need no Accessibility permission for mouse events, only for keys.
#include <functional>

#include "ports/input_monitors.hpp"

namespace scribbet::mac {

class MacInputMonitors final : public InputMonitors {
public:
    // Main thread, as every call and every handler. Each monitor ends when its subscription
    // is dropped, also from inside its own handler.
    Subscription addKeyMonitor(std::function<bool(const KeyEvent&)> handler) override;
    Subscription addMouseMonitor(std::function<void()> handler) override;
    Point pointer() const override;
    // Any button: the left, the right or another one.
    bool buttonsHeld() const override;
};

} // namespace scribbet::mac
