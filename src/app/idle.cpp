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

void decide() {
    if (Overlay::shared().isOpen() || working >= 1) return;
    if (auto status = AppState::shared().statusWindow.lock(); status && status->isVisible()) return;
    const Instant now = clock().now();
    if (now - lastRequest() < quiet) return;
    if (now - started() < quiet) return;
    if (terminateAction) terminateAction();
}

Instant firstUse(std::optional<Instant>& value) {
    if (!value) value = clock().now();
    return *value;
}
} // namespace

Instant lastRequest() { return firstUse(lastRequestAt); }
void setLastRequest(Instant t) { lastRequestAt = t; }
Instant started() { return firstUse(startedAt); }

void check() { MainQueue::shared().async(decide); }

void setTerminate(std::function<void()> terminate) { terminateAction = std::move(terminate); }

void reset() {
    working = 0;
    lastRequestAt.reset();
    startedAt.reset();
}

} // namespace scribbet::Idle
