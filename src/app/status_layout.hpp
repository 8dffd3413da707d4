#pragma once
// The status window's texts and layout.
#include "platform/status_ui.hpp"

namespace scribbet {

StatusLayout statusLayout(bool accessibilityTrusted);

} // namespace scribbet
