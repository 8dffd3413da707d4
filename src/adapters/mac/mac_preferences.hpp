#pragma once
// Preferences in the user's defaults (NSUserDefaults' standard store), converted through
// plist_value. Any queue may call: the store is documented as thread-safe today, but it was
// not always, so this adapter's own reads and writes also take turns under one lock (they are
// rare and short). Each call makes and drains its own autorelease pool, since the program's
// own queues are plain threads that have none.
#include <mutex>

#include "ports/preferences.hpp"

namespace scribbet::mac {

class MacPreferences final : public Preferences {
public:
    std::optional<nlohmann::json> get(const std::string& key) const override;
    // A null value removes the key; a value the store cannot hold leaves the old one in place.
    void set(const std::string& key, const nlohmann::json& value) override;

private:
    mutable std::mutex mutex_;
};

} // namespace scribbet::mac
