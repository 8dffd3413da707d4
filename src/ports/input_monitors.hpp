#pragma once
// Watching the keyboard and the mouse around the layer.
#include <cstdint>
#include <functional>
#include <string>

#include "ports/subscription.hpp"

namespace scribbet {

struct KeyEvent {
    bool command = false, option = false, control = false;
    std::string charactersIgnoringModifiers;
    bool inLayerPanel = false; // the event's window is the layer's panel
};

struct Point {
    double x = 0, y = 0;
};

class InputMonitors {
public:
    virtual ~InputMonitors() = default;
    // Monitors run until their subscription is dropped.
    // Key-down events of this application; the handler answers true to consume one.
    virtual Subscription addKeyMonitor(std::function<bool(const KeyEvent&)> handler) = 0;
    // Left-mouse-up, scroll and pinch events that go to other applications.
    virtual Subscription addMouseMonitor(std::function<void()> handler) = 0;
    // The pointer in the platform's screen convention (bottom-left origin).
    virtual Point pointer() const = 0;
    virtual bool buttonsHeld() const = 0;
};

} // namespace scribbet
