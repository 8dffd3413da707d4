#include "powerpoint/ppt.hpp"

#include <cmath>
#include <mutex>

#include "app/settings.hpp"
#include "app/text.hpp"
#include "log/app_state.hpp"

namespace scribbet {

namespace PPT {

namespace {
std::mutex portsMutex;
Ports installed;

Ports ports() {
    std::lock_guard lock(portsMutex);
    return installed;
}

const std::string notRunning =
    "ERR|PowerPoint is not running. Open your presentation in PowerPoint, then try again.";

std::string addinNotLoaded(int number) {
    return "ERR|The Scribbet add-in is not loaded in PowerPoint yet, so there was nothing to run (PowerPoint error " +
           std::to_string(number) + ").";
}

Duration timeoutFrom(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) seconds = 60;
    return scribbet::seconds(std::min(seconds, 86400.0));
}

std::string failureLine(const std::string& name, int number, const std::optional<std::string>& message) {
    return name + " failed: " + message.value_or("unknown error") + " (" + std::to_string(number) + ")";
}

std::string sentence(const MacroFailure& failure) {
    switch (failure.kind) {
    case MacroFailureKind::notRunning:
        return "ERR|PowerPoint is not running (or has just quit). Open your presentation in PowerPoint, then try "
               "again.";
    case MacroFailureKind::cancelled:
        return "ERR|Cancelled.";
    case MacroFailureKind::denied:
        return "ERR|macOS is blocking Scribbet from controlling PowerPoint. Allow it in System Settings > Privacy & "
               "Security > Automation.";
    case MacroFailureKind::timedOut:
        return "ERR|PowerPoint took longer than a minute to answer. If it is showing a message, close it (a VBA "
               "alert can open off-screen - click PowerPoint and press Return), then check the slide before trying "
               "again.";
    case MacroFailureKind::notHandled:
        return addinNotLoaded(failure.number);
    case MacroFailureKind::other:
        break;
    }
    return "ERR|" + failure.message.value_or("unknown error") + " (" + std::to_string(failure.number) + ")";
}
} // namespace

void install(Ports p) {
    std::lock_guard lock(portsMutex);
    installed = std::move(p);
}

std::shared_ptr<Workspace> workspacePort() { return ports().workspace; }

SerialQueue& queue() {
    static SerialQueue q("com.tarnwell.scribbet.powerpoint");
    return q;
}

namespace {
Attempt sendQuietly(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    const Ports p = ports();
    if (!p.transport || !running()) return {notRunning, ""};
    const MacroEventReply reply =
        p.transport->send(Settings::current().macroPrefix + name, args, timeoutFrom(timeoutSeconds));
    if (const auto& f = reply.failure) return {sentence(*f), failureLine(name, f->number, f->message)};
    return {classify(reply.direct), ""};
}
} // namespace

Attempt attempt(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    if (MainQueue::installed() && MainQueue::shared().isCurrent()) {
        return {"ERR|Internal error: PowerPoint was asked from the main thread.",
                "PPT.run(" + name + ") was called on the main thread - refused"};
    }
    if (queue().isCurrent()) return sendQuietly(name, args, timeoutSeconds);
    return queue().syncValue([&] { return sendQuietly(name, args, timeoutSeconds); });
}

std::string run(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    Attempt a = attempt(name, args, timeoutSeconds);
    if (!a.failure.empty()) log(a.failure);
    return std::move(a.reply);
}

std::string send(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    Attempt a = sendQuietly(name, args, timeoutSeconds);
    if (!a.failure.empty()) log(a.failure);
    return std::move(a.reply);
}

std::string classify(const std::optional<std::string>& direct) {
    const std::string text = direct.value_or("");
    if (text.rfind("OK|", 0) == 0 || text == "OK" || text.rfind("ERR|", 0) == 0) return text;
    if (text.empty()) return "ERR|PowerPoint did not answer.";
    return "ERR|Unexpected reply: " + text::prefix(text, 200);
}

std::optional<Rect> windowBounds() {
    const auto pid = running();
    const Ports p = ports();
    if (!pid || !p.windows) return std::nullopt;
    const auto list = p.windows->onScreenWindows();
    if (!list) return std::nullopt;
    for (const WindowInfo& w : *list) {
        if (w.ownerPid != pid || w.layer != 0 || !w.bounds || !w.bounds->isFinite()) continue;
        if (w.bounds->width() > 200 && w.bounds->height() > 150) return w.bounds;
    }
    return std::nullopt;
}

void activate() {
    const Ports p = ports();
    if (p.workspace && running()) p.workspace->activate(bundleID);
}

std::optional<int> running() {
    const Ports p = ports();
    if (!p.workspace) return std::nullopt;
    static const std::string id = bundleID; // asked on every tick of a layer: made once
    return p.workspace->runningProcess(id);
}

} // namespace PPT

MacroReply fromMacro(std::string_view reply) {
    MacroReply out;
    if (reply.empty()) return out;
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = reply.find('|', start);
        pieces.emplace_back(reply.substr(start, bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    out.ok = pieces.front() == "OK";
    out.parts.assign(pieces.begin() + 1, pieces.end());
    return out;
}

std::string replyError(std::string_view reply) {
    if (reply.rfind("ERR|", 0) == 0) return std::string(reply.substr(4));
    return std::string(reply);
}

std::uint32_t fourCC(std::string_view code) {
    std::uint32_t value = 0;
    for (unsigned char byte : code) value = (value << 8) | byte;
    return value;
}

} // namespace scribbet
