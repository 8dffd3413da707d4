#pragma once
// Per-user preferences that outlive the process ("nudge", "axAskedFor").
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace scribbet {

class Preferences {
public:
    virtual ~Preferences() = default;
    virtual std::optional<nlohmann::json> get(const std::string& key) const = 0;
    virtual void set(const std::string& key, const nlohmann::json& value) = 0;
};

// Values that live for the process only: where no store of the platform's is given.
class MemoryPreferences final : public Preferences {
public:
    std::optional<nlohmann::json> get(const std::string& key) const override;
    void set(const std::string& key, const nlohmann::json& value) override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, nlohmann::json> values_;
};

} // namespace scribbet
