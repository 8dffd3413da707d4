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

const std::string notRunning = "PowerPoint is not running. Open your presentation in PowerPoint, then try again.";

std::string addinNotLoaded(int number) {
    return "The Scribbet add-in is not loaded in PowerPoint yet, so there was nothing to run (PowerPoint error " +
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
        return "PowerPoint is not running (or has just quit). Open your presentation in PowerPoint, then try "
               "again.";
    case MacroFailureKind::cancelled:
        return "Cancelled.";
    case MacroFailureKind::denied:
        return "macOS is blocking Scribbet from controlling PowerPoint. Allow it in System Settings > Privacy & "
               "Security > Automation.";
    case MacroFailureKind::timedOut:
        return "PowerPoint took longer than a minute to answer. If it is showing a message, close it (a VBA "
               "alert can open off-screen - click PowerPoint and press Return), then check the slide before trying "
               "again.";
    case MacroFailureKind::notHandled:
        return addinNotLoaded(failure.number);
    case MacroFailureKind::other:
        break;
    }
    return failure.message.value_or("unknown error") + " (" + std::to_string(failure.number) + ")";
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
    if (!p.transport || !running()) return {MacroReply::failure(notRunning), ""};
    const MacroEventReply reply =
        p.transport->send(Settings::current().macroPrefix + name, args, timeoutFrom(timeoutSeconds));
    if (const auto& f = reply.failure) {
        return {MacroReply::failure(sentence(*f), f->kind == MacroFailureKind::notHandled),
                failureLine(name, f->number, f->message)};
    }
    return {classify(reply.direct), ""};
}
} // namespace

Attempt attempt(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    if (MainQueue::installed() && MainQueue::shared().isCurrent()) {
        return {MacroReply::failure("Internal error: PowerPoint was asked from the main thread."),
                "PPT.run(" + name + ") was called on the main thread - refused"};
    }
    if (queue().isCurrent()) return sendQuietly(name, args, timeoutSeconds);
    return queue().syncValue([&] { return sendQuietly(name, args, timeoutSeconds); });
}

MacroReply run(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    Attempt a = attempt(name, args, timeoutSeconds);
    if (!a.failure.empty()) log(a.failure);
    return std::move(a.reply);
}

MacroReply send(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    Attempt a = sendQuietly(name, args, timeoutSeconds);
    if (!a.failure.empty()) log(a.failure);
    return std::move(a.reply);
}

MacroReply classify(const std::optional<std::string>& direct) {
    const std::string text = direct.value_or("");
    if (conventional(text)) return fromMacro(text);
    if (text.empty()) return MacroReply::failure("PowerPoint did not answer.");
    return MacroReply::failure("Unexpected reply: " + text::prefix(text, 200));
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

std::uint32_t fourCC(std::string_view code) {
    std::uint32_t value = 0;
    for (unsigned char byte : code) value = (value << 8) | byte;
    return value;
}

} // namespace scribbet
