#pragma once
// The keyboard and the mouse around the layer, under X.
//
// Keys: every event of this program passes GDK's event handler, which is replaced by one
// that shows key presses to the monitors first. Ctrl stands where macOS has Command, Alt
// where it has Option, and the Super key takes the place of macOS's Control.
//
// Clicks elsewhere: the X server sends raw button events (XInput 2) to whoever asks on the
// root window, whichever program the click goes to. A left-button release or a wheel turn is
// reported unless the pointer is over one of this program's own windows. Pinching has no
// raw event; the programs that zoom on it on Linux zoom on Ctrl+wheel too, which is seen.
// Without XInput 2 (no such X extension) the mouse monitor stays silent.
#include <functional>
#include <map>
#include <memory>

#include "adapters/gtk/monitor_screens.hpp"
#include "ports/input_monitors.hpp"

typedef union _GdkEvent GdkEvent;

namespace scribbet::gtkhost {

// A key press as the layer reads it, from GDK's modifier state and key value.
KeyEvent keyEventFrom(unsigned state, unsigned keyval);

class X11Input final : public InputMonitors {
public:
    // Main thread, with GTK initialised. One at a time: it takes over GDK's event handler.
    X11Input(GdkDisplay* display, std::shared_ptr<MonitorScreens> screens);
    ~X11Input() override;
    X11Input(const X11Input&) = delete;
    X11Input& operator=(const X11Input&) = delete;

    Subscription addKeyMonitor(std::function<bool(const KeyEvent&)> handler) override;
    Subscription addMouseMonitor(std::function<void()> handler) override;
    Point pointer() const override;
    // Buttons 1 to 3; the wheel's "buttons" are never held.
    bool buttonsHeld() const override;

    // XInput's major opcode; -1 without the extension.
    int xiOpcode() const { return xiOpcode_; }
    // Shows a key press to the monitors; true when one consumed it.
    bool keyDown(const KeyEvent& e);
    // A raw button event from the X server: XInput 2's event type and the button number.
    void rawButton(int evtype, int button);

private:
    static void onEvent(GdkEvent* event, void* self);
    bool overOwnWindow() const;
    void mouseElsewhere();

    GdkDisplay* display_;
    std::shared_ptr<MonitorScreens> screens_;
    CallbackList<bool(const KeyEvent&)> keys_;
    CallbackList<void()> mice_;
    int xiOpcode_ = -1;
};

} // namespace scribbet::gtkhost
