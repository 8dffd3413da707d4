#include "adapters/mac/mac_layer_panel.hpp"

#import <AppKit/AppKit.h>

#include <cassert>

#include "adapters/mac/panel_style.hpp"

// The one change to NSPanel: a borderless panel is never key by default, and the page needs
// the keys; it is never the main window, which stays the presentation program's.
@interface SCBLayerPanel : NSPanel
@end

@implementation SCBLayerPanel
- (BOOL)canBecomeKeyWindow {
    return YES;
}
- (BOOL)canBecomeMainWindow {
    return NO;
}
@end

namespace scribbet::mac {

static_assert(NSWindowStyleMaskBorderless == panel_style::borderless);
static_assert(NSWindowStyleMaskNonactivatingPanel == panel_style::nonactivatingPanel);
static_assert(NSBackingStoreBuffered == panel_style::bufferedBacking);
static_assert(NSWindowCollectionBehaviorFullScreenAuxiliary == panel_style::fullScreenAuxiliary);
static_assert(NSWindowCollectionBehaviorMoveToActiveSpace == panel_style::moveToActiveSpace);
static_assert(NSWindowAnimationBehaviorNone == panel_style::noAnimation);

struct MacLayerPanel::Impl {
    SCBLayerPanel* panel = nil;
    // What the panel said last, for the questions asked after it was cleared.
    Rect lastFrame;
    bool ignores = false;
};

namespace {
NSRect nsRect(const Rect& r) {
    const Rect s = r.standardized();
    return NSMakeRect(s.x, s.y, s.w, s.h);
}

SCBLayerPanel* makePanel(NSRect frame) {
    const auto style = static_cast<NSWindowStyleMask>(panel_style::styleMask);
    const auto backing = static_cast<NSBackingStoreType>(panel_style::bufferedBacking);
    SCBLayerPanel* p = [[SCBLayerPanel alloc] initWithContentRect:frame styleMask:style backing:backing defer:NO];
    [p setFrame:frame display:NO];
    // The floating level's number comes from CoreGraphics at run time, so the compiler cannot
    // hold the table to it; the panel takes AppKit's own value, and a debug build says if the
    // table's number has drifted from it.
    assert(NSFloatingWindowLevel == panel_style::floatingLevel);
    p.level = NSFloatingWindowLevel;
    p.hidesOnDeactivate = NO;
    p.collectionBehavior = static_cast<NSWindowCollectionBehavior>(panel_style::collectionBehavior);
    p.opaque = NO;
    p.backgroundColor = NSColor.clearColor;
    p.hasShadow = NO;
    p.releasedWhenClosed = NO;
    p.movable = NO;
    p.acceptsMouseMovedEvents = YES;
    p.animationBehavior = static_cast<NSWindowAnimationBehavior>(panel_style::noAnimation);
    p.title = @(panel_style::title);
    return p;
}
} // namespace

MacLayerPanel::MacLayerPanel(const Rect& screenFrame) : impl_(std::make_unique<Impl>()) {
    impl_->lastFrame = screenFrame.standardized();
    impl_->panel = makePanel(nsRect(screenFrame));
}

MacLayerPanel::~MacLayerPanel() { clear(); }

Rect MacLayerPanel::frame() const {
    if (!impl_->panel) return impl_->lastFrame;
    const NSRect f = impl_->panel.frame;
    return {f.origin.x, f.origin.y, f.size.width, f.size.height};
}

void MacLayerPanel::setFrame(const Rect& frame) {
    impl_->lastFrame = frame.standardized();
    if (impl_->panel) [impl_->panel setFrame:nsRect(frame) display:YES];
}

bool MacLayerPanel::isVisible() const { return impl_->panel && impl_->panel.visible; }

bool MacLayerPanel::onActiveSpace() const { return impl_->panel && impl_->panel.onActiveSpace; }

// A non-activating panel becomes key without activating Scribbet; the page's view then
// takes the keys.
void MacLayerPanel::makeKeyAndFront() {
    SCBLayerPanel* p = impl_->panel;
    if (!p) return;
    [p makeKeyAndOrderFront:nil];
    if (NSView* content = p.contentView) [p makeFirstResponder:content];
}

void MacLayerPanel::orderFrontRegardless() { [impl_->panel orderFrontRegardless]; }

void MacLayerPanel::hide() { [impl_->panel orderOut:nil]; }

bool MacLayerPanel::ignoresMouse() const { return impl_->panel ? impl_->panel.ignoresMouseEvents : impl_->ignores; }

void MacLayerPanel::setIgnoresMouse(bool ignore) {
    impl_->ignores = ignore;
    impl_->panel.ignoresMouseEvents = ignore;
}

// The layer may close from inside one of its page's callbacks (a "cancel" message, the page's
// process ending once too often), with WebKit and AppKit still on the stack below: the window
// leaves the screen now, and the window and its old content are let go once the main queue
// is back at rest.
void MacLayerPanel::clear() {
    SCBLayerPanel* p = impl_->panel;
    if (!p) return;
    impl_->lastFrame = frame();
    impl_->ignores = p.ignoresMouseEvents;
    impl_->panel = nil;
    [p orderOut:nil];
    NSView* content = p.contentView;
    p.contentView = nil;
    dispatch_async(dispatch_get_main_queue(), ^{
        (void)p;
        (void)content;
    });
}

NSWindow* windowOf(const MacLayerPanel& panel) { return panel.impl().panel; }

bool isLayerPanel(NSWindow* window) { return [window isKindOfClass:SCBLayerPanel.class]; }

} // namespace scribbet::mac
