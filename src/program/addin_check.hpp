#pragma once
// The add-in in the presentation program and this program are versioned together: until
// the check has once passed, every drawing start and placement makes sure the program runs
// the matching add-in, reloading it when it answers with another version or not at all.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "ports/bundle.hpp"
#include "ports/script_runner.hpp"
#include "program/macro_reply.hpp"

namespace scribbet {

class MainQueue;
class PPT;

class AddinCheck {
public:
    struct Parts {
        PPT& ppt;
        std::shared_ptr<ScriptRunner> runner; // none: every script fails
        MainQueue& main;                      // where scripts run; its clock times the polls
        std::string addinName;
        std::string version; // this program's short version, "?" when the bundle has none
    };
    explicit AddinCheck(Parts parts);

    // The bundle's short version, or "?".
    static std::string versionOf(const Bundle& bundle);
    const std::string& mine() const { return parts_.version; }

    // None when the add-in is in order, else a sentence for the user. Blocks; never on the
    // main thread.
    std::optional<std::string> problem();
    // An "SCBT_Version" reply of this version, or of a development add-in.
    bool matches(const MacroReply& reply) const;
    // Unloads and reloads the add-in, then waits (up to 30 polls 0.5 s apart) until it is loaded.
    void reload();
    // Runs AppleScript on the main thread and waits for it; none on any error.
    std::optional<ScriptResult> script(const std::string& source);

    // The add-in's name as an AppleScript string literal's contents.
    static std::string escaped(const std::string& name);
    static std::string reloadScript(const std::string& name);
    static std::string loadedScript(const std::string& name);

    // Whether the check has passed (tests reset it).
    bool passed() const { return ok_; }
    void reset() { ok_ = false; }

private:
    Parts parts_;
    std::atomic<bool> ok_{false};
};

} // namespace scribbet
