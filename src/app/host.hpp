#pragma once
// The presentation program Scribbet serves this time, described once at start, before any
// thread runs, and only read afterwards: its name in what the user is told, its identity
// among the desktop's applications, and how a stale add-in inside it is mended.
#include <string>
#include <string_view>

namespace scribbet {

struct Host {
    // The program's name in texts ("PowerPoint is not running ...").
    std::string name = "PowerPoint";
    // The program's identity among the desktop's applications (a bundle identifier on macOS).
    std::string programId = "com.microsoft.Powerpoint";
    // Whether Scribbet can reload the add-in inside the program by a script; when it cannot, the
    // user is told `mendAddin` instead.
    bool reloadsAddin = true;
    std::string mendAddin;
    // Whether the program's add-in starts Scribbet through the helper script Scribbet keeps in
    // the program's scripts folder (PowerPoint's ribbon does); other add-ins start it themselves.
    bool runsHelperScript = true;

    // A text written for PowerPoint, said of this program: every "PowerPoint" becomes `name`.
    std::string say(std::string_view text) const;

    static const Host& current();
    // At start only, before anything reads it.
    static void use(Host host);
};

} // namespace scribbet
