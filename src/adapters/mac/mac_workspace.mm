#include "adapters/mac/mac_workspace.hpp"

#import <AppKit/AppKit.h>

#include <atomic>

#include "adapters/mac/ns_utf8.h"
#include "adapters/mac/running_app_facts.hpp"

namespace scribbet::mac {

namespace {

// What the observers' blocks hold weakly: the main queue they deliver to.
struct Hub {
    explicit Hub(MainQueue& q) : main(q) {}
    MainQueue& main;
};

RunningAppFacts factsOf(NSRunningApplication* app) {
    return RunningAppFacts{static_cast<int>(app.processIdentifier), static_cast<bool>(app.terminated),
                           utf8(app.bundleIdentifier)};
}

// The first application with this bundle id that still runs, as firstLiveProcess picks it.
NSRunningApplication* liveApp(const std::string& bundleId) {
    NSString* bid = nsUtf8(bundleId);
    if (!bid) return nil;
    for (NSRunningApplication* app in [NSRunningApplication runningApplicationsWithBundleIdentifier:bid]) {
        if (firstLiveProcess({factsOf(app)})) return app;
    }
    return nil;
}

void bringForward(const std::string& bundleId) {
    @autoreleasepool {
        NSRunningApplication* app = liveApp(bundleId);
        if (!app) return;
        // Since macOS 14 activation is cooperative: the active application (this one, when the
        // user pressed its button) has to let the other one come forward.
        // An SDK older than 14 does not declare the call; the program then runs as it was built.
#if __MAC_OS_X_VERSION_MAX_ALLOWED >= 140000
        if (@available(macOS 14.0, *)) [NSApp yieldActivationToApplication:app];
#endif
        [app activateWithOptions:static_cast<NSApplicationActivationOptions>(activateWithNoOptions)];
    }
}

// An observer of one workspace notification for as long as its subscription lives. The block
// hops to the main queue; `live` is cleared when the subscription ends, so a notification
// already queued is dropped instead of reaching a handler whose owner has gone.
Subscription observe(const std::shared_ptr<Hub>& hub, NSNotificationName name,
                     std::function<void(NSNotification*)> deliver) {
    auto live = std::make_shared<std::atomic<bool>>(true);
    std::weak_ptr<Hub> weak = hub;
    NSNotificationCenter* center = NSWorkspace.sharedWorkspace.notificationCenter;
    id token = [center addObserverForName:name
                                   object:nil
                                    queue:nil
                               usingBlock:^(NSNotification* note) {
                                   auto owner = weak.lock();
                                   if (!owner || !*live) return;
                                   owner->main.async([live, deliver, note] {
                                       if (*live) deliver(note);
                                   });
                               }];
    return Subscription([center, token, live] {
        *live = false;
        [center removeObserver:token];
    });
}

std::optional<RunningAppFacts> appIn(NSNotification* note) {
    id app = note.userInfo[NSWorkspaceApplicationKey];
    if (![app isKindOfClass:[NSRunningApplication class]]) return std::nullopt;
    return factsOf(app);
}

} // namespace

struct MacWorkspace::Impl {
    std::shared_ptr<Hub> hub;
};

MacWorkspace::MacWorkspace(MainQueue& main) : impl_(std::make_shared<Impl>(Impl{std::make_shared<Hub>(main)})) {}
MacWorkspace::~MacWorkspace() = default;

std::optional<int> MacWorkspace::runningProcess(const std::string& bundleId) const {
    @autoreleasepool {
        NSString* bid = nsUtf8(bundleId);
        if (!bid) return std::nullopt;
        std::vector<RunningAppFacts> facts;
        for (NSRunningApplication* app in [NSRunningApplication runningApplicationsWithBundleIdentifier:bid]) {
            facts.push_back(factsOf(app));
        }
        return firstLiveProcess(facts);
    }
}

void MacWorkspace::activate(const std::string& bundleId) {
    MainQueue& main = impl_->hub->main;
    if (main.isCurrent()) return bringForward(bundleId);
    main.async([bundleId] { bringForward(bundleId); });
}

std::optional<FrontApp> MacWorkspace::frontApplication() const {
    @autoreleasepool {
        NSRunningApplication* front = NSWorkspace.sharedWorkspace.frontmostApplication;
        if (!front) return std::nullopt;
        return frontAppOf(factsOf(front), static_cast<int>(NSRunningApplication.currentApplication.processIdentifier));
    }
}

void MacWorkspace::openURL(const std::string& url) {
    @autoreleasepool {
        NSString* text = nsUtf8(url);
        NSURL* link = text ? [NSURL URLWithString:text] : nil;
        if (link) [NSWorkspace.sharedWorkspace openURL:link];
    }
}

Subscription MacWorkspace::onActivate(std::function<void()> handler) {
    return observe(impl_->hub, NSWorkspaceDidActivateApplicationNotification,
                   [handler = std::move(handler)](NSNotification*) { handler(); });
}

Subscription MacWorkspace::onTerminate(std::function<void(const std::optional<std::string>&)> handler) {
    return observe(impl_->hub, NSWorkspaceDidTerminateApplicationNotification,
                   [handler = std::move(handler)](NSNotification* note) { handler(terminatedBundleOf(appIn(note))); });
}

// Posted on the workspace's own centre, the one observe() registers with, as Apple's page asks.
Subscription MacWorkspace::onSpaceChange(std::function<void()> handler) {
    return observe(impl_->hub, NSWorkspaceActiveSpaceDidChangeNotification,
                   [handler = std::move(handler)](NSNotification*) { handler(); });
}

} // namespace scribbet::mac
