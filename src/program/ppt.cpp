#include "program/ppt.hpp"

#include <cmath>
#include <future>

#include "base/text.hpp"
#include "app/host.hpp"
#include "log/app_state.hpp"

namespace scribbet {

namespace {
std::string notRunning() {
    return Host::current().say("PowerPoint is not running. Open your presentation in PowerPoint, then try again.");
}

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

PPT::PPT(Ports ports, const Queue& main, std::string macroPrefix, const Clock* clock)
    : ports_(std::move(ports)),
      main_(main),
      prefix_(std::move(macroPrefix)),
      clock_(clock ? *clock : systemClock_),
      program_(queue_, clock_) {}

PPT::~PPT() { program_.stop(); }

MacroReply PPT::notAsked(ProgramQueue::Dropped why) {
    if (why == ProgramQueue::Dropped::stopping) return MacroReply::failure("Scribbet is quitting.");
    return MacroReply::failure(
        Host::current().say("PowerPoint is busy with other work, so Scribbet did not ask it. Try again in a moment."));
}

void PPT::call(Call c, std::function<void(const MacroReply&)> done) {
    ProgramQueue::Job job;
    job.lane = c.lane;
    if (c.share) {
        job.share = c.name;
        for (const auto& a : c.args) job.share += '\x1F' + a;
        job.share += '\x1F' + std::to_string(c.timeoutSeconds);
    }
    job.deadline = c.deadline;
    job.wanted = std::move(c.wanted);
    job.run = [this, name = std::move(c.name), args = std::move(c.args), timeout = c.timeoutSeconds] {
        return send(name, args, timeout);
    };
    auto shared = std::make_shared<std::function<void(const MacroReply&)>>(std::move(done));
    job.done = [shared](const MacroReply& r) { (*shared)(r); };
    job.dropped = [shared](ProgramQueue::Dropped why) {
        if (why != ProgramQueue::Dropped::gone) (*shared)(notAsked(why));
    };
    program_.submit(std::move(job));
}

PPT::Attempt PPT::sendQuietly(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    if (!ports_.transport || !running()) return {MacroReply::failure(notRunning()), ""};
    const MacroEventReply reply = ports_.transport->send(prefix_ + name, args, timeoutFrom(timeoutSeconds));
    if (const auto& f = reply.failure) {
        MacroReply failed = MacroReply::failure(Host::current().say(sentence(*f)), f->kind == MacroFailureKind::notHandled);
        failed.unsure = f->kind == MacroFailureKind::timedOut;
        return {std::move(failed), failureLine(name, f->number, f->message)};
    }
    return {classify(reply.direct), ""};
}

PPT::Attempt PPT::attempt(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    if (main_.isCurrent()) {
        return {MacroReply::failure(Host::current().say("Internal error: PowerPoint was asked from the main thread.")),
                "PPT.run(" + name + ") was called on the main thread - refused"};
    }
    if (queue_.isCurrent()) return sendQuietly(name, args, timeoutSeconds);
    // The caller's own thread waits (a drawing start, a measurement); nothing else does.
    auto outcome = std::make_shared<std::promise<Attempt>>();
    auto future = outcome->get_future();
    ProgramQueue::Job job;
    job.run = [this, outcome, &name, &args, timeoutSeconds] {
        outcome->set_value(sendQuietly(name, args, timeoutSeconds));
        return MacroReply{};
    };
    job.dropped = [outcome](ProgramQueue::Dropped why) { outcome->set_value({notAsked(why), ""}); };
    program_.submit(std::move(job));
    return future.get();
}

MacroReply PPT::run(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    Attempt a = attempt(name, args, timeoutSeconds);
    if (!a.failure.empty()) log(a.failure);
    return std::move(a.reply);
}

MacroReply PPT::send(const std::string& name, const std::vector<std::string>& args, double timeoutSeconds) {
    Attempt a = sendQuietly(name, args, timeoutSeconds);
    if (!a.failure.empty()) log(a.failure);
    return std::move(a.reply);
}

MacroReply PPT::classify(const std::optional<std::string>& direct) {
    const std::string text = direct.value_or("");
    if (conventional(text)) return fromMacro(text);
    if (text.empty()) return MacroReply::failure(Host::current().say("PowerPoint did not answer."));
    return MacroReply::failure("Unexpected reply: " + text::prefix(text, 200));
}

std::optional<Rect> PPT::windowBounds() const {
    const auto pid = running();
    if (!pid || !ports_.windows) return std::nullopt;
    const auto list = ports_.windows->onScreenWindows();
    if (!list) return std::nullopt;
    for (const WindowInfo& w : *list) {
        if (w.ownerPid != pid || w.layer != 0 || !w.bounds || !w.bounds->isFinite()) continue;
        if (w.bounds->width() > 200 && w.bounds->height() > 150) return w.bounds;
    }
    return std::nullopt;
}

void PPT::activate() {
    if (ports_.workspace && running()) ports_.workspace->activate(Host::current().programId);
}

std::optional<int> PPT::running() const {
    if (!ports_.workspace) return std::nullopt;
    return ports_.workspace->runningProcess(id_);
}

std::uint32_t fourCC(std::string_view code) {
    std::uint32_t value = 0;
    for (unsigned char byte : code) value = (value << 8) | byte;
    return value;
}

} // namespace scribbet
