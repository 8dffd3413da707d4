#pragma once
// The macro event as plain values: what the Objective-C++ transport builds into an
// NSAppleEventDescriptor, and how it reads what came back. Every decision about the event
// lives here, where it is tested; the transport only copies values in and out.
#include <optional>
#include <string>
#include <vector>

#include "adapters/mac/apple_event_codes.hpp"
#include "ports/clock.hpp"
#include "ports/macro_transport.hpp"

namespace scribbet::mac {

struct MacroEventPlan {
    FourCharCode eventClass = ae::macroEventClass;
    FourCharCode eventId = ae::macroEventId;
    std::string targetBundleId;
    std::int16_t returnId = ae::autoGenerateReturnID;
    std::int32_t transactionId = ae::anyTransactionID;

    // The full macro name as a text parameter.
    FourCharCode nameKeyword = ae::macroNameKeyword;
    std::string name;
    // The argument texts as one list parameter, items at positions 1, 2, 3... in this order.
    // The add-in's macros without arguments expect no list at all, not an empty one.
    FourCharCode argumentsKeyword = ae::macroArgumentsKeyword;
    std::optional<std::vector<std::string>> arguments;

    std::uint32_t sendOptions = ae::macroSendOptions;
    // -[NSAppleEventDescriptor sendEventWithOptions:timeout:error:] takes seconds.
    double timeoutSeconds = 60;
};

// The event that runs `fullName` with `args` in the program `bundleId`, waiting `timeout`.
MacroEventPlan macroEventPlan(const std::string& bundleId, const std::string& fullName,
                              const std::vector<std::string>& args, Duration timeout);

// The wait as the send takes it: at least one tick (1/60 s), since zero and the negative
// numbers are the Apple Event Manager's "default time-out" and "wait forever"; at most a day.
double sendTimeoutSeconds(Duration timeout);

// Why the plan cannot be sent as it stands: a text that is not valid UTF-8 has no exact
// Unicode text descriptor, and sending it altered would hand the add-in other data than
// the caller gave. None when every text is fine.
std::optional<MacroFailure> unsendable(const MacroEventPlan& plan);

// What a system error number (with its text) means for a macro call: this adapter's one
// table. Numbers it does not list are `other`, unless the program's text speaks of a macro.
MacroFailure macroFailureOf(int number, std::optional<std::string> message);

// What the transport read after sending, as plain values.
struct MacroSendReading {
    // The send failed: the NSError's code and description, and whether its domain was
    // NSOSStatusErrorDomain (only then is the code an Apple Event Manager number).
    struct SendError {
        long long code = 0;
        bool osStatusDomain = true;
        std::optional<std::string> message;
    };
    std::optional<SendError> sendError;
    // The reply's "errn" as a 32-bit integer and "errs" as text, when it had them.
    std::optional<std::int32_t> errorNumber;
    std::optional<std::string> errorString;
    // The reply's direct object as text, when it had one that reads as text.
    std::optional<std::string> direct;
};

MacroEventReply macroReplyFrom(const MacroSendReading& reading);

} // namespace scribbet::mac
