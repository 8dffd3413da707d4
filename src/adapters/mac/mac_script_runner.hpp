#pragma once
// AppleScript source run with NSAppleScript (the add-in's reload and "is it loaded"
// questions). Plain C++ here, Objective-C++ in the .mm.
#include "ports/script_runner.hpp"

namespace scribbet::mac {

class MacScriptRunner final : public ScriptRunner {
public:
    // Main thread only, as the port says: NSAppleScript is not documented as safe on other
    // threads, and the add-in check hops to the main thread to run its scripts.
    std::optional<ScriptResult> run(const std::string& source) override;
};

} // namespace scribbet::mac
