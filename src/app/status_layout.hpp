#pragma once
// The status window's texts and layout.
#include "ports/status_ui.hpp"

namespace scribbet {

StatusLayout statusLayout(bool accessibilityTrusted);

} // namespace scribbet
