#pragma once
// Recent placings by the page's identifier. The page sends one identifier per placing and
// sends it again when it asks once more for a placing whose answer it never got (it stopped
// waiting, or was told the program is still at it). Such a placing is answered from here, or
// when the one under way ends, instead of reaching the add-in a second time and putting the
// drawing on the slide twice. Nothing here waits: a request for a placing under way leaves a
// continuation.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ports/clock.hpp"

namespace scribbet {

class PlacingMemory {
public:
    struct Limits {
        // An answer is kept at least this long after its placing ended, whatever the count:
        // longer than the page goes on asking for one.
        Duration least = std::chrono::seconds(120);
        // Past this count, answers older than `least` go, the oldest first.
        std::size_t answers = 4096;
        // And none is kept longer than this.
        Duration keep = std::chrono::minutes(15);
    };
    // Times are on `clock`, the program's.
    explicit PlacingMemory(const Clock& clock) : PlacingMemory(clock, Limits{}) {}
    PlacingMemory(const Clock& clock, Limits limits) : clock_(clock), limits_(limits) {}

    using Waiter = std::function<void(const nlohmann::json&)>;
    struct Begin {
        enum class Kind {
            fresh,    // nothing known: the caller places it, then calls finish()
            answered, // `answer` is what to tell (remembered, or a refusal)
            waiting,  // under way: `waiter` hears its answer when it ends
        };
        Kind kind = Kind::fresh;
        nlohmann::json answer;
    };
    // What to do with placing `id`, whose request reads `digest`. The same identifier with
    // another request is refused: it is not the placing it names.
    Begin begin(const std::string& id, std::uint64_t digest, Waiter waiter);
    // Placing `id` has ended with `answer`, which its waiters now hear. With `remember` false
    // (nothing reached the slide) the identifier is forgotten: asked again, it is placed.
    void finish(const std::string& id, const nlohmann::json& answer, bool remember);

    // Finished answers held now (placings under way not counted).
    std::size_t remembered() const;
    void forget();

    // The identifier of a placing request, when it carries one.
    static std::optional<std::string> idOf(const nlohmann::json& body);
    // Why a request's "id" cannot be kept (not a short plain text), or none when it can or has
    // none: such a placing is refused rather than placed without protection.
    static std::optional<std::string> idProblem(const nlohmann::json& body);
    static std::uint64_t digestOf(const nlohmann::json& body);

private:
    struct Entry {
        std::uint64_t digest = 0;
        bool done = false;
        nlohmann::json answer;
        Instant finished{};
        std::uint64_t order = 0; // finishing order, for "oldest" among answers of the same instant
        std::vector<Waiter> waiters;
    };
    void prune(Instant now);

    const Clock& clock_;
    Limits limits_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Entry>> entries_;
    std::uint64_t finishedCount_ = 0;
};

} // namespace scribbet
