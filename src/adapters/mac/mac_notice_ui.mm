#include "adapters/mac/mac_notice_ui.hpp"

#import <AppKit/AppKit.h>
// CALayer's own properties (the rounded corners): AppKit only names the class.
#import <QuartzCore/QuartzCore.h>

#include <utility>

#include "adapters/mac/appkit_text.h"
#include "adapters/mac/notice_panel_plan.hpp"
#include "adapters/mac/status_window_plan.hpp"

static_assert(scribbet::mac::windowStyle::borderless == NSWindowStyleMaskBorderless);
static_assert(scribbet::mac::windowStyle::nonactivatingPanel == NSWindowStyleMaskNonactivatingPanel);
static_assert(scribbet::mac::collection::canJoinAllSpaces == NSWindowCollectionBehaviorCanJoinAllSpaces);
static_assert(scribbet::mac::collection::fullScreenAuxiliary == NSWindowCollectionBehaviorFullScreenAuxiliary);
static_assert(scribbet::mac::hudWindowMaterial == NSVisualEffectMaterialHUDWindow);
static_assert(scribbet::mac::activeEffectState == NSVisualEffectStateActive);
static_assert(scribbet::mac::behindWindowBlending == NSVisualEffectBlendingModeBehindWindow);

// The notice's content: a click anywhere in it, the label included, is the notice's click,
// and the first one counts even while another program is active.
@interface SCBNoticeView : NSVisualEffectView
- (void)setClicked:(std::function<void()>)clicked;
@end

@implementation SCBNoticeView {
    std::function<void()> _clicked;
}
- (void)setClicked:(std::function<void()>)clicked {
    _clicked = std::move(clicked);
}
- (NSView*)hitTest:(NSPoint)point {
    return [super hitTest:point] ? self : nil;
}
- (BOOL)acceptsFirstMouse:(NSEvent*)event {
    return YES;
}
- (void)mouseDown:(NSEvent*)event {
    if (_clicked) _clicked();
}
@end

namespace scribbet::mac {

namespace {
NSTextField* noticeLabel(const std::string& text) {
    const TextStyle style = noticeTextStyle();
    NSTextField* label = [NSTextField wrappingLabelWithString:nsText(text)];
    label.font = nsFont(style);
    label.textColor = nsColour(style);
    label.preferredMaxLayoutWidth = noticeWrapWidth;
    label.selectable = NO;
    return label;
}

NSPanel* noticePanel(const NoticePanelPlan& plan) {
    NSPanel* panel = [[NSPanel alloc] initWithContentRect:nsRect(plan.frame)
                                                styleMask:static_cast<NSWindowStyleMask>(plan.styleMask)
                                                  backing:NSBackingStoreBuffered
                                                    defer:NO];
    // The floating level (3), which Core Graphics answers at run time rather than as a constant.
    panel.floatingPanel = YES;
    panel.level = NSFloatingWindowLevel;
    panel.hidesOnDeactivate = NO;
    panel.collectionBehavior = static_cast<NSWindowCollectionBehavior>(plan.collectionBehavior);
    panel.opaque = NO;
    panel.backgroundColor = NSColor.clearColor;
    panel.hasShadow = YES;
    panel.releasedWhenClosed = NO;
    return panel;
}

SCBNoticeView* noticeView(const NoticePanelPlan& plan) {
    SCBNoticeView* view = [[SCBNoticeView alloc] initWithFrame:NSMakeRect(0, 0, plan.frame.w, plan.frame.h)];
    view.material = static_cast<NSVisualEffectMaterial>(plan.material);
    view.state = static_cast<NSVisualEffectState>(plan.state);
    view.blendingMode = static_cast<NSVisualEffectBlendingMode>(plan.blending);
    view.wantsLayer = YES;
    view.layer.cornerRadius = plan.cornerRadius;
    view.layer.masksToBounds = YES;
    return view;
}
} // namespace

struct MacNoticeUI::Impl {
    NSPanel* panel = nil;
    SCBNoticeView* view = nil;
};

MacNoticeUI::MacNoticeUI(MainQueue& main) : main_(main), impl_(std::make_unique<Impl>()) {}

MacNoticeUI::~MacNoticeUI() { hide(); }

NoticeUI::Size MacNoticeUI::measure(const std::string& text) {
    const NSSize fitting = noticeLabel(text).fittingSize;
    return noticeFittingSize(fitting.width, fitting.height);
}

void MacNoticeUI::show(const std::string& text, const Rect& frame, const Rect& label, std::function<void()> clicked) {
    hide();
    const auto plan = noticePanelPlan(frame, label);
    if (!plan) return;
    NSPanel* panel = noticePanel(*plan);
    SCBNoticeView* view = noticeView(*plan);
    std::function<void()> onClick = [&main = main_, clicked = std::move(clicked)] {
        if (clicked) main.async(clicked);
    };
    [view setClicked:std::move(onClick)];
    NSTextField* field = noticeLabel(text);
    field.frame = nsRect(plan->label);
    [view addSubview:field];
    panel.contentView = view;
    // To the front without activating this program: PowerPoint stays the active one.
    [panel orderFrontRegardless];
    impl_->panel = panel;
    impl_->view = view;
}

void MacNoticeUI::hide() {
    if (!impl_->panel) return;
    [impl_->view setClicked:std::function<void()>()];
    [impl_->panel orderOut:nil];
    impl_->panel = nil;
    impl_->view = nil;
}

} // namespace scribbet::mac
