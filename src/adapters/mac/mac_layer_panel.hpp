#pragma once
// The drawing layer's window on macOS: an NSPanel over one screen, borderless, clear and
// non-activating, on the floating level, allowed beside a full-screen window. It may become
// the key window (the page takes keys) but never the main one, and Scribbet stays
// inactive while it has the keys. Letting the mouse through is AppKit's
// ignoresMouseEvents: clicks then go to the window below.
#include <memory>

#include "ports/layer_ui.hpp"

#ifdef __OBJC__
@class NSView;
@class NSWindow;
#endif

namespace scribbet::mac {

class MacLayerPanel final : public LayerPanel {
public:
    // Main thread. Over `screenFrame` (bottom-left origin), hidden until asked to show.
    explicit MacLayerPanel(const Rect& screenFrame);
    ~MacLayerPanel() override;
    MacLayerPanel(const MacLayerPanel&) = delete;
    MacLayerPanel& operator=(const MacLayerPanel&) = delete;

    Rect frame() const override;
    void setFrame(const Rect& frame) override;
    bool isVisible() const override;
    void makeKeyAndFront() override;
    void orderFrontRegardless() override;
    void hide() override;
    bool ignoresMouse() const override;
    void setIgnoresMouse(bool ignore) override;
    void clear() override;
    bool onActiveSpace() const override;

    // The Objective-C side, defined in the .mm only.
    struct Impl;
    Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

#ifdef __OBJC__
// For the other Objective-C++ glue of the layer. The panel's window, nil once cleared.
NSWindow* windowOf(const MacLayerPanel& panel);
// Whether a window is one of the layer's panels (the key monitor asks of an event's window).
bool isLayerPanel(NSWindow* window);
#endif

} // namespace scribbet::mac
