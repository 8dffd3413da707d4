#include "app/idle.hpp"

#include <optional>

#include "runtime/queues.hpp"

namespace scribbet::Idle {

int working = 0;

namespace {
std::optional<Instant> lastRequestAt;
std::optional<Instant> startedAt;

Instant firstUse(std::optional<Instant>& value) {
    if (!value) value = clock().now();
    return *value;
}
} // namespace

Instant lastRequest() { return firstUse(lastRequestAt); }
void setLastRequest(Instant t) { lastRequestAt = t; }
Instant started() { return firstUse(startedAt); }

void reset() {
    working = 0;
    lastRequestAt.reset();
    startedAt.reset();
}

} // namespace scribbet::Idle
