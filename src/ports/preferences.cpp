#include "ports/preferences.hpp"

#include <map>
#include <mutex>

namespace scribbet {

namespace {
// Until the platform's store is installed, values live for the process only.
class MemoryPreferences final : public Preferences {
public:
    std::optional<nlohmann::json> get(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    void set(const std::string& key, const nlohmann::json& value) override {
        std::lock_guard lock(mutex_);
        values_[key] = value;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, nlohmann::json> values_;
};

std::mutex installMutex;
std::shared_ptr<Preferences>& current() {
    static std::shared_ptr<Preferences> p = std::make_shared<MemoryPreferences>();
    return p;
}
} // namespace

Preferences& Preferences::shared() {
    std::lock_guard lock(installMutex);
    return *current();
}

void Preferences::install(std::shared_ptr<Preferences> prefs) {
    std::lock_guard lock(installMutex);
    current() = prefs ? std::move(prefs) : std::make_shared<MemoryPreferences>();
}

} // namespace scribbet
