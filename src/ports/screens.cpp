#include "ports/screens.hpp"

#include <mutex>

namespace scribbet {

namespace {
class NoScreens final : public Screens {
public:
    std::vector<ScreenInfo> screens() const override { return {}; }
    std::optional<ScreenInfo> mainScreen() const override { return std::nullopt; }
};

std::mutex mutex;
std::shared_ptr<const Screens>& current() {
    static std::shared_ptr<const Screens> s = std::make_shared<NoScreens>();
    return s;
}
} // namespace

const Screens& Screens::shared() {
    std::lock_guard lock(mutex);
    return *current();
}

void Screens::install(std::shared_ptr<const Screens> screens) {
    std::lock_guard lock(mutex);
    current() = screens ? std::move(screens) : std::make_shared<NoScreens>();
}

} // namespace scribbet
