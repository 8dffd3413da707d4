#include "adapters/mac/bundle_facts.hpp"

namespace scribbet::mac {

std::optional<std::string> versionOf(const InfoValue& value) {
    if (!value.present || !value.isString || value.text.empty()) return std::nullopt;
    return value.text;
}

std::optional<std::filesystem::path> pathOf(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    return std::filesystem::path(*text);
}

bool resourceNameUsable(const std::string& name, const std::string& ext) {
    if (name.empty()) return false;
    for (const std::string* part : {&name, &ext}) {
        if (part->find('/') != std::string::npos || part->find('\0') != std::string::npos) return false;
    }
    return name != "." && name != "..";
}

} // namespace scribbet::mac
