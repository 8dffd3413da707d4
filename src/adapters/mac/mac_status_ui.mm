#include "adapters/mac/mac_status_ui.hpp"

#import <AppKit/AppKit.h>

#include <utility>

#include "adapters/mac/appkit_text.h"
#include "adapters/mac/status_window_plan.hpp"

static_assert(scribbet::mac::windowStyle::titled == NSWindowStyleMaskTitled);
static_assert(scribbet::mac::windowStyle::closable == NSWindowStyleMaskClosable);
static_assert(scribbet::mac::windowStyle::miniaturizable == NSWindowStyleMaskMiniaturizable);
static_assert(scribbet::mac::windowStyle::resizable == NSWindowStyleMaskResizable);
static_assert(scribbet::mac::autoresizing::notSizable == NSViewNotSizable);
static_assert(scribbet::mac::autoresizing::minXMargin == NSViewMinXMargin);
static_assert(scribbet::mac::autoresizing::widthSizable == NSViewWidthSizable);
static_assert(scribbet::mac::autoresizing::maxXMargin == NSViewMaxXMargin);
static_assert(scribbet::mac::autoresizing::minYMargin == NSViewMinYMargin);
static_assert(scribbet::mac::autoresizing::heightSizable == NSViewHeightSizable);
static_assert(scribbet::mac::autoresizing::maxYMargin == NSViewMaxYMargin);

// A button's target: buttons hold their targets weakly, the window below holds these.
@interface SCBAction : NSObject
- (instancetype)initWithAction:(std::function<void()>)action;
- (void)fire:(id)sender;
@end

@implementation SCBAction {
    std::function<void()> _action;
}
- (instancetype)initWithAction:(std::function<void()>)action {
    if ((self = [super init])) _action = std::move(action);
    return self;
}
- (void)fire:(id)sender {
    if (_action) _action();
}
@end

namespace scribbet::mac {

namespace {

class TextLogView final : public LogView {
public:
    explicit TextLogView(NSTextView* view) : view_(view), attributes_(nsAttributes(logTextStyle())) {}

    void append(const std::string& line) override {
        NSTextStorage* storage = view_.textStorage;
        if (!storage) return;
        NSAttributedString* text = [[NSAttributedString alloc] initWithString:nsText(line) attributes:attributes_];
        [storage appendAttributedString:text];
        [view_ scrollRangeToVisible:NSMakeRange(view_.string.length, 0)];
    }

private:
    NSTextView* view_;
    NSDictionary<NSAttributedStringKey, id>* attributes_;
};

void place(NSView* view, const ElementPlan& plan) {
    view.frame = nsRect(plan.frame);
    view.autoresizingMask = static_cast<NSAutoresizingMaskOptions>(plan.autoresizing);
}

NSWindow* statusWindow(const StatusLayout& layout, const StatusWindowPlan& plan) {
    NSWindow* window = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, plan.content.w, plan.content.h)
                                                   styleMask:static_cast<NSWindowStyleMask>(plan.styleMask)
                                                     backing:NSBackingStoreBuffered
                                                       defer:NO];
    window.title = nsText(layout.title);
    window.contentMinSize = NSMakeSize(plan.minimum.w, plan.minimum.h);
    window.hidesOnDeactivate = YES;
    // Closing only hides it: the same window, with the lines logged meanwhile, comes back.
    window.releasedWhenClosed = NO;
    window.restorable = NO;
    [window center];
    return window;
}

// A read-only, selectable text view in a bezelled scroll view, wrapping at its width.
NSScrollView* logScroller(const ElementPlan& plan) {
    NSScrollView* scroller = [NSTextView scrollableTextView];
    place(scroller, plan);
    scroller.borderType = NSBezelBorder;
    scroller.hasVerticalScroller = YES;
    NSTextView* text = scroller.documentView;
    text.editable = NO;
    text.selectable = YES;
    return scroller;
}

class StatusWindowMac final : public StatusWindowUI {
public:
    StatusWindowMac(const StatusLayout& layout, std::function<void()> drawNow, std::function<void()> accessibility)
        : drawNow_([[SCBAction alloc] initWithAction:std::move(drawNow)]),
          accessibility_([[SCBAction alloc] initWithAction:std::move(accessibility)]) {
        const StatusWindowPlan plan = statusWindowPlan(layout);
        window_ = statusWindow(layout, plan);
        NSView* content = window_.contentView;

        NSTextField* explanation = [NSTextField wrappingLabelWithString:nsText(layout.explanation)];
        place(explanation, plan.explanation);
        [content addSubview:explanation];

        draw_ = [NSButton buttonWithTitle:nsText(layout.drawTitle) target:drawNow_ action:@selector(fire:)];
        draw_.keyEquivalent = @"\r"; // Return: the default button
        place(draw_, plan.draw);
        [content addSubview:draw_];

        access_ = [NSButton buttonWithTitle:nsText(layout.accessibilityTitle) target:accessibility_
                                     action:@selector(fire:)];
        access_.toolTip = nsText(layout.accessibilityTooltip);
        place(access_, plan.accessibility);
        [content addSubview:access_];

        NSScrollView* scroller = logScroller(plan.log);
        [content addSubview:scroller];
        log_ = std::make_shared<TextLogView>(scroller.documentView);
    }

    ~StatusWindowMac() override {
        draw_.target = nil;
        access_.target = nil;
        [window_ close];
    }

    bool isVisible() const override { return window_.visible; }
    void makeKeyAndFront() override { [window_ makeKeyAndOrderFront:nil]; }
    void setAccessibilityTitle(const std::string& title) override { access_.title = nsText(title); }
    std::shared_ptr<LogView> logView() override { return log_; }

private:
    SCBAction* drawNow_;
    SCBAction* accessibility_;
    NSWindow* window_;
    NSButton* draw_;
    NSButton* access_;
    std::shared_ptr<TextLogView> log_;
};

} // namespace

std::shared_ptr<StatusWindowUI> MacStatusUI::build(const StatusLayout& layout, std::function<void()> drawNow,
                                                   std::function<void()> accessibility) {
    return std::make_shared<StatusWindowMac>(layout, std::move(drawNow), std::move(accessibility));
}

} // namespace scribbet::mac
