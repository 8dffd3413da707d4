#include "app/idle.hpp"

#include <optional>

#include "layer/overlay.hpp"
#include "log/app_state.hpp"
#include "runtime/queues.hpp"

namespace scribbet::Idle {

int working = 0;

namespace {
std::optional<Instant> lastRequestAt;
std::optional<Instant> startedAt;
std::function<void()> terminateAction;
constexpr Duration quiet = std::chrono::seconds(60);

// A time that the rule takes lazily takes the decision's own moment, never a later clock
// reading: otherwise `started` lands a little after the moment it is measured against
// and a minute later the check falls short by that little.
Instant firstUse(std::optional<Instant>& value, Instant now) {
    if (!value) value = now;
    return *value;
}

void decide(Instant now) {
    if (Overlay::shared().isOpen() || working >= 1) return;
    if (auto status = AppState::shared().statusWindow.lock(); status && status->isVisible()) return;
    if (now - firstUse(lastRequestAt, now) < quiet) return;
    if (now - firstUse(startedAt, now) < quiet) return;
    if (terminateAction) terminateAction();
}
} // namespace

Instant lastRequest() { return firstUse(lastRequestAt, clock().now()); }
void setLastRequest(Instant t) { lastRequestAt = t; }
Instant started() { return firstUse(startedAt, clock().now()); }

void check() {
    MainQueue::shared().async([] { decide(clock().now()); });
}

void check(Instant at) {
    MainQueue::shared().async([at] { decide(at); });
}

void setTerminate(std::function<void()> terminate) { terminateAction = std::move(terminate); }

void reset() {
    working = 0;
    lastRequestAt.reset();
    startedAt.reset();
}

} // namespace scribbet::Idle
