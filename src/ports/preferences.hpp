#pragma once
// Per-user preferences that outlive the process ("nudge", "axAskedFor").
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace scribbet {

class Preferences {
public:
    virtual ~Preferences() = default;
    virtual std::optional<nlohmann::json> get(const std::string& key) const = 0;
    virtual void set(const std::string& key, const nlohmann::json& value) = 0;

    static Preferences& shared();
    static void install(std::shared_ptr<Preferences> prefs);
};

} // namespace scribbet
