#include "adapters/mac/mac_input.hpp"

#import <AppKit/AppKit.h>

#include <memory>
#include <string>

#include "adapters/mac/input_bits.hpp"
#include "adapters/mac/mac_layer_panel.hpp"

namespace scribbet::mac {

static_assert(NSEventTypeLeftMouseUp == input_bits::leftMouseUpType);
static_assert(NSEventTypeKeyDown == input_bits::keyDownType);
static_assert(NSEventTypeScrollWheel == input_bits::scrollWheelType);
static_assert(NSEventTypeMagnify == input_bits::magnifyType);
static_assert(NSEventMaskKeyDown == input_bits::keyMask);
static_assert((NSEventMaskLeftMouseUp | NSEventMaskScrollWheel | NSEventMaskMagnify) == input_bits::mouseMask);
static_assert(NSEventModifierFlagDeviceIndependentFlagsMask == input_bits::deviceIndependentMask);
static_assert(NSEventModifierFlagShift == input_bits::shiftFlag);
static_assert(NSEventModifierFlagControl == input_bits::controlFlag);
static_assert(NSEventModifierFlagOption == input_bits::optionFlag);
static_assert(NSEventModifierFlagCommand == input_bits::commandFlag);

namespace {
std::u16string unitsOf(NSString* s) {
    std::u16string out(s ? s.length : 0, u'\0');
    if (!out.empty()) [s getCharacters:reinterpret_cast<unichar*>(out.data()) range:NSMakeRange(0, out.size())];
    return out;
}

// A monitor is removed exactly once (AppKit over-releases one removed twice); the
// subscription calls its end at most once.
Subscription ending(id monitor) {
    if (!monitor) return {};
    return Subscription([monitor] { [NSEvent removeMonitor:monitor]; });
}
} // namespace

// Each handler runs on a reference of its own: it may end its own monitor (closing the layer
// does), and AppKit would then let go of the block that holds it.
Subscription MacInputMonitors::addKeyMonitor(std::function<bool(const KeyEvent&)> handler) {
    auto shared = std::make_shared<std::function<bool(const KeyEvent&)>>(std::move(handler));
    NSEvent* (^block)(NSEvent*) = ^NSEvent*(NSEvent* event) {
        const auto run = shared;
        const KeyEvent e = input_bits::keyEventOf(event.modifierFlags, unitsOf(event.charactersIgnoringModifiers),
                                                  isLayerPanel(event.window));
        return (*run)(e) ? nil : event;
    };
    return ending([NSEvent addLocalMonitorForEventsMatchingMask:static_cast<NSEventMask>(input_bits::keyMask)
                                                        handler:block]);
}

Subscription MacInputMonitors::addMouseMonitor(std::function<void()> handler) {
    auto shared = std::make_shared<std::function<void()>>(std::move(handler));
    void (^block)(NSEvent*) = ^(NSEvent*) {
        const auto run = shared;
        (*run)();
    };
    return ending([NSEvent addGlobalMonitorForEventsMatchingMask:static_cast<NSEventMask>(input_bits::mouseMask)
                                                         handler:block]);
}

Point MacInputMonitors::pointer() const {
    const NSPoint p = NSEvent.mouseLocation;
    return {p.x, p.y};
}

bool MacInputMonitors::buttonsHeld() const { return NSEvent.pressedMouseButtons != 0; }

} // namespace scribbet::mac
