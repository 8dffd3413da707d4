// Placing a drawing: the page's path text and style go to the add-in unchanged, one style at
// a time; the program's view is put back where it was, and the page learns, part by part,
// what was placed. A placing the page asks for again is answered, never placed twice.
#include <utf8proc.h>

#include <condition_variable>
#include <mutex>

#include "app/text.hpp"
#include "app/whole_number.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "log/app_state.hpp"
#include "powerpoint/addin_check.hpp"
#include "powerpoint/ppt.hpp"
#include "server/api.hpp"

namespace scribbet {

namespace {
using nlohmann::json;

constexpr Duration firstRestore = std::chrono::milliseconds(150);
constexpr Duration secondRestore = std::chrono::milliseconds(300);

// Every character Unicode counts as a number; the rest (letters, blanks, signs) dropped.
std::string numericOnly(const std::string& s) {
    std::string out;
    for (std::size_t pos = 0; pos < s.size();) {
        text::CodePoint cp;
        const std::size_t n = text::codePointAt(s, pos, cp);
        const auto cat = cp >= 0 ? utf8proc_category(cp) : UTF8PROC_CATEGORY_CN;
        if (cat == UTF8PROC_CATEGORY_ND || cat == UTF8PROC_CATEGORY_NL || cat == UTF8PROC_CATEGORY_NO) {
            out.append(s, pos, n);
        }
        pos += n;
    }
    return out;
}

// Lines split at every kind of line break, empty ones dropped.
std::vector<std::string> lines(const std::string& s) {
    static const std::vector<std::string> breaks = {"\r\n", "\n", "\r", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8",
                                                    "\xE2\x80\xA9"};
    std::vector<std::string> out;
    std::string current;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t matched = 0;
        for (const auto& b : breaks) {
            if (s.compare(i, b.size(), b) == 0) {
                matched = b.size();
                break;
            }
        }
        if (matched) {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
            i += matched;
        } else {
            current.push_back(s[i++]);
        }
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

// Identifiers and counts in the add-in's answer: decimal integers, signed or not.
std::optional<long long> integerText(const std::string& s) { return whole::integer<long long>(s, whole::Sign::any); }

std::string trimmedText(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

// A replace list of blanks and commas names no shape: with no path, there is nothing to do.
bool namesShapes(const std::string& replace) {
    return replace.find_first_not_of(" \t\r\n\v\f,") != std::string::npos;
}
} // namespace

json Api::Placed::json() const {
    nlohmann::json idValue;
    if (const auto n = integerText(id)) {
        idValue = *n;
    } else {
        idValue = id;
    }
    return {{"k", k},  {"name", name}, {"id", idValue}, {"l", left}, {"t", top},
            {"w", width}, {"h", height}, {"rot", rot},  {"fh", fh},   {"fv", fv}};
}

std::pair<long long, std::vector<Api::Placed>> Api::placed(const MacroReply& answer) {
    const auto all = lines(answer.fields());
    if (all.empty()) return {0, {}};
    const long long count = integerText(trimmedText(all[0])).value_or(static_cast<long long>(all.size()) - 1);
    std::vector<Placed> shapes;
    for (std::size_t i = 1; i < all.size(); ++i) {
        const auto f = fields(all[i]);
        if (f.size() < 10) continue;
        auto num = [&](int c) { return number(nlohmann::json(f[c])).value_or(0); };
        shapes.push_back({integerText(f[0]).value_or(-1), f[1], f[2], num(3), num(4), num(5), num(6), num(7),
                          flag(f[8]), flag(f[9])});
    }
    return {count, shapes};
}

namespace {
// The page stops waiting for a placing after 90 s; the whole of a placing here (waiting for
// the program's queue, the add-in check, every part's macro) ends well before that, so the
// page always hears what became of it.
constexpr Duration placingBound = std::chrono::seconds(80);
// A part is not started with less than this left: the program would hardly finish it.
constexpr Duration shortest = std::chrono::seconds(5);
constexpr double macroLimit = 60;
// How often a wait for the program's queue looks at the clock (see onProgramQueueBy).
constexpr Duration slice = std::chrono::milliseconds(20);

const std::string placedText = "Placed on the slide as a PowerPoint freeform.";
const std::string busyText = "PowerPoint was busy for too long, so Scribbet stopped placing.";

// One drawing in one style: the first five arguments of the insert macro.
struct Part {
    std::string path, stroke, width, fill, replace;
};

// None when the map holds nothing to place.
std::optional<Part> partOf(const json& map) {
    if (!map.is_object()) return std::nullopt;
    Part p{Api::string(map.value("path", json()), ""), Api::string(map.value("stroke", json()), "#1F1F1F"),
           Api::string(map.value("width", json()), "1"), Api::string(map.value("fill", json()), "none"),
           Api::string(map.value("replace", json()), "")};
    // An empty path that replaces shapes is a removal: the page deleted what it had placed.
    if (trimmedText(p.path).empty() && !namesShapes(p.replace)) return std::nullopt;
    return p;
}

// The request's parts in stacking order: its "parts", or the request itself as the one part.
// Empty when any of them has nothing to place: then none is placed.
std::vector<Part> partsOf(const json& body) {
    const auto list = body.find("parts");
    if (list == body.end()) {
        if (auto p = partOf(body)) return {*p};
        return {};
    }
    if (!list->is_array()) return {};
    std::vector<Part> out;
    for (const auto& item : *list) {
        auto p = partOf(item);
        if (!p) return {};
        out.push_back(std::move(*p));
    }
    return out;
}

// Runs `task` on the program's queue unless `deadline` passes before its turn comes; a task
// that has begun is waited for. As Queue::syncFor, but the deadline is on the program's clock,
// where the rest of the placing's time is counted (and where tests move it).
bool onProgramQueueBy(SerialQueue& queue, const Clock& clock, Instant deadline, const std::function<void()>& task) {
    if (queue.isCurrent()) {
        task();
        return true;
    }
    enum class Stage { waiting, running, done, abandoned };
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        Stage stage = Stage::waiting;
    };
    auto shared = std::make_shared<Shared>();
    queue.async([shared, &task] {
        {
            std::lock_guard lock(shared->mutex);
            if (shared->stage != Stage::waiting) return; // the caller has gone: `task` is no more
            shared->stage = Stage::running;
        }
        task();
        std::lock_guard lock(shared->mutex);
        shared->stage = Stage::done;
        shared->changed.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    while (shared->stage == Stage::waiting) {
        const Instant now = clock.now();
        if (now >= deadline) {
            shared->stage = Stage::abandoned;
            return false;
        }
        shared->changed.wait_for(lock, std::min<Duration>(slice, deadline - now));
    }
    shared->changed.wait(lock, [&] { return shared->stage == Stage::done; });
    return true;
}

json shapesJson(const std::vector<Api::Placed>& shapes) {
    json list = json::array();
    for (const auto& s : shapes) list.push_back(s.json());
    return list;
}

// Each part's shapes, in order, for the parts that were placed, and what stopped the rest.
struct Placing {
    std::vector<json> done;
    std::optional<std::string> failure;
};

Placing placeParts(PPT& ppt, const Clock& clock, const std::vector<Part>& parts, const std::string& slide,
                   Instant deadline) {
    Placing out;
    const bool ran = onProgramQueueBy(ppt.queue(), clock, deadline - shortest, [&] {
        for (const Part& p : parts) {
            const Duration left = deadline - clock.now();
            if (left < shortest) {
                out.failure = busyText;
                return;
            }
            const MacroReply answer = ppt.run("SCBT_Insert", {p.path, p.stroke, p.width, p.fill, p.replace, slide},
                                              std::min(macroLimit, toSeconds(left)));
            if (!answer.ok) {
                out.failure = replyError(answer);
                return;
            }
            const auto [count, shapes] = Api::placed(answer);
            log("Placed " + std::to_string(count) + " path(s) on the slide.");
            out.done.push_back(shapesJson(shapes));
        }
    });
    if (!ran) out.failure = busyText;
    return out;
}

// The program may scroll while it adds shapes: the view read before the first part is put
// back after the last, twice, as each putting back waits for the view to settle.
void restoreView(PaneReader& reader, const Clock& clock, const PaneState& saved) {
    clock.sleepFor(firstRestore);
    reader.queue().sync([&] { reader.restore(saved); });
    clock.sleepFor(secondRestore);
    reader.queue().sync([&] { reader.restore(saved); });
}

json answerOf(const Placing& placing, bool several) {
    if (!several) {
        if (placing.failure) return {{"ok", false}, {"msg", *placing.failure}};
        return {{"ok", true}, {"msg", placedText}, {"shapes", placing.done.front()}};
    }
    json placedParts = json::array();
    for (const auto& shapes : placing.done) placedParts.push_back({{"shapes", shapes}});
    return {{"ok", !placing.failure}, {"msg", placing.failure.value_or(placedText)}, {"parts", std::move(placedParts)}};
}

} // namespace

json Api::place(const json& body) {
    const Clock& clock = parts_.main.clock();
    const Instant deadline = clock.now() + placingBound;
    std::optional<std::string> problem;
    if (!onProgramQueueBy(parts_.ppt.queue(), clock, deadline - shortest, [&] { problem = parts_.addin.problem(); })) {
        log("Place FAILED: " + busyText);
        return {{"ok", false}, {"msg", busyText}};
    }
    if (problem) return {{"ok", false}, {"msg", *problem}};
    const std::vector<Part> parts = partsOf(body);
    if (parts.empty()) return {{"ok", false}, {"msg", "Nothing to place."}};
    const std::string slide = numericOnly(Api::string(body.value("slide", json()), ""));
    const auto closeValue = body.find("close");
    const bool close = closeValue != body.end() && closeValue->is_boolean() && closeValue->get<bool>();

    Overlay& layer = parts_.overlay;
    if (close) parts_.main.sync([&layer] { layer.suspend(true); });
    std::optional<PaneState> saved;
    PaneReader& reader = parts_.reader;
    if (parts_.ax.trusted()) reader.queue().sync([&] { saved = reader.read(std::nullopt); });
    const Placing placing = placeParts(parts_.ppt, clock, parts, slide, deadline);
    if (saved && !placing.done.empty()) restoreView(reader, clock, *saved);

    if (placing.failure) {
        log("Place FAILED: " + *placing.failure);
        if (close) parts_.main.sync([&layer] { layer.suspend(false); });
    } else if (close) {
        parts_.main.async([&layer] { layer.close(true); });
    }
    return answerOf(placing, body.contains("parts"));
}

json Api::insert(const json& body) {
    const auto id = PlacingMemory::idOf(body);
    if (!id) return place(body);
    return placings_.answer(*id, PlacingMemory::digestOf(body), parts_.main.clock().now() + placingBound,
                            [&] { return place(body); });
}

} // namespace scribbet
