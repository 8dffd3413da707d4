#pragma once
// The add-in in the presentation program and this program are versioned together: until
// the check has once passed, every drawing start and placement makes sure the program runs
// the matching add-in, reloading it when it answers with another version or not at all.
#include <memory>
#include <optional>
#include <string>

#include "ports/script_runner.hpp"
#include "powerpoint/macro_reply.hpp"

namespace scribbet::AddinCheck {

// The bundle's short version, or "?"; read once, on first use.
const std::string& mine();

void install(std::shared_ptr<ScriptRunner> runner);

// None when the add-in is in order, else a sentence for the user. Blocks; never on the
// main thread.
std::optional<std::string> problem();
// An "SCBT_Version" reply of this version, or of a development add-in.
bool matches(const MacroReply& reply);
// Unloads and reloads the add-in, then waits (up to 30 polls 0.5 s apart) until it is loaded.
void reload();
// Runs AppleScript on the main thread and waits for it; none on any error.
std::optional<ScriptResult> script(const std::string& source);

// The add-in's name as an AppleScript string literal's contents.
std::string escaped(const std::string& name);
std::string reloadScript(const std::string& name);
std::string loadedScript(const std::string& name);

// Whether the check has passed (tests reset it).
bool passed();
void reset();

} // namespace scribbet::AddinCheck
