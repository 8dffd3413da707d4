#pragma once
// The window server's list of on-screen windows, from CGWindowListCopyWindowInfo. Plain
// C++ here, Objective-C++ in the .mm; window_reading.hpp decides what each entry means.
#include "ports/window_list.hpp"

namespace scribbet::mac {

class MacWindowList final : public WindowList {
public:
    // Any thread: the bridge asks from its own queue and from the layer's measurements.
    std::optional<std::vector<WindowInfo>> onScreenWindows() const override;
};

} // namespace scribbet::mac
