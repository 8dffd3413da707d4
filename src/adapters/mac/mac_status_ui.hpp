#pragma once
// The status window in AppKit, laid out exactly as the core says: its frames are already in
// AppKit's convention, and the autoresizing masks keep the top row at the top while the log
// view takes what the window grows by.
#include <functional>
#include <memory>

#include "ports/status_ui.hpp"

namespace scribbet::mac {

class MacStatusUI final : public StatusUI {
public:
    // Main thread, like every window it builds; the buttons' actions run there too.
    MacStatusUI() = default;
    std::shared_ptr<StatusWindowUI> build(const StatusLayout& layout, std::function<void()> drawNow,
                                          std::function<void()> accessibility) override;
};

} // namespace scribbet::mac
