#pragma once
// Recent placings by the page's identifier. The page sends one identifier per placing and
// sends it again when it asks once more for a placing whose answer it never got (it stopped
// waiting, or the answer was lost on the way). Such a placing is answered from here, or waits
// for the one still under way, instead of reaching the add-in a second time and putting the
// drawing on the slide twice.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "ports/clock.hpp"

namespace scribbet {

class PlacingMemory {
public:
    struct Limits {
        std::size_t answers = 32;                        // finished answers kept, the newest
        Duration keep = std::chrono::minutes(10);        // and for how long after they finished
    };
    // Times are on `clock`, the program's.
    explicit PlacingMemory(const Clock& clock) : PlacingMemory(clock, Limits{}) {}
    PlacingMemory(const Clock& clock, Limits limits) : clock_(clock), limits_(limits) {}

    // The answer for placing `id`, whose request reads `digest`: the remembered one; the one
    // under way once it is done, or a "still placing" answer if `deadline` (on the program's
    // clock) comes first; otherwise what `place` answers, which is then remembered. The same
    // identifier with another request is refused: it is not the placing it names.
    nlohmann::json answer(const std::string& id, std::uint64_t digest, Instant deadline,
                          const std::function<nlohmann::json()>& place);

    // Finished answers held now (placings under way not counted).
    std::size_t remembered() const;
    void forget();

    // The identifier of a placing request, when it carries a usable one.
    static std::optional<std::string> idOf(const nlohmann::json& body);
    static std::uint64_t digestOf(const nlohmann::json& body);

private:
    struct Entry {
        std::uint64_t digest = 0;
        bool done = false;
        nlohmann::json answer;
        Instant finished{};
        std::uint64_t order = 0; // finishing order, for "oldest" among answers of the same instant
    };
    void prune(Instant now);

    const Clock& clock_;
    Limits limits_;
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    std::map<std::string, std::shared_ptr<Entry>> entries_;
    std::uint64_t finishedCount_ = 0;
};

} // namespace scribbet
