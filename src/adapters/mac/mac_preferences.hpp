#pragma once
// Preferences in the user's defaults (NSUserDefaults' standard store), converted through
// plist_value. The store is thread-safe, and the conversions keep no state, so any queue may
// call; each call makes and drains its own autorelease pool, since the program's own queues
// are plain threads that have none.
#include "ports/preferences.hpp"

namespace scribbet::mac {

class MacPreferences final : public Preferences {
public:
    std::optional<nlohmann::json> get(const std::string& key) const override;
    // A null value removes the key; a value the store cannot hold leaves the old one in place.
    void set(const std::string& key, const nlohmann::json& value) override;
};

} // namespace scribbet::mac
