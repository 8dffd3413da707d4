#include "adapters/linux/file_preferences.hpp"

#include <fstream>
#include <sstream>

#include "adapters/linux/desktop_places.hpp"

namespace scribbet::linuxhost {

FilePreferences::FilePreferences(std::filesystem::path file) : file_(std::move(file)) {
    std::ifstream in(file_, std::ios::binary);
    if (!in) return;
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
    // A damaged file is set aside rather than lost: the next write starts afresh beside it.
    if (parsed.is_object()) {
        values_ = std::move(parsed);
    } else if (!text.str().empty()) {
        std::error_code ec;
        std::filesystem::rename(file_, file_.string() + ".damaged", ec);
    }
}

std::filesystem::path FilePreferences::defaultFile() {
    return XdgPaths::base("XDG_CONFIG_HOME", ".config") / "scribbet" / "preferences.json";
}

std::optional<nlohmann::json> FilePreferences::get(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}

void FilePreferences::set(const std::string& key, const nlohmann::json& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    const auto temp = file_.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        if (!out) return;
    }
    std::filesystem::rename(temp, file_, ec);
}

} // namespace scribbet::linuxhost
