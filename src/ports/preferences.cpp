#include "ports/preferences.hpp"

namespace scribbet {

std::optional<nlohmann::json> MemoryPreferences::get(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void MemoryPreferences::set(const std::string& key, const nlohmann::json& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
}

} // namespace scribbet
