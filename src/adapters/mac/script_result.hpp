#pragma once
// An AppleScript result descriptor as the script runner's port sees it: true and false,
// a text, or a value of no kind the add-in check reads.
#include <optional>
#include <string>

#include "adapters/mac/apple_event_codes.hpp"
#include "ports/script_runner.hpp"

namespace scribbet::mac {

// What the runner read from the descriptor: its type, its -booleanValue (read for the
// one-byte Boolean type only) and its -stringValue (none when it gave nil).
struct ScriptResultReading {
    FourCharCode type = ae::typeNull;
    bool booleanValue = false;
    std::optional<std::string> text;
};

bool isTextType(FourCharCode type);

// Decided by the descriptor's own type, never by coercion: a number or a list can be coerced
// to text, and "loaded of add in" must be a real Boolean for the reload to stop polling.
ScriptResult scriptResultOf(const ScriptResultReading& reading);

} // namespace scribbet::mac
