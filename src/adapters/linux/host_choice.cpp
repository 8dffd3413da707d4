#include "adapters/linux/host_choice.hpp"

namespace scribbet::linuxhost {

HostChoice chooseHost(const std::optional<std::string>& setting, bool windows,
                      const std::function<std::optional<int>()>& impressAnswers) {
    const std::string asked = setting.value_or("");
    if (asked == "standin") return {HostKind::standin, std::nullopt, "Scribbet serves the desktop stand-in, as set."};
    std::string prefix;
    if (!asked.empty() && asked != "auto" && asked != "impress") {
        prefix = "SCRIBBET_HOST is \"" + asked + "\", which is none of impress, standin or auto: Scribbet chooses. ";
    }
    if (!windows) {
        if (asked == "impress") {
            return {HostKind::standin, std::nullopt,
                    "Impress needs an X display, and there is none: Scribbet serves the desktop stand-in."};
        }
        return {HostKind::standin, std::nullopt, prefix + "Without an X display Scribbet serves the desktop stand-in."};
    }
    const std::optional<int> pid = impressAnswers ? impressAnswers() : std::nullopt;
    if (asked == "impress") {
        return {HostKind::impress, pid,
                pid ? "Scribbet serves Impress, as set."
                    : "Scribbet serves Impress, as set; its extension does not answer yet."};
    }
    if (pid) return {HostKind::impress, pid, prefix + "Impress's Scribbet extension answers: Scribbet serves Impress."};
    return {HostKind::standin, std::nullopt,
            prefix + "No Impress with the Scribbet extension answers: Scribbet serves the desktop stand-in."};
}

Host impressHost() {
    return {"Impress", "org.libreoffice.impress", false,
            "Install this Scribbet's Scribbet.oxt with unopkg add, then restart LibreOffice.", false};
}

} // namespace scribbet::linuxhost
