#pragma once
// The inter-application event that runs one of the add-in's macros in the presentation
// program and waits for its answer.
#include <optional>
#include <string>
#include <vector>

#include "ports/clock.hpp"

namespace scribbet {

// Why a macro call failed, in Scribbet's terms. Each adapter maps its own system's error
// numbers to these once; the core decides on the kind alone.
enum class MacroFailureKind {
    notRunning, // the program is not there, or went away during the call
    cancelled,
    timedOut,
    notHandled, // nothing answers to the macro: the add-in is not loaded
    denied,     // the system does not let Scribbet control the program
    other,
};

struct MacroFailure {
    MacroFailureKind kind = MacroFailureKind::other;
    // The system's own number and text, for the log line.
    int number = 0;
    std::optional<std::string> message;
};

struct MacroEventReply {
    // The call failed, in sending or in the program's reply.
    std::optional<MacroFailure> failure;
    // The reply's direct object when it is a text.
    std::optional<std::string> direct;
};

class MacroTransport {
public:
    virtual ~MacroTransport() = default;
    // Blocks until the reply, the time-out or a failure.
    virtual MacroEventReply send(const std::string& fullName, const std::vector<std::string>& args,
                                 Duration timeout) = 0;
};

} // namespace scribbet
