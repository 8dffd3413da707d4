#include "program/addin_check.hpp"

#include "app/host.hpp"
#include "base/text.hpp"
#include "log/app_state.hpp"
#include "program/ppt.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

namespace {
constexpr int polls = 30;
constexpr Duration pollPause = std::chrono::milliseconds(500);
} // namespace

AddinCheck::AddinCheck(Parts parts) : parts_(std::move(parts)) {}

std::string AddinCheck::versionOf(const Bundle& bundle) { return bundle.version().value_or("?"); }

bool AddinCheck::matches(const MacroReply& reply) const {
    return reply.hasFields() && (reply.fields() == mine() || reply.fields() == "dev");
}

std::optional<std::string> AddinCheck::problem() {
    if (ok_) return std::nullopt;
    const MacroReply answer = parts_.ppt.run("SCBT_Version");
    if (matches(answer)) {
        ok_ = true;
        return std::nullopt;
    }
    if (!answer.hasFields() && !answer.addinMissing) return replyError(answer);

    const Host& host = Host::current();
    if (!host.reloadsAddin) {
        // Nothing outside the program can reload its add-in: the user mends it.
        log(host.say("Add-in in PowerPoint answered ") + text::prefix(answer.text(), 40) + "; app is " + mine());
        const std::string have = answer.hasFields() ? "Scribbet " + answer.fields() : "no Scribbet add-in";
        return host.say("PowerPoint has " + have + ", this is Scribbet " + mine() + ". ") + host.mendAddin;
    }
    log(host.say("Add-in in PowerPoint answered ") + text::prefix(answer.text(), 40) + "; app is " + mine() +
        " - reloading the add-in");
    reload();
    const MacroReply again = parts_.ppt.run("SCBT_Version");
    if (matches(again)) {
        log("Add-in reloaded: " + again.text());
        ok_ = true;
        return std::nullopt;
    }
    log("After reload the add-in answered: " + text::prefix(again.text(), 80));
    if (again.hasFields()) {
        return host.say("PowerPoint is still using Scribbet " + again.fields() + ", this is " + mine() +
                        ". Save your work and restart PowerPoint.");
    }
    return host.say("PowerPoint could not load the Scribbet add-in's code. Save your work, restart PowerPoint, and if "
                    "it still fails send us the log (~/Library/Logs/Scribbet.log).");
}

std::string AddinCheck::escaped(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
    return out;
}

std::string AddinCheck::reloadScript(const std::string& name) {
    const std::string n = escaped(name);
    return "tell application \"Microsoft PowerPoint\"\n  with timeout of 30 seconds\n    set loaded of add in \"" + n +
           "\" to false\n  end timeout\n  with timeout of 120 seconds\n    set loaded of add in \"" + n +
           "\" to true\n  end timeout\nend tell";
}

std::string AddinCheck::loadedScript(const std::string& name) {
    return "tell application \"Microsoft PowerPoint\" to return loaded of add in \"" + escaped(name) + "\"";
}

void AddinCheck::reload() {
    const std::string& name = parts_.addinName;
    script(reloadScript(name));
    for (int i = 0; i < polls; ++i) {
        const auto loaded = script(loadedScript(name));
        if (loaded && loaded->isTrue()) return;
        parts_.main.clock().sleepFor(pollPause);
    }
}

std::optional<ScriptResult> AddinCheck::script(const std::string& source) {
    const auto& runner = parts_.runner;
    if (!runner) return std::nullopt;
    std::optional<ScriptResult> result;
    // Scripts run on the main thread; one that does not turn within the limit (Scribbet is
    // ending) is not waited for.
    parts_.main.syncFor(std::chrono::seconds(10), [&] { result = runner->run(source); });
    return result;
}

} // namespace scribbet
