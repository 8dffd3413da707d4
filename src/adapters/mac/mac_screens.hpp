#pragma once
// The screens port from NSScreen. AppKit may only be asked on the main thread, and the core
// asks from there, yet nothing stops a caller on another queue: so every answer on the main
// thread reads NSScreen afresh and keeps what it read, and so does AppKit's word that the
// screens changed or that another window took the keyboard (the main screen is the key
// window's); callers on other threads get the last copy.
#include <memory>

#include "ports/screens.hpp"

namespace scribbet::mac {

class MacScreens final : public Screens {
public:
    // Main thread.
    MacScreens();
    ~MacScreens() override;
    MacScreens(const MacScreens&) = delete;
    MacScreens& operator=(const MacScreens&) = delete;

    std::vector<ScreenInfo> screens() const override;
    // NSScreen.mainScreen: the screen of the window with the keyboard focus.
    std::optional<ScreenInfo> mainScreen() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace scribbet::mac
