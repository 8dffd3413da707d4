// Placing a drawing: the page's path text and style go to the add-in unchanged, one style at
// a time; the program's view is put back where it was, and the page learns, part by part,
// what was placed. A placing the page asks for again is answered, never placed twice.
#include <utf8proc.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>

#include "base/text.hpp"
#include "app/whole_number.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "log/app_state.hpp"
#include "program/addin_check.hpp"
#include "app/host.hpp"
#include "program/ppt.hpp"
#include "server/api.hpp"
#include "server/api_shared.hpp"

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

std::vector<std::string> Api::kept(const MacroReply& answer) {
    std::vector<std::string> ids;
    const auto all = lines(answer.fields());
    for (std::size_t i = 1; i < all.size(); ++i) {
        const auto f = fields(all[i]);
        if (f.size() == 2 && f[0] == "kept" && !trimmedText(f[1]).empty()) ids.push_back(trimmedText(f[1]));
    }
    return ids;
}

namespace {
// Said of the program served, which is known only once the process has started.
std::string placedText() { return Host::current().say("Placed on the slide as a PowerPoint freeform."); }

// The drawing is on the slide, but so is what it was to replace: the user must know, or the
// slide shows the old shape beside the new one without a word.
std::string keptText(std::size_t n) {
    return Host::current().say(n == 1 ? "PowerPoint would not remove one shape this drawing replaces; it is still on "
                                        "the slide, to delete by hand."
                                      : "PowerPoint would not remove " + std::to_string(n) +
                                            " shapes this drawing replaces; they are still on the slide, to "
                                            "delete by hand.");
}
std::string busyText() { return Host::current().say("PowerPoint was busy for too long, so Scribbet stopped placing."); }
std::string unknownText() {
    return Host::current().say(
        "PowerPoint did not answer within five minutes, so Scribbet cannot tell whether it placed the drawing.");
}
// A hop to the main thread or the pane reader that does not come within this is done without.
constexpr Duration hopLimit = std::chrono::seconds(2);

// One drawing in one style: the first five arguments of the insert macro. An arrow part also
// names the line end its freeforms get (the eighth argument) and how an add-in that has no
// arrowheads draws it instead: its own path and fill (a shaft and a filled head).
struct Part {
    std::string path, stroke, width, fill, replace;
    std::string arrowhead;
    std::string plainPath, plainFill;
};

// None when the map holds nothing to place.
std::optional<Part> partOf(const json& map) {
    if (!map.is_object()) return std::nullopt;
    Part p{Api::string(map.value("path", json()), ""), Api::string(map.value("stroke", json()), "#1F1F1F"),
           Api::string(map.value("width", json()), "1"), Api::string(map.value("fill", json()), "none"),
           Api::string(map.value("replace", json()), "")};
    p.arrowhead = Api::string(map.value("arrowhead", json()), "");
    const json plain = map.value("plain", json());
    p.plainPath = plain.is_object() ? Api::string(plain.value("path", json()), p.path) : p.path;
    p.plainFill = plain.is_object() ? Api::string(plain.value("fill", json()), p.fill) : p.fill;
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

json shapesJson(const std::vector<Api::Placed>& shapes) {
    json list = json::array();
    for (const auto& s : shapes) list.push_back(s.json());
    return list;
}

// Each part's shapes, in order, for the parts that were placed, and what stopped the rest.
struct Placing {
    std::vector<json> done;
    std::vector<bool> headed; // per part placed: whether it went with its arrowhead
    std::vector<std::string> kept; // replaced shapes the program left on the slide
    std::optional<std::string> failure;
    bool unknown = false; // the program may have placed the part that stopped it
    bool reached = false; // an insert macro was sent: the slide may have changed
};

// Whether the add-in draws arrowheads: one that does answers SCBT_Features with the word among
// its fields. An add-in from before them has no such macro (the program reports the event
// unhandled), and must get an arrow as the two shapes it always drew.
bool knowsArrowheads(PPT& ppt) {
    // Quietly: an older add-in's missing macro is no fault to log at every placing.
    const MacroReply answer = ppt.attempt("SCBT_Features", {}, Api::featuresWait).reply;
    if (!answer.ok) return false;
    return std::any_of(answer.parts.begin(), answer.parts.end(),
                       [](const std::string& f) { return trimmedText(f) == "arrowhead"; });
}

// On the program's thread. A part is not begun after the deadline (the placing's time went on
// the add-in check or the parts before); one that was begun is waited for as long as the
// program may take, so that its outcome is known.
Placing placeParts(PPT& ppt, const Clock& clock, const std::vector<Part>& parts, const std::string& slide,
                   const std::string& presentation, Instant deadline) {
    Placing out;
    std::optional<bool> arrowheads; // asked once, before the first arrow
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (clock.now() >= deadline) {
            out.failure = busyText();
            return out;
        }
        const Part& p = parts[i];
        if (!p.arrowhead.empty() && !arrowheads) arrowheads = knowsArrowheads(ppt);
        const bool headed = !p.arrowhead.empty() && *arrowheads;
        out.reached = true;
        std::vector<std::string> args{p.path, p.stroke, p.width, p.fill, p.replace, slide, presentation};
        if (headed) {
            args.push_back(p.arrowhead);
        } else if (!p.arrowhead.empty()) {
            args[0] = p.plainPath, args[3] = p.plainFill;
        }
        const MacroReply answer = ppt.run("SCBT_Insert", args, Api::insertWait);
        if (!answer.ok) {
            out.unknown = answer.unsure;
            out.failure = answer.unsure ? unknownText() : replyError(answer);
            return out;
        }
        const auto [count, shapes] = Api::placed(answer);
        log("Placed " + std::to_string(count) + " path(s) on the slide.");
        out.done.push_back(shapesJson(shapes));
        out.headed.push_back(headed);
        for (auto& id : Api::kept(answer)) {
            log(Host::current().say("PowerPoint kept the shape " + id + " that the drawing replaces."));
            out.kept.push_back(std::move(id));
        }
    }
    return out;
}

// The program may scroll while it adds shapes: the view read before the first part is put
// back after the last, twice, as each putting back waits for the view to settle.
void restoreView(PaneReader& reader, const Clock& clock, const PaneState& saved) {
    clock.sleepFor(firstRestore);
    reader.queue().syncFor(hopLimit, [&] { reader.restore(saved); });
    clock.sleepFor(secondRestore);
    reader.queue().syncFor(hopLimit, [&] { reader.restore(saved); });
}

json answerOf(const Placing& placing, bool several) {
    json out;
    if (!several) {
        if (placing.failure) {
            out = {{"ok", false}, {"msg", *placing.failure}};
        } else {
            out = {{"ok", true}, {"msg", placedText()}, {"shapes", placing.done.front()}};
            if (placing.headed.front()) out["arrowhead"] = true;
        }
    } else {
        json placedParts = json::array();
        for (std::size_t i = 0; i < placing.done.size(); ++i) {
            json part = {{"shapes", placing.done[i]}};
            // The page counts an arrow's shapes by the form it went in: one, or shaft and head.
            if (placing.headed[i]) part["arrowhead"] = true;
            placedParts.push_back(std::move(part));
        }
        out = {{"ok", !placing.failure}, {"msg", placing.failure.value_or(placedText())}, {"parts", std::move(placedParts)}};
    }
    if (placing.unknown) out["unknown"] = true;
    if (!placing.kept.empty()) {
        out["kept"] = placing.kept;
        if (!placing.failure) out["msg"] = placedText() + " " + keptText(placing.kept.size());
    }
    return out;
}

json stillPlacing() {
    return {{"ok", false}, {"pending", true}, {"msg", Host::current().say("PowerPoint is still placing the drawing.")}};
}

// Tells `done` once, whoever comes first: the placing's end or its bound.
std::function<void(const json&)> once(std::function<void(const json&)> done) {
    auto told = std::make_shared<std::atomic<bool>>(false);
    auto f = std::make_shared<std::function<void(const json&)>>(std::move(done));
    return [told, f](const json& answer) {
        if (!told->exchange(true)) (*f)(answer);
    };
}
} // namespace

json Api::endingWhilePlacing() {
    return {{"ok", false},
            {"unknown", true},
            {"msg", Host::current().say("Scribbet is quitting while PowerPoint places the drawing, so it cannot tell "
                                          "whether it was placed.")}};
}

// The placing itself, on the program's thread: the add-in check, the layer held still, each
// part's macro, the view put back, and the layer closed or released.
static Placing placeNow(const Api::Parts& parts, const json& body, const std::vector<Part>& list, Instant deadline) {
    Placing placing;
    if (const auto problem = parts.addin.problem()) {
        placing.failure = *problem;
        return placing;
    }
    const std::string slide = numericOnly(Api::string(body.value("slide", json()), ""));
    const auto closeValue = body.find("close");
    const bool close = closeValue != body.end() && closeValue->is_boolean() && closeValue->get<bool>();

    Overlay& layer = parts.overlay;
    MainQueue& main = parts.main;
    // Held still while the program adds shapes; a main thread that does not turn (Scribbet is
    // ending) is not waited for.
    if (close) main.syncFor(hopLimit, [&layer] { layer.suspend(true); });
    std::optional<PaneState> saved;
    PaneReader& reader = parts.reader;
    if (parts.ax.trusted()) reader.queue().syncFor(hopLimit, [&] { saved = reader.read(std::nullopt); });
    const Clock& clock = parts.ppt.clock();
    // The layer's presentation receives the drawing, not whichever is active by now: slide
    // identifiers repeat from one presentation to the next, and the add-in refuses when that
    // presentation is no longer open.
    placing = placeParts(parts.ppt, clock, list, slide, layer.presentation(), deadline);
    if (saved && !placing.done.empty()) restoreView(reader, clock, *saved);

    if (placing.unknown) {
        log("Place unconfirmed: " + *placing.failure);
    } else if (placing.failure) {
        log("Place FAILED: " + *placing.failure);
    }
    if (placing.failure && close) {
        main.async([&layer] { layer.suspend(false); });
    } else if (close) {
        main.async([&layer] { layer.close(true); });
    }
    return placing;
}

void Api::insert(const json& body, Instant arrived, std::function<bool()> wanted, std::function<void(const json&)> doneIn) {
    auto done = once(std::move(doneIn));
    std::vector<Part> list = partsOf(body);
    if (list.empty()) return done({{"ok", false}, {"msg", "Nothing to place."}});

    auto sh = shared_;
    const auto id = PlacingMemory::idOf(body);
    const Instant deadline = arrived + placingBound;
    PPT& ppt = sh->parts.ppt;
    // Whoever waits is told at the bound that the program is still at it, unless the placing has
    // ended by then (or never began: then it says so itself).
    ppt.waiting().at(deadline, [done] { done(stillPlacing()); });
    if (id) {
        const auto begun = sh->placings.begin(*id, PlacingMemory::digestOf(body), done);
        if (begun.kind == PlacingMemory::Begin::Kind::answered) return done(begun.answer);
        if (begun.kind == PlacingMemory::Begin::Kind::waiting) return;
    }
    // Every caller hears the end: this one, and those who asked again meanwhile.
    auto ended = [sh, id, done](const json& answer, bool remember) {
        if (id) sh->placings.finish(*id, answer, remember);
        done(answer);
    };
    ProgramQueue::Job job;
    job.lane = ProgramQueue::Lane::user;
    job.deadline = deadline;
    job.wanted = std::move(wanted);
    auto outcome = std::make_shared<Placing>();
    job.run = [sh, body, list = std::move(list), deadline, outcome] {
        *outcome = placeNow(sh->parts, body, list, deadline);
        return MacroReply{};
    };
    job.done = [ended, outcome, several = body.contains("parts")](const MacroReply&) {
        ended(answerOf(*outcome, several), outcome->reached);
    };
    job.dropped = [ended](ProgramQueue::Dropped why) {
        const std::string msg = why == ProgramQueue::Dropped::stopping ? "Scribbet is quitting, so it placed nothing."
                                                                        : busyText();
        if (why != ProgramQueue::Dropped::gone) log("Place FAILED: " + msg);
        ended({{"ok", false}, {"msg", msg}}, false);
    };
    ppt.waiting().submit(std::move(job));
}

json Api::insert(const json& body) {
    std::promise<json> promise;
    auto first = promise.get_future();
    insert(body, shared_->parts.ppt.clock().now(), nullptr,
           [&promise](const json& answer) { promise.set_value(answer); });
    return first.get();
}

} // namespace scribbet
