#include "powerpoint/addin_check.hpp"

#include <atomic>
#include <mutex>

#include "app/settings.hpp"
#include "app/text.hpp"
#include "log/app_state.hpp"
#include "ports/bundle.hpp"
#include "powerpoint/ppt.hpp"
#include "runtime/queues.hpp"

namespace scribbet::AddinCheck {

namespace {
std::atomic<bool> ok{false};
std::mutex runnerMutex;
std::shared_ptr<ScriptRunner> runner;

constexpr int polls = 30;
constexpr Duration pollPause = std::chrono::milliseconds(500);
} // namespace

const std::string& mine() {
    static const std::string version = Bundle::main().version().value_or("?");
    return version;
}

void install(std::shared_ptr<ScriptRunner> r) {
    std::lock_guard lock(runnerMutex);
    runner = std::move(r);
}

bool passed() { return ok; }
void reset() { ok = false; }

bool matches(const MacroReply& reply) {
    return reply.hasFields() && (reply.fields() == mine() || reply.fields() == "dev");
}

std::optional<std::string> problem() {
    if (ok) return std::nullopt;
    const MacroReply answer = PPT::run("SCBT_Version");
    if (matches(answer)) {
        ok = true;
        return std::nullopt;
    }
    if (!answer.hasFields() && !answer.addinMissing) return replyError(answer);

    log("Add-in in PowerPoint answered " + text::prefix(answer.text(), 40) + "; app is " + mine() +
        " - reloading the add-in");
    reload();
    const MacroReply again = PPT::run("SCBT_Version");
    if (matches(again)) {
        log("Add-in reloaded: " + again.text());
        ok = true;
        return std::nullopt;
    }
    log("After reload the add-in answered: " + text::prefix(again.text(), 80));
    if (again.hasFields()) {
        return "PowerPoint is still using Scribbet " + again.fields() + ", this is " + mine() +
               ". Save your work and restart PowerPoint.";
    }
    return "PowerPoint could not load the Scribbet add-in's code. Save your work, restart PowerPoint, and if it still "
           "fails send us the log (~/Library/Logs/Scribbet.log).";
}

std::string escaped(const std::string& name) {
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

std::string reloadScript(const std::string& name) {
    const std::string n = escaped(name);
    return "tell application \"Microsoft PowerPoint\"\n  with timeout of 30 seconds\n    set loaded of add in \"" + n +
           "\" to false\n  end timeout\n  with timeout of 120 seconds\n    set loaded of add in \"" + n +
           "\" to true\n  end timeout\nend tell";
}

std::string loadedScript(const std::string& name) {
    return "tell application \"Microsoft PowerPoint\" to return loaded of add in \"" + escaped(name) + "\"";
}

void reload() {
    const std::string& name = Settings::current().addinName;
    script(reloadScript(name));
    for (int i = 0; i < polls; ++i) {
        const auto loaded = script(loadedScript(name));
        if (loaded && loaded->isTrue()) return;
        clock().sleepFor(pollPause);
    }
}

std::optional<ScriptResult> script(const std::string& source) {
    std::shared_ptr<ScriptRunner> r;
    {
        std::lock_guard lock(runnerMutex);
        r = runner;
    }
    if (!r) return std::nullopt;
    std::optional<ScriptResult> result;
    MainQueue::shared().sync([&] { result = r->run(source); });
    return result;
}

} // namespace scribbet::AddinCheck
