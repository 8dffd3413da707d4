#pragma once
// What the add-in in the presentation program must match: this program's version.
#include <string>

namespace scribbet::AddinCheck {

// The bundle's short version, or "?"; read once, on first use.
const std::string& mine();

} // namespace scribbet::AddinCheck
