#include "macros.hpp"

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "app/whole_number.hpp"
#include "path_text.hpp"
#include "picture.hpp"

namespace scribbet::standin {

namespace {
constexpr int maxPictureWidth = 8192;
constexpr double maxLineWeight = 1584; // the heaviest outline the program allows
constexpr const char* notNormalView =
    "PowerPoint's window is not in Normal view: choose View > Normal to draw on a slide.";
constexpr const char* noWindow = "PowerPoint has no window showing a presentation.";
constexpr const char* presentationGone =
    "The presentation you drew on is no longer open in PowerPoint, so the drawing was not placed.";

// Two open presentations of one full name (the add-in's key) cannot be told apart.
std::string moreThanOneCalled(const std::string& key) {
    return "More than one open presentation is called \"" + key +
           "\", so the add-in cannot tell which one the drawing belongs to.";
}

std::string trim(std::string_view s) {
    const auto from = s.find_first_not_of(" \t\r\n");
    if (from == std::string_view::npos) return {};
    const auto to = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(from, to - from + 1));
}

std::string ok(const std::string& fields) { return "OK|" + fields; }
std::string err(const std::string& sentence) { return "ERR|" + sentence; }

using Args = std::vector<std::string>;

// Why a macro that works on the slide showing in the window cannot, in the add-in's words
// (its FindView); none when a Normal-view window shows a slide.
std::optional<std::string> viewProblem(const Model& m) {
    switch (m.window.view) {
    case View::normal: return std::nullopt;
    case View::sorter: return notNormalView;
    case View::none: return noWindow;
    }
    return std::nullopt;
}

std::string geom(Model& m, const Args&) {
    if (const auto problem = viewProblem(m)) return err(*problem);
    return ok(geometryAnswer(m));
}

std::string version(Model& m, const Args&) { return ok(m.addin.version); }

std::string zoom(Model& m, const Args& args) {
    if (trim(args[0]) != "fit") return err("The add-in cannot set the zoom to \"" + args[0] + "\".");
    if (const auto problem = viewProblem(m)) return err(*problem);
    m.window.fit = true;
    return ok(num(std::round(m.effectiveZoom())));
}

std::string theme(Model& m, const Args&) {
    if (const auto problem = viewProblem(m)) return err(*problem);
    std::string out;
    for (auto c : m.theme) out += (out.empty() ? "" : "|") + hexColour(c);
    return ok(out);
}

std::string slidePng(Model& m, const Args& args) {
    const auto width = whole::integer<int>(trim(args[0]));
    if (!width || *width < 1 || *width > maxPictureWidth) {
        return err("The picture width must be a whole number of pixels from 1 to 8192.");
    }
    if (const auto problem = viewProblem(m)) return err(*problem);
    if (std::lround(*width * m.deck.slideH / m.deck.slideW) > maxPictureWidth) {
        return err("The slide picture would be more than 8192 pixels tall.");
    }
    const std::string png = slidePicture(m.currentSlide(), m.deck.slideW, m.deck.slideH, m.theme, *width);
    if (png.empty()) return err("The slide picture could not be made.");
    return ok(std::to_string(m.deck.current + 1) + "|" + num(m.deck.slideW) + "|" + num(m.deck.slideH) + "|" +
              base64(png));
}

std::string linkQuery(Model& m, const Args& args) {
    const auto it = m.links.find(args[0]);
    if (it == m.links.end()) return err("The add-in has no link called \"" + args[0] + "\".");
    m.opened.push_back(args[0]);
    return ok(it->second);
}

// What an insert asks for, read and checked before anything on the slide changes.
struct InsertPlan {
    std::vector<Subpath> subpaths;
    Paint stroke;
    Paint fill;
    double weight = 1;
    Slide* slide = nullptr;
    std::set<std::int64_t> replace;
    bool endArrowhead = false;
    std::string error;
};

InsertPlan planInsert(Model& m, const Args& a) {
    InsertPlan plan;
    // No path but shapes to replace: the drawing's items were deleted, so their shapes go and
    // nothing new comes. With nothing to replace either, the parser's "nothing to place" stands.
    const bool blankPath = a[0].find_first_not_of(" \t\r\n\f") == std::string::npos;
    const bool namesShapes = a[4].find_first_not_of(" \t\r\n,") != std::string::npos;
    if (!blankPath || !namesShapes) {
        auto parsed = parsePath(a[0]);
        if (!parsed.ok()) return plan.error = parsed.error, plan;
        plan.subpaths = std::move(parsed.subpaths);
    }

    const auto stroke = Paint::parse(trim(a[1]));
    if (!stroke) return plan.error = "The outline colour \"" + a[1] + "\" is not one the add-in knows.", plan;
    const auto fill = Paint::parse(trim(a[3]));
    if (!fill) return plan.error = "The fill colour \"" + a[3] + "\" is not one the add-in knows.", plan;
    const auto weight = whole::finite(trim(a[2]));
    if (!weight || *weight < 0 || *weight > maxLineWeight) {
        return plan.error = "The line width \"" + a[2] + "\" is not a number of points from 0 to 1584.", plan;
    }
    plan.stroke = *stroke, plan.fill = *fill, plan.weight = *weight;
    // The line end every freeform of the drawing gets: the program's own arrowhead or none.
    const std::string head = trim(a[7]);
    if (head == "triangle") {
        plan.endArrowhead = true;
    } else if (!head.empty() && head != "none") {
        return plan.error = "The arrowhead \"" + a[7] + "\" is not one the add-in knows.", plan;
    }

    // The presentation the drawing was made on, as the geometry answer named it; none named,
    // the window's. Its slides are looked up in it alone: identifiers start at 256 in every
    // presentation, so another one would take the drawing without a word.
    Presentation* deck = &m.deck;
    const std::string& key = a[6];
    if (!key.empty()) {
        bool ambiguous = false;
        deck = m.presentationByKey(key, ambiguous);
        if (ambiguous) return plan.error = moreThanOneCalled(key), plan;
        if (!deck) return plan.error = presentationGone, plan;
    }
    // The current slide is the one a Normal-view window shows (of a presentation behind, the
    // one its own window shows). A slide named by identifier needs no particular view; with no
    // presentation named it is looked up in the window's presentation, and without a window
    // there is no telling which presentation the drawing was made on.
    const std::string slide = trim(a[5]);
    if (slide.empty()) {
        if (deck == &m.deck) {
            if (const auto problem = viewProblem(m)) return plan.error = *problem, plan;
        }
        plan.slide = &deck->slides[deck->current];
    } else if (key.empty() && m.window.view == View::none) {
        return plan.error = noWindow, plan;
    } else if (const auto id = whole::integer<std::int64_t>(slide)) {
        for (auto& s : deck->slides) {
            if (s.id == *id) plan.slide = &s;
        }
    }
    if (!plan.slide) return plan.error = "There is no slide with the identifier " + slide + ".", plan;

    std::string_view rest = a[4];
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string piece = trim(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        if (piece.empty()) continue;
        const auto id = whole::integer<std::int64_t>(piece);
        const auto& shapes = plan.slide->shapes;
        if (!id || std::none_of(shapes.begin(), shapes.end(), [&](const Shape& s) { return s.id == *id; })) {
            return plan.error = "There is no shape with the identifier " + piece + " on that slide.", plan;
        }
        plan.replace.insert(*id);
    }
    return plan;
}

std::string placedLine(std::size_t k, const Shape& s) {
    // k, name, id, left, top, width, height, rotation, flipped horizontally, vertically
    return std::to_string(k) + "\t" + s.name + "\t" + std::to_string(s.id) + "\t" + num(s.frame.x) + "\t" +
           num(s.frame.y) + "\t" + num(s.frame.w) + "\t" + num(s.frame.h) + "\t0\t0\t0";
}

std::string insert(Model& m, const Args& args) {
    static const Args defaults = {"", "#1F1F1F", "1", "none", "", "", "", ""};
    Args a = args;
    for (std::size_t i = a.size(); i < defaults.size(); ++i) a.push_back(defaults[i]);
    InsertPlan plan = planInsert(m, a);
    if (!plan.error.empty()) return err(plan.error);

    Slide& slide = *plan.slide;
    std::string lines;
    for (std::size_t k = 0; k < plan.subpaths.size(); ++k) {
        Shape shape;
        shape.id = slide.nextShapeId++;
        shape.name = "Freeform: Shape " + std::to_string(shape.id - 1);
        shape.subpaths = {std::move(plan.subpaths[k])};
        shape.frame = bounds(shape.subpaths);
        shape.stroke = plan.stroke, shape.fill = plan.fill, shape.width = plan.weight;
        shape.endArrowhead = plan.endArrowhead;
        lines += "\n" + placedLine(k, shape);
        slide.shapes.push_back(std::move(shape));
    }
    // The old shapes go only once the new ones are in place.
    std::erase_if(slide.shapes, [&](const Shape& s) { return plan.replace.count(s.id) > 0; });
    return ok(std::to_string(plan.subpaths.size()) + lines);
}

// What this add-in knows beyond the first macros, one word a field: Scribbet asks before it
// sends an arrow as one shape, since an add-in from before arrowheads has no such macro.
std::string features(Model&, const Args&) { return ok("arrowhead"); }

struct Macro {
    std::size_t minArgs;
    std::size_t maxArgs;
    std::function<std::string(Model&, const Args&)> run;
};

const std::map<std::string, Macro>& macros() {
    static const std::map<std::string, Macro> table = {
        {"SCBT_Geom", {0, 0, geom}},         {"SCBT_Where", {0, 0, geom}},   {"SCBT_Zoom", {1, 1, zoom}},
        {"SCBT_Version", {0, 0, version}},   {"SCBT_Slide", {1, 1, slidePng}}, {"SCBT_Theme", {0, 0, theme}},
        {"SCBT_Insert", {1, 8, insert}},     {"SCBT_LinkQuery", {1, 1, linkQuery}},
        {"SCBT_Features", {0, 0, features}},
    };
    return table;
}

MacroReply failure(int errn, std::string errs = {}) { return {errn, std::move(errs), {}}; }
} // namespace

std::string num(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", value);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string geometryAnswer(const Model& m) {
    const Layout l = m.layout();
    const Rect& r = l.slide;
    std::vector<std::string> rect;
    if (m.units == Units::pixels) {
        // A real 2x screen reports whole backing pixels.
        const double s = m.screenOf(l.window).scale;
        for (double v : {r.x, r.y, r.right(), r.bottom()}) rect.push_back(num(std::round(v * s)));
    } else {
        for (double v : {r.x, r.y, r.right(), r.bottom()}) rect.push_back(num(v));
    }
    const Rect& w = l.window;
    std::string out = num(m.deck.slideW) + "|" + num(m.deck.slideH);
    for (const auto& v : rect) out += "|" + v;
    out += "|" + num(std::round(l.scale * 100)); // the program's zoom is a whole percent
    for (double v : {w.x, w.y, w.w, w.h}) out += "|" + num(v);
    out += "|" + std::to_string(m.currentSlide().id) + "|" + (m.window.fit ? "1" : "0") + "|" + num(m.window.split);
    out += "|" + presentationKey(m.deck);
    return out;
}

MacroReply runMacro(Model& m, const std::string& fullName, const std::vector<std::string>& args) {
    if (!m.running) return failure(errNotRunning, "Microsoft PowerPoint isn't running.");
    if (m.automationDenied) return failure(errNotPermitted, "Not authorized to send Apple events to Microsoft PowerPoint.");
    // An add-in that is not loaded has no macros, and the program does not handle the event.
    if (!m.addin.loaded) return failure(errNotHandled);
    const std::string& prefix = m.addin.prefix;
    const auto it = fullName.starts_with(prefix) ? macros().find(fullName.substr(prefix.size())) : macros().end();
    if (it == macros().end()) return failure(errNotHandled, "The macro \"" + fullName + "\" cannot be found.");
    const Macro& macro = it->second;
    // An add-in from before arrowheads: no feature macro, and an insert of seven arguments.
    if (!m.addin.arrowheads && it->first == "SCBT_Features") {
        return failure(errNotHandled, "The macro \"" + fullName + "\" cannot be found.");
    }
    const std::size_t most = !m.addin.arrowheads && it->first == "SCBT_Insert" ? 7 : macro.maxArgs;
    if (args.size() < macro.minArgs || args.size() > most) {
        return failure(errParameter, "Wrong number of arguments or invalid property assignment.");
    }
    return {0, {}, macro.run(m, args)};
}

} // namespace scribbet::standin
