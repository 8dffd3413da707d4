#pragma once
// The small part of AppleScript the program is asked in: loading and unloading the add-in
// and asking whether it is loaded, inside `tell application "Microsoft PowerPoint"` (a
// block, or "tell ... to" one statement) and `with timeout of N seconds` blocks. Keywords
// are read without regard to case, strings with AppleScript's escapes. A script that does
// not compile does nothing; one that fails while running stops there, as AppleScript does.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "model.hpp"

namespace scribbet::standin {

struct ScriptResult {
    bool ok = false;
    nlohmann::json result; // the last statement's value: a Boolean, or null
    std::string error;     // when not ok
};

ScriptResult runScript(Model& model, std::string_view source);

} // namespace scribbet::standin
