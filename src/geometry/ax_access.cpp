#include "geometry/ax_access.hpp"

namespace scribbet {

AXAccess::AXAccess(Parts parts) : parts_(std::move(parts)) {}

bool AXAccess::trusted() const { return parts_.ax && parts_.ax->trusted(); }

bool AXAccess::askOnce() {
    const auto& ax = parts_.ax;
    if (!ax || ax->trusted() || parts_.testing) return false;
    const auto asked = parts_.prefs.get("axAskedFor");
    if (asked && asked->is_string() && asked->get<std::string>() == parts_.version) return false;
    parts_.prefs.set("axAskedFor", parts_.version);
    ax->promptForTrust();
    return true;
}

void AXAccess::prompt() {
    if (parts_.ax) parts_.ax->promptForTrust();
}

void AXAccess::openSettings() {
    if (parts_.workspace) {
        parts_.workspace->openURL("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
    }
}

} // namespace scribbet
