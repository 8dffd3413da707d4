#pragma once
// Preferences kept as one JSON object in a file ($XDG_CONFIG_HOME/scribbet/preferences.json).
// The file is read once and rewritten whole on every change, through a temporary file, so a
// crash mid-write never leaves half a file behind.
#include <filesystem>
#include <mutex>

#include "ports/preferences.hpp"

namespace scribbet::linuxhost {

class FilePreferences final : public Preferences {
public:
    explicit FilePreferences(std::filesystem::path file);
    std::optional<nlohmann::json> get(const std::string& key) const override;
    void set(const std::string& key, const nlohmann::json& value) override;

    static std::filesystem::path defaultFile();

private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
};

} // namespace scribbet::linuxhost
