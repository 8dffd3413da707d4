#include "server/placing_memory.hpp"

#include <algorithm>
#include <cctype>

#include "log/app_state.hpp"

namespace scribbet {

namespace {
using nlohmann::json;

// Identifiers the page makes are short and plain (they go into log lines).
constexpr std::size_t longestId = 128;

bool plainId(const std::string& text) {
    return !text.empty() && text.size() <= longestId && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == ':';
    });
}
} // namespace

std::optional<std::string> PlacingMemory::idOf(const json& body) {
    const auto id = body.find("id");
    if (id == body.end() || !id->is_string() || !plainId(id->get_ref<const std::string&>())) return std::nullopt;
    return id->get<std::string>();
}

std::optional<std::string> PlacingMemory::idProblem(const json& body) {
    const auto id = body.find("id");
    if (id == body.end() || id->is_null()) return std::nullopt;
    if (id->is_string() && plainId(id->get_ref<const std::string&>())) return std::nullopt;
    return "Scribbet can only keep track of a placing named with up to 128 letters, digits and the signs - _ . :, "
           "so it placed nothing.";
}

std::uint64_t PlacingMemory::digestOf(const json& body) {
    // Whether the layer closes afterwards is not part of what goes on the slide: the page asks
    // for a placing again without it, leaving the closing to the placing that follows.
    json what = body;
    if (what.is_object()) what.erase("close");
    return std::hash<std::string>{}(what.dump(-1, ' ', false, json::error_handler_t::replace));
}

PlacingMemory::Begin PlacingMemory::begin(const std::string& id, std::uint64_t digest, Waiter waiter) {
    std::lock_guard lock(mutex_);
    prune(clock_.now());
    const auto found = entries_.find(id);
    if (found == entries_.end()) {
        auto entry = std::make_shared<Entry>();
        entry->digest = digest;
        entries_[id] = entry;
        return {};
    }
    const std::shared_ptr<Entry> entry = found->second;
    if (entry->digest != digest) {
        log("Placing " + id + " was asked for again with another drawing - refused");
        return {Begin::Kind::answered,
                {{"ok", false},
                 {"msg", "Scribbet was asked to place another drawing under the same name, so it placed nothing. "
                         "Place again."}}};
    }
    if (entry->done) {
        log("Placing " + id + " was asked for again - answered from memory");
        return {Begin::Kind::answered, entry->answer};
    }
    log("Placing " + id + " was asked for again while under way - waiting for it");
    entry->waiters.push_back(std::move(waiter));
    return {Begin::Kind::waiting, {}};
}

void PlacingMemory::finish(const std::string& id, const json& answer, bool remember) {
    std::vector<Waiter> waiters;
    {
        std::lock_guard lock(mutex_);
        const auto found = entries_.find(id);
        if (found == entries_.end()) return;
        const auto entry = found->second;
        waiters.swap(entry->waiters);
        if (remember) {
            entry->answer = answer;
            entry->done = true;
            entry->finished = clock_.now();
            entry->order = ++finishedCount_;
            prune(entry->finished);
        } else {
            entries_.erase(found);
        }
    }
    for (auto& w : waiters) w(answer);
}

void PlacingMemory::prune(Instant now) {
    std::vector<std::pair<std::uint64_t, std::string>> old; // finished past `least`, by age
    std::size_t done = 0;
    for (auto it = entries_.begin(); it != entries_.end();) {
        const Entry& e = *it->second;
        if (e.done && now - e.finished >= limits_.keep) {
            it = entries_.erase(it);
            continue;
        }
        if (e.done) {
            ++done;
            if (now - e.finished >= limits_.least) old.emplace_back(e.order, it->first);
        }
        ++it;
    }
    if (done <= limits_.answers) return;
    std::sort(old.begin(), old.end());
    for (const auto& [order, id] : old) {
        if (done <= limits_.answers) return;
        entries_.erase(id);
        --done;
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
