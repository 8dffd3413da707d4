#pragma once
// The inter-application event that runs one of the add-in's macros in the presentation
// program and waits for its answer.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ports/clock.hpp"

namespace scribbet {

struct MacroEventReply {
    // The send itself failed: the system's error number and text.
    std::optional<int> sendError;
    std::optional<std::string> sendErrorText;
    // The reply's error number and text parameters, when present.
    std::optional<std::int32_t> errn;
    std::optional<std::string> errs;
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
