#pragma once
// Puts the ribbon helper script where the presentation program lets its add-in run it,
// whenever the copy there is missing or differs from the one the program carries.
#include "app/settings.hpp"
#include "ports/bundle.hpp"
#include "ports/paths.hpp"

namespace scribbet::ScriptSetup {

inline constexpr const char* fileName = "Scribbet.scpt";

// Never fails visibly: every failure is one log line.
void ensureSetup(const Settings& settings, const Bundle& bundle, const Paths& paths);

} // namespace scribbet::ScriptSetup
