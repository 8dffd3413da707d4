#include "adapters/mac/mac_main_loop.hpp"

#import <AppKit/AppKit.h>
#include <CoreFoundation/CoreFoundation.h>

#include "adapters/mac/pump_turns.hpp"

namespace scribbet::mac {

struct CocoaPump::Impl {
    CFRunLoopRef loop = CFRunLoopGetMain();
    CFRunLoopSourceRef source = nullptr;
    CFRunLoopTimerRef timer = nullptr;
    Work work;
    PumpTurns turns;
    bool running = false; // inside run()
    bool stopped = false;

    static void perform(void* info) { static_cast<Impl*>(info)->turn(); }
    static void fired(CFRunLoopTimerRef, void* info) { static_cast<Impl*>(info)->turn(); }

    void signal() {
        CFRunLoopSourceSignal(source);
        CFRunLoopWakeUp(loop);
    }
    void turn();
    void stopApplication();
};

void CocoaPump::Impl::turn() {
    if (!turns.begin()) return;
    const Pumped pumped = work ? work() : Pumped{};
    const PumpTurns::After after = turns.end(pumped);
    // The timer repeats only so that it stays valid; every turn sets its next date itself.
    CFRunLoopTimerSetNextFireDate(timer, CFAbsoluteTimeGetCurrent() + after.fireIn.value_or(PumpTurns::farFuture));
    if (after.again) signal();
    if (after.stop) stopApplication();
}

// [NSApp stop:] only takes effect once AppKit has handled an event, and a run loop source is
// none: an event of our own makes it look at once.
void CocoaPump::Impl::stopApplication() {
    stopped = true;
    if (!running) return;
    [NSApp stop:nil];
    NSEvent* nudge = [NSEvent otherEventWithType:NSEventTypeApplicationDefined
                                        location:NSZeroPoint
                                   modifierFlags:0
                                       timestamp:0
                                    windowNumber:0
                                         context:nil
                                         subtype:0
                                           data1:0
                                           data2:0];
    if (nudge) [NSApp postEvent:nudge atStart:YES];
}

CocoaPump::CocoaPump() : impl_(std::make_unique<Impl>()) {
    [NSApplication sharedApplication];
    CFRunLoopSourceContext context{};
    context.version = 0;
    context.info = impl_.get();
    context.perform = &Impl::perform;
    impl_->source = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
    CFRunLoopAddSource(impl_->loop, impl_->source, kCFRunLoopCommonModes);

    CFRunLoopTimerContext timerContext{};
    timerContext.version = 0;
    timerContext.info = impl_.get();
    impl_->timer = CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + PumpTurns::farFuture,
                                        PumpTurns::farFuture, 0, 0, &Impl::fired, &timerContext);
    CFRunLoopAddTimer(impl_->loop, impl_->timer, kCFRunLoopCommonModes);
}

CocoaPump::~CocoaPump() {
    CFRunLoopTimerInvalidate(impl_->timer);
    CFRelease(impl_->timer);
    CFRunLoopSourceInvalidate(impl_->source);
    CFRelease(impl_->source);
}

void CocoaPump::attach(Work work) { impl_->work = std::move(work); }

// Both calls are safe from any thread; the source is handled on the main run loop.
void CocoaPump::wake() { impl_->signal(); }

void CocoaPump::run() {
    impl_->stopped = false;
    impl_->running = true;
    wake();
    // [NSApp run] also returns when something else stops it; only the work's stop ends run().
    while (!impl_->stopped) [NSApp run];
    impl_->running = false;
}

bool CocoaPump::onLoopThread() const { return [NSThread isMainThread]; }

} // namespace scribbet::mac
