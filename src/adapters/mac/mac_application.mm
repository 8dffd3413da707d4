#include "adapters/mac/mac_application.hpp"

#import <AppKit/AppKit.h>

#include <atomic>

#include "adapters/mac/appkit_text.h"
#include "adapters/mac/menu_plan.hpp"

static_assert(scribbet::mac::commandKeyMask == NSEventModifierFlagCommand);

// AppKit's delegate calls, handed on to the port's delegate while run() runs.
@interface SCBApplicationBridge : NSObject <NSApplicationDelegate>
@property(nonatomic, assign) scribbet::ApplicationDelegate* target;
@end

@implementation SCBApplicationBridge
- (void)applicationWillFinishLaunching:(NSNotification*)notification {
    if (_target) _target->willFinishLaunching();
}
- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    if (_target) _target->didFinishLaunching();
}
- (BOOL)applicationShouldHandleReopen:(NSApplication*)sender hasVisibleWindows:(BOOL)flag {
    return _target ? _target->shouldHandleReopen(flag) : YES;
}
- (void)applicationWillTerminate:(NSNotification*)notification {
    if (_target) _target->willTerminate();
}
@end

namespace scribbet::mac {

namespace {
NSMenuItem* menuItem(const MenuItemPlan& plan) {
    if (plan.separator) return [NSMenuItem separatorItem];
    SEL action = plan.command ? NSSelectorFromString(nsText(plan.command->selector)) : NULL;
    NSMenuItem* item = [[NSMenuItem alloc] initWithTitle:nsText(plan.title)
                                                  action:action
                                           keyEquivalent:nsText(plan.key)];
    item.keyEquivalentModifierMask = static_cast<NSEventModifierFlags>(plan.modifiers);
    // No target: the action travels the responder chain from the first responder.
    if (plan.command && plan.command->target == MenuTarget::application) item.target = NSApp;
    return item;
}

NSMenu* menuBar(const std::vector<MenuPlan>& plans) {
    NSMenu* bar = [[NSMenu alloc] initWithTitle:@""];
    for (const auto& plan : plans) {
        NSMenuItem* holder = [[NSMenuItem alloc] initWithTitle:nsText(plan.itemTitle) action:NULL keyEquivalent:@""];
        NSMenu* submenu = [[NSMenu alloc] initWithTitle:nsText(plan.title)];
        for (const auto& item : plan.items) [submenu addItem:menuItem(item)];
        holder.submenu = submenu;
        [bar addItem:holder];
    }
    return bar;
}
} // namespace

struct MacApplication::Impl {
    // NSApp holds its delegate weakly: this is the strong reference.
    SCBApplicationBridge* bridge = [[SCBApplicationBridge alloc] init];
    std::atomic<bool> terminating{false};
};

MacApplication::MacApplication(MainQueue& main) : main_(main), impl_(std::make_unique<Impl>()) {
    [NSApplication sharedApplication];
}

MacApplication::~MacApplication() {
    impl_->bridge.target = nullptr;
    if (NSApp.delegate == impl_->bridge) NSApp.delegate = nil;
}

void MacApplication::setAccessoryPolicy() { [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory]; }

void MacApplication::setMainMenu(const std::vector<Menu>& menus) { NSApp.mainMenu = menuBar(menuPlan(menus)); }

void MacApplication::activate() {
    // macOS 14 brought the plain request and made the forcing one do nothing more than it;
    // before it, only the forcing one brings a program that is not in front to the front.
#if defined(__MAC_OS_X_VERSION_MAX_ALLOWED) && __MAC_OS_X_VERSION_MAX_ALLOWED >= 140000
    if (@available(macOS 14.0, *)) {
        [NSApp activate];
        return;
    }
#endif
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
    [NSApp activateIgnoringOtherApps:YES];
#pragma clang diagnostic pop
}

void MacApplication::terminate() {
    if (impl_->terminating.exchange(true)) return;
    // Always as a task of its own: AppKit ends the process from inside terminate:, which
    // should not happen halfway through whatever asked for it.
    main_.async([] { [NSApp terminate:nil]; });
}

void MacApplication::run(ApplicationDelegate& delegate) {
    impl_->bridge.target = &delegate;
    NSApp.delegate = impl_->bridge;
    // Before the event loop, not when the launch is over. The Info.plist's LSUIElement asks for
    // it when Launch Services starts the bundle; set here, it holds however the program was
    // started, from the first event on. The delegate sets it once more at the launch's end.
    setAccessoryPolicy();
    main_.run();
    impl_->bridge.target = nullptr;
}

} // namespace scribbet::mac
