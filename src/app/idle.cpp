#include "app/idle.hpp"

#include "log/app_state.hpp"

namespace scribbet {

namespace {
constexpr Duration quiet = std::chrono::seconds(60);

// A time that the rule takes lazily takes the decision's own moment, never a later clock
// reading: otherwise `started` lands a little after the moment it is measured against
// and a minute later the check falls short by that little.
Instant firstUse(std::optional<Instant>& value, Instant now) {
    if (!value) value = now;
    return *value;
}
} // namespace

Idle::Idle(Parts parts) : parts_(std::move(parts)) {}

void Idle::decide(Instant now) {
    if ((parts_.layerOpen && parts_.layerOpen()) || working >= 1) return;
    if (auto status = parts_.state.statusWindow.lock(); status && status->isVisible()) return;
    if (now - firstUse(lastRequestAt_, now) < quiet) return;
    if (now - firstUse(startedAt_, now) < quiet) return;
    if (parts_.terminate) parts_.terminate();
}

Instant Idle::lastRequest() { return firstUse(lastRequestAt_, parts_.main.clock().now()); }
Instant Idle::started() { return firstUse(startedAt_, parts_.main.clock().now()); }

void Idle::check() {
    parts_.main.async(weakly(weak_.weak(), [](Idle& idle) { idle.decide(idle.parts_.main.clock().now()); }));
}

void Idle::check(Instant at) {
    parts_.main.async(weakly(weak_.weak(), [at](Idle& idle) { idle.decide(at); }));
}

void Idle::checkAfter(Duration delay) {
    parts_.main.after(delay, weakly(weak_.weak(), [](Idle& idle) { idle.decide(idle.parts_.main.clock().now()); }));
}

void Idle::reset() {
    working = 0;
    lastRequestAt_.reset();
    startedAt_.reset();
}

} // namespace scribbet
