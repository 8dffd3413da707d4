#include "adapters/mac/mac_macro_transport.hpp"

#import <Carbon/Carbon.h>
#import <Foundation/Foundation.h>

#include "adapters/mac/macro_event.hpp"
#include "adapters/mac/ns_utf8.h"

// The numbers macro_event.hpp writes out are the SDK's own.
static_assert(scribbet::mac::ae::keyDirectObject == keyDirectObject);
static_assert(scribbet::mac::ae::keyErrorNumber == keyErrorNumber);
static_assert(scribbet::mac::ae::keyErrorString == keyErrorString);
static_assert(scribbet::mac::ae::autoGenerateReturnID == kAutoGenerateReturnID);
static_assert(scribbet::mac::ae::anyTransactionID == kAnyTransactionID);
static_assert(scribbet::mac::ae::sendWaitForReply == NSAppleEventSendWaitForReply);
static_assert(scribbet::mac::ae::sendCanInteract == NSAppleEventSendCanInteract);
static_assert(scribbet::mac::ae::macroSendOptions == NSAppleEventSendDefaultOptions);
static_assert(procNotFound == -600 && connectionInvalid == -609 && noPortErr == -903);
static_assert(userCanceledErr == -128 && errAETimeout == -1712 && errAEEventNotHandled == -1708);
static_assert(errAEEventNotPermitted == -1743 && errAEEventWouldRequireUserConsent == -1744);

namespace scribbet::mac {

namespace {
NSAppleEventDescriptor* textDescriptor(const std::string& s) {
    NSString* text = nsUtf8(s);
    return text ? [NSAppleEventDescriptor descriptorWithString:text] : nil;
}

// The event as planned, or nil when one of its texts would not convert.
NSAppleEventDescriptor* eventFor(const MacroEventPlan& plan) {
    NSString* bundle = nsUtf8(plan.targetBundleId);
    NSAppleEventDescriptor* name = textDescriptor(plan.name);
    if (!bundle || !name) return nil;
    NSAppleEventDescriptor* target = [NSAppleEventDescriptor descriptorWithBundleIdentifier:bundle];
    NSAppleEventDescriptor* event = [NSAppleEventDescriptor appleEventWithEventClass:plan.eventClass
                                                                             eventID:plan.eventId
                                                                    targetDescriptor:target
                                                                            returnID:plan.returnId
                                                                       transactionID:plan.transactionId];
    [event setParamDescriptor:name forKeyword:plan.nameKeyword];
    if (plan.arguments) {
        NSAppleEventDescriptor* list = [NSAppleEventDescriptor listDescriptor];
        NSInteger position = 1; // list positions count from one
        for (const std::string& arg : *plan.arguments) {
            NSAppleEventDescriptor* item = textDescriptor(arg);
            if (!item) return nil;
            [list insertDescriptor:item atIndex:position++];
        }
        [event setParamDescriptor:list forKeyword:plan.argumentsKeyword];
    }
    return event;
}

MacroSendReading readingOf(NSAppleEventDescriptor* reply, NSError* error) {
    MacroSendReading reading;
    if (!reply) {
        // No reply and no error is not expected; it reads as a reply without an answer.
        if (error) {
            // BOOL is a signed char on Intel Macs: made a bool before it goes into braces.
            const bool osStatus = [error.domain isEqualToString:NSOSStatusErrorDomain];
            reading.sendError = MacroSendReading::SendError{static_cast<long long>(error.code), osStatus,
                                                            utf8(error.localizedDescription)};
        }
        return reading;
    }
    if (NSAppleEventDescriptor* errn = [reply paramDescriptorForKeyword:keyErrorNumber]) {
        reading.errorNumber = errn.int32Value; // 0 when it is no number, which reads as no error
    }
    reading.errorString = utf8([reply paramDescriptorForKeyword:keyErrorString].stringValue);
    reading.direct = utf8([reply paramDescriptorForKeyword:keyDirectObject].stringValue);
    return reading;
}
} // namespace

MacMacroTransport::MacMacroTransport(std::string bundleId) : bundleId_(std::move(bundleId)) {}

MacroEventReply MacMacroTransport::send(const std::string& fullName, const std::vector<std::string>& args,
                                        Duration timeout) {
    const MacroEventPlan plan = macroEventPlan(bundleId_, fullName, args, timeout);
    if (auto problem = unsendable(plan)) return MacroEventReply{std::move(problem), std::nullopt};
    @autoreleasepool {
        NSAppleEventDescriptor* event = eventFor(plan);
        if (!event) {
            return MacroEventReply{MacroFailure{MacroFailureKind::other, 0, "Scribbet could not build the event"},
                                   std::nullopt};
        }
        NSError* error = nil;
        const auto options = static_cast<NSAppleEventSendOptions>(plan.sendOptions);
        NSAppleEventDescriptor* reply = [event sendEventWithOptions:options
                                                            timeout:plan.timeoutSeconds
                                                              error:&error];
        return macroReplyFrom(readingOf(reply, error));
    }
}

} // namespace scribbet::mac
