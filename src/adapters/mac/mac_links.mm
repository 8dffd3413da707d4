#include "adapters/mac/mac_links.hpp"

#import <Carbon/Carbon.h>
#import <Foundation/Foundation.h>

#include "adapters/mac/apple_event_codes.hpp"
#include "adapters/mac/ns_utf8.h"

static_assert(scribbet::mac::ae::internetEventClass == kInternetEventClass);
static_assert(scribbet::mac::ae::getURLEventId == kAEGetURL);
static_assert(scribbet::mac::ae::keyDirectObject == keyDirectObject);

using scribbet::LinkSource;
using scribbet::MainQueue;

// The Apple Event Manager calls an Objective-C object; this one hands the link text on. It
// holds the handler weakly, so an event or a hop to the main queue that comes after the
// source went does nothing.
@interface ScribbetGetURLTarget : NSObject {
    std::weak_ptr<LinkSource::Handler> _handler;
    MainQueue* _main;
}
- (instancetype)initWithHandler:(std::weak_ptr<LinkSource::Handler>)handler main:(MainQueue*)main;
- (void)handleGetURL:(NSAppleEventDescriptor*)event withReplyEvent:(NSAppleEventDescriptor*)reply;
@end

@implementation ScribbetGetURLTarget

- (instancetype)initWithHandler:(std::weak_ptr<LinkSource::Handler>)handler main:(MainQueue*)main {
    if ((self = [super init])) {
        _handler = std::move(handler);
        _main = main;
    }
    return self;
}

// The reply is never filled in: the sender of a link expects no answer.
- (void)handleGetURL:(NSAppleEventDescriptor*)event withReplyEvent:(NSAppleEventDescriptor*)reply {
    (void)reply;
    // The direct object is the link; an event without one, or without text, gives none.
    NSAppleEventDescriptor* direct = [event paramDescriptorForKeyword:keyDirectObject];
    std::optional<std::string> text = scribbet::mac::utf8(direct.stringValue);
    auto deliver = [weak = _handler, text = std::move(text)] {
        const auto handler = weak.lock();
        if (!handler) return;
        // A copy, so a handler that sets another while it runs does not destroy itself.
        const LinkSource::Handler call = *handler;
        if (call) call(text);
    };
    // The event manager dispatches on the main thread; the hop is for an event that did not.
    if ([NSThread isMainThread]) {
        deliver();
    } else {
        _main->async(std::move(deliver));
    }
}

@end

namespace scribbet::mac {

struct MacLinkSource::Impl {
    explicit Impl(MainQueue& q) : main(q) {}
    MainQueue& main;
    std::shared_ptr<Handler> handler = std::make_shared<Handler>();
    ScribbetGetURLTarget* target = nil; // kept here: the event manager is not said to retain it
};

MacLinkSource::MacLinkSource(MainQueue& main) : impl_(std::make_unique<Impl>(main)) {}

MacLinkSource::~MacLinkSource() {
    if (impl_->target) {
        [[NSAppleEventManager sharedAppleEventManager] removeEventHandlerForEventClass:kInternetEventClass
                                                                           andEventID:kAEGetURL];
    }
}

void MacLinkSource::setHandler(Handler handler) {
    *impl_->handler = std::move(handler);
    if (impl_->target) return;
    impl_->target = [[ScribbetGetURLTarget alloc] initWithHandler:impl_->handler main:&impl_->main];
    [[NSAppleEventManager sharedAppleEventManager] setEventHandler:impl_->target
                                                       andSelector:@selector(handleGetURL:withReplyEvent:)
                                                     forEventClass:kInternetEventClass
                                                        andEventID:kAEGetURL];
}

} // namespace scribbet::mac
