#pragma once
// Runs AppleScript source (the add-in reload scripts). Main thread.
#include <optional>
#include <string>
#include <variant>

namespace scribbet {

struct ScriptResult {
    std::variant<std::monostate, bool, std::string> value;
    bool isTrue() const { return std::holds_alternative<bool>(value) && std::get<bool>(value); }
};

class ScriptRunner {
public:
    virtual ~ScriptRunner() = default;
    // The script's result, or none when it failed to compile or run.
    virtual std::optional<ScriptResult> run(const std::string& source) = 0;
};

} // namespace scribbet
