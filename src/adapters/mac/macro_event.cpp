#include "adapters/mac/macro_event.hpp"

#include <algorithm>
#include <limits>
#include <map>

#include "base/text.hpp"

namespace scribbet::mac {

namespace {
constexpr double oneTick = 1.0 / 60;
constexpr double oneDay = 86400;

bool validText(const std::string& s) { return text::validUtf8(s) == s; }

int clampedToInt(long long code) {
    constexpr long long lowest = std::numeric_limits<int>::min(), highest = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(code, lowest, highest));
}

// An error code from another domain, or one too large for an Apple Event Manager number, is
// kept for the log but decides nothing: the same number may mean something else there.
MacroFailure sendFailure(const MacroSendReading::SendError& e) {
    const int number = clampedToInt(e.code);
    if (e.osStatusDomain && number == e.code) return macroFailureOf(number, e.message);
    return {MacroFailureKind::other, number, e.message};
}
} // namespace

MacroEventPlan macroEventPlan(const std::string& bundleId, const std::string& fullName,
                              const std::vector<std::string>& args, Duration timeout) {
    MacroEventPlan plan;
    plan.targetBundleId = bundleId;
    plan.name = fullName;
    if (!args.empty()) plan.arguments = args;
    plan.timeoutSeconds = sendTimeoutSeconds(timeout);
    return plan;
}

double sendTimeoutSeconds(Duration timeout) { return std::clamp(toSeconds(timeout), oneTick, oneDay); }

std::optional<MacroFailure> unsendable(const MacroEventPlan& plan) {
    bool valid = validText(plan.name) && validText(plan.targetBundleId);
    if (plan.arguments) {
        valid = valid && std::all_of(plan.arguments->begin(), plan.arguments->end(), validText);
    }
    if (valid) return std::nullopt;
    return MacroFailure{MacroFailureKind::other, 0,
                        "Scribbet could not send a text to PowerPoint because it is not valid UTF-8"};
}

MacroFailure macroFailureOf(int number, std::optional<std::string> message) {
    using Kind = MacroFailureKind;
    static const std::map<int, Kind> kinds = {
        {-600, Kind::notRunning},   // procNotFound: the program is not running
        {-609, Kind::notRunning},   // connectionInvalid: it quit during the call
        {-903, Kind::notRunning},   // noPortErr: it has no port to receive the event
        {-10661, Kind::notRunning}, // Launch Services could not reach the program
        {-128, Kind::cancelled},    // userCanceledErr
        {-1712, Kind::timedOut},    // errAETimeout
        {-1743, Kind::denied},      // errAEEventNotPermitted: Automation is not allowed
        {-1744, Kind::denied},      // errAEEventWouldRequireUserConsent
        {-1708, Kind::notHandled},  // errAEEventNotHandled: no macro answered
        {-18, Kind::notHandled},    // also PowerPoint's answer when nothing ran the macro
    };
    Kind kind = Kind::other;
    if (const auto it = kinds.find(number); it != kinds.end()) {
        kind = it->second;
    } else if (message && text::lowercased(*message).find("macro") != std::string::npos) {
        kind = Kind::notHandled; // the program's own words for a macro it cannot find
    }
    return {kind, number, std::move(message)};
}

MacroEventReply macroReplyFrom(const MacroSendReading& reading) {
    MacroEventReply reply;
    if (const auto& e = reading.sendError) {
        reply.failure = sendFailure(*e);
        return reply;
    }
    if (reading.errorNumber && *reading.errorNumber != 0) {
        reply.failure = macroFailureOf(*reading.errorNumber, reading.errorString);
        return reply;
    }
    reply.direct = reading.direct;
    return reply;
}

} // namespace scribbet::mac
