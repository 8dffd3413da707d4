#include "server/placing_memory.hpp"

#include <algorithm>
#include <cctype>

#include "log/app_state.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

namespace {
using nlohmann::json;

// Identifiers the page makes are short and plain (they go into log lines); other texts are
// not one of them.
constexpr std::size_t longestId = 128;
// How often a waiter looks at the clock: the deadline is on the program's clock, which is
// not the condition variable's in tests.
constexpr Duration slice = std::chrono::milliseconds(20);

json stillPlacing() {
    return {{"ok", false},
            {"pending", true},
            {"msg", "PowerPoint is still placing the drawing."}};
}
} // namespace

std::optional<std::string> PlacingMemory::idOf(const json& body) {
    const auto id = body.find("id");
    if (id == body.end() || !id->is_string()) return std::nullopt;
    const auto& text = id->get_ref<const std::string&>();
    if (text.empty() || text.size() > longestId) return std::nullopt;
    const bool plain = std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == ':';
    });
    if (!plain) return std::nullopt;
    return text;
}

std::uint64_t PlacingMemory::digestOf(const json& body) {
    // Whether the layer closes afterwards is not part of what goes on the slide: the page asks
    // for a placing again without it, leaving the closing to the placing that follows.
    json what = body;
    if (what.is_object()) what.erase("close");
    return std::hash<std::string>{}(what.dump(-1, ' ', false, json::error_handler_t::replace));
}

json PlacingMemory::answer(const std::string& id, std::uint64_t digest, Instant deadline,
                           const std::function<json()>& place) {
    std::unique_lock lock(mutex_);
    prune(clock_.now());
    if (const auto found = entries_.find(id); found != entries_.end()) {
        const std::shared_ptr<Entry> entry = found->second;
        if (entry->digest != digest) {
            log("Placing " + id + " was asked for again with another drawing - refused");
            return {{"ok", false}, {"msg", "Scribbet was asked to place another drawing under the same name, so it "
                                           "placed nothing. Place again."}};
        }
        if (!entry->done) log("Placing " + id + " was asked for again while under way - waiting for it");
        while (!entry->done) {
            const Instant now = clock_.now();
            if (now >= deadline) return stillPlacing();
            finished_.wait_for(lock, std::min<Duration>(slice, deadline - now));
        }
        log("Placing " + id + " was asked for again - answered from memory");
        return entry->answer;
    }

    auto entry = std::make_shared<Entry>();
    entry->digest = digest;
    entries_[id] = entry;
    lock.unlock();
    // Should `place` throw, nobody may go on waiting for an answer that never comes, and the
    // placing is not remembered: it may be asked for again.
    struct Unwind {
        PlacingMemory& memory;
        const std::string& id;
        const std::shared_ptr<Entry>& entry;
        bool armed = true;
        ~Unwind() {
            if (!armed) return;
            std::lock_guard guard(memory.mutex_);
            if (const auto at = memory.entries_.find(id); at != memory.entries_.end() && at->second == entry) {
                memory.entries_.erase(at);
            }
            entry->done = true;
            entry->answer = {{"ok", false}, {"msg", "Scribbet could not place the drawing."}};
            memory.finished_.notify_all();
        }
    } unwind{*this, id, entry};
    json out = place();
    unwind.armed = false;
    {
        std::lock_guard guard(mutex_);
        entry->answer = out;
        entry->done = true;
        entry->finished = clock_.now();
        entry->order = ++finishedCount_;
        prune(entry->finished);
    }
    finished_.notify_all();
    return out;
}

void PlacingMemory::prune(Instant now) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second->done && now - it->second->finished >= limits_.keep) {
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    for (;;) {
        std::size_t done = 0;
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (!it->second->done) continue;
            ++done;
            if (oldest == entries_.end() || it->second->order < oldest->second->order) oldest = it;
        }
        if (done <= limits_.answers) return;
        entries_.erase(oldest);
    }
}

std::size_t PlacingMemory::remembered() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const auto& e) { return e.second->done; }));
}

void PlacingMemory::forget() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

} // namespace scribbet
