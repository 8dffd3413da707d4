#pragma once
// Whether this program may read the presentation program's window through the accessibility
// interface, and asking the user for it.
#include <memory>
#include <string>

#include "ports/accessibility.hpp"
#include "ports/preferences.hpp"
#include "ports/workspace.hpp"

namespace scribbet {

class AXAccess {
public:
    struct Parts {
        std::shared_ptr<Accessibility> ax; // none: never trusted
        Preferences& prefs;
        std::shared_ptr<Workspace> workspace; // opens the system's settings
        bool testing = false;                 // then the system's prompt never shows by itself
        std::string version;                  // this program's, for "axAskedFor"
    };
    explicit AXAccess(Parts parts);

    bool trusted() const;
    // Shows the system's prompt at most once per version of this program, never in test mode.
    bool askOnce();
    // Asks with the system's prompt, every time (the status window's button does).
    void prompt();
    void openSettings();

private:
    Parts parts_;
};

} // namespace scribbet
