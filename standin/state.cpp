#include "state.hpp"

#include <cmath>
#include <functional>
#include <set>

#include "app/whole_number.hpp"
#include "macros.hpp"

namespace scribbet::standin {

using nlohmann::json;

namespace {
constexpr double minSlideSide = 72;   // one inch
constexpr double maxSlideSide = 4032; // 56 inches, the program's largest slide
constexpr std::size_t maxSlides = 1000;

// ---- reading values that come as JSON or as command-line text ----

std::string trim(std::string s) {
    const auto from = s.find_first_not_of(" \t");
    if (from == std::string::npos) return {};
    return s.substr(from, s.find_last_not_of(" \t") - from + 1);
}

std::optional<double> number(const json& v) {
    if (v.is_number()) {
        const double d = v.get<double>();
        return std::isfinite(d) ? std::optional(d) : std::nullopt;
    }
    if (!v.is_string()) return std::nullopt;
    return whole::finite(trim(v.get<std::string>()));
}

std::optional<std::int64_t> integer(const json& v) {
    const auto d = number(v);
    if (!d || *d != std::floor(*d) || std::fabs(*d) > 9e15) return std::nullopt;
    return static_cast<std::int64_t>(*d);
}

std::optional<bool> flag(const json& v) {
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number()) return v.get<double>() != 0;
    if (!v.is_string()) return std::nullopt;
    const std::string s = trim(v.get<std::string>());
    if (s == "true" || s == "yes" || s == "on" || s == "1") return true;
    if (s == "false" || s == "no" || s == "off" || s == "0") return false;
    return std::nullopt;
}

std::optional<std::string> text(const json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number() || v.is_boolean()) return v.dump();
    return std::nullopt;
}

// Exactly n numbers: a JSON array, or a text with the numbers separated by commas.
std::optional<std::vector<double>> numbers(const json& v, std::size_t n) {
    std::vector<double> out;
    if (v.is_array()) {
        for (const auto& e : v) {
            const auto d = number(e);
            if (!d) return std::nullopt;
            out.push_back(*d);
        }
    } else if (v.is_string()) {
        const std::string s = v.get<std::string>();
        std::size_t from = 0;
        for (;;) {
            const auto comma = s.find(',', from);
            const auto d = number(s.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
            if (!d) return std::nullopt;
            out.push_back(*d);
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    if (out.size() != n) return std::nullopt;
    return out;
}

std::optional<Rect> rect(const json& v) {
    const auto n = numbers(v, 4);
    if (!n) return std::nullopt;
    return Rect{(*n)[0], (*n)[1], (*n)[2], (*n)[3]};
}

// A JSON value given as a command-line text is read as JSON.
json structured(const json& v) {
    if (!v.is_string()) return v;
    return json::parse(v.get<std::string>(), nullptr, false);
}

json rectJson(const Rect& r) { return json::array({r.x, r.y, r.w, r.h}); }

// ---- slides and shapes ----

json shapeJson(const Shape& s) {
    return {{"id", s.id},       {"name", s.name},           {"kind", s.kind},
            {"frame", rectJson(s.frame)}, {"path", pathText(s.subpaths)}, {"stroke", s.stroke.text()},
            {"fill", s.fill.text()},      {"weight", s.width},
            {"arrowhead", s.endArrowhead ? "triangle" : "none"}};
}

std::string readShape(const json& j, Shape& s) {
    if (!j.is_object()) return "a shape must be an object.";
    const auto id = integer(j.value("id", json()));
    if (!id || *id < 1) return "a shape needs a positive whole \"id\".";
    s.id = *id;
    const std::string what = "shape " + std::to_string(*id);
    const auto name = text(j.value("name", json("Freeform: Shape " + std::to_string(*id - 1))));
    if (!name || j.value("kind", json("freeform")) != "freeform") return what + ": only named freeforms are known.";
    s.name = *name;
    const auto path = text(j.value("path", json()));
    auto parsed = parsePath(path ? *path : std::string());
    if (!parsed.ok()) return what + ": " + parsed.error;
    s.subpaths = std::move(parsed.subpaths);
    s.frame = bounds(s.subpaths);
    const auto strokeText = text(j.value("stroke", json("none")));
    const auto fillText = text(j.value("fill", json("none")));
    const auto stroke = strokeText ? Paint::parse(*strokeText) : std::nullopt;
    const auto fill = fillText ? Paint::parse(*fillText) : std::nullopt;
    const auto weight = number(j.value("weight", json(1)));
    if (!stroke || !fill || !weight || *weight < 0) return what + " has a bad colour or weight.";
    s.stroke = *stroke, s.fill = *fill, s.width = *weight;
    const auto head = text(j.value("arrowhead", json("none")));
    if (!head || (*head != "none" && *head != "triangle")) return what + ": the arrowhead is \"none\" or \"triangle\".";
    s.endArrowhead = *head == "triangle";
    return {};
}

std::string readSlides(const json& list, Presentation& deck) {
    if (list.empty() || list.size() > maxSlides) return "there must be 1 to 1000 slides.";
    std::vector<Slide> slides;
    std::set<std::int64_t> ids;
    for (const auto& j : list) {
        Slide slide;
        const auto id = j.is_object() ? integer(j.value("id", json())) : std::nullopt;
        if (!id || *id < 1 || !ids.insert(*id).second) return "every slide needs its own positive whole \"id\".";
        slide.id = *id;
        for (const auto& sj : j.value("shapes", json::array())) {
            Shape shape;
            if (auto e = readShape(sj, shape); !e.empty()) return e;
            slide.nextShapeId = std::max(slide.nextShapeId, shape.id + 1);
            slide.shapes.push_back(std::move(shape));
        }
        if (const auto next = integer(j.value("nextShapeId", json(0)))) slide.nextShapeId = std::max(slide.nextShapeId, *next);
        slides.push_back(std::move(slide));
    }
    deck.slides = std::move(slides);
    deck.current = std::min(deck.current, deck.slides.size() - 1);
    deck.nextSlideId = std::max(deck.nextSlideId, *ids.rbegin() + 1);
    return {};
}

// ---- the keys ----

using Setter = std::function<std::string(Model&, const json&)>;

std::string setRunning(Model& m, const json& v) {
    const auto on = flag(v);
    if (!on) return "running must be true or false.";
    if (*on && !m.running) {
        m.front = m.program(); // a program that starts comes to the front
        ++m.ax.generation;     // with new windows
    }
    if (!*on && m.programInFront()) m.front = m.others.empty() ? App{} : m.others.front();
    m.running = *on;
    return {};
}

std::string setFront(Model& m, const json& v) {
    const auto bundle = text(v);
    if (!bundle) return "front must be an application's bundle identifier.";
    if (bundle->empty()) return m.front = {}, std::string(); // nothing in front, as after the last app quit
    if (*bundle == programBundle || *bundle == "program") {
        if (!m.running) return "the program is not running.";
        m.front = m.program();
        return {};
    }
    for (const auto& app : m.others) {
        if (app.bundle == *bundle) return m.front = app, std::string();
    }
    int pid = 300;
    for (const auto& app : m.others) pid = std::max(pid, app.pid + 1);
    m.others.push_back({*bundle, pid});
    m.front = m.others.back();
    return {};
}

std::string setScreens(Model& m, const json& v) {
    const json list = structured(v);
    if (!list.is_array() || list.empty()) return "screens must be a list of screens.";
    std::vector<Screen> screens;
    for (const auto& j : list) {
        if (!j.is_object()) return "each screen needs a \"frame\".";
        const auto frame = rect(j.value("frame", json()));
        const auto visible = rect(j.value("visible", j.value("frame", json())));
        const auto scale = number(j.value("scale", json(1)));
        if (!frame || !visible || frame->w <= 0 || frame->h <= 0 || !scale || *scale < 1 || *scale > 4) {
            return "each screen needs a \"frame\" [x, y, w, h] and a \"scale\" from 1 to 4.";
        }
        screens.push_back({*frame, *visible, *scale});
    }
    m.screens = std::move(screens);
    return {};
}

std::string setPointer(Model& m, const json& v) {
    const auto p = numbers(v, 2);
    if (!p) return "pointer must be X,Y.";
    m.pointer = {(*p)[0], (*p)[1]};
    return {};
}

std::string setWindow(Model& m, const json& v) {
    const auto r = rect(v);
    if (!r || r->w < 400 || r->h < 300) return "window must be X,Y,W,H, at least 400 by 300 points.";
    // The program makes a moved or resized window's accessibility elements anew, so that
    // references kept from before go stale.
    if (!(*r == m.window.frame)) ++m.ax.generation;
    m.window.frame = *r;
    return {};
}

std::string setSplit(Model& m, const json& v) {
    const auto s = number(v);
    if (!s || *s < 10 || *s > 100) return "split must be a percentage from 10 to 100.";
    m.window.split = *s;
    return {};
}

std::string setPalette(Model& m, const json& v) {
    const auto on = flag(v);
    if (!on) return "palette must be true or false.";
    m.window.palette = *on;
    return {};
}

const std::vector<std::pair<View, std::string>> viewNames = {
    {View::normal, "normal"}, {View::sorter, "sorter"}, {View::none, "none"}};

std::string viewName(View v) {
    for (const auto& [view, name] : viewNames) {
        if (view == v) return name;
    }
    return {};
}

std::string setView(Model& m, const json& v) {
    for (const auto& [view, name] : viewNames) {
        if (v != name) continue;
        // Another view, or a window that comes or goes, is made of new window elements.
        if (view != m.window.view) ++m.ax.generation;
        m.window.view = view;
        return {};
    }
    return "view must be normal, sorter or none.";
}

// A second presentation opens (behind the first, or in front of it: its window becomes
// the one the model's document window stands for) and closes again. The keys after this
// one (the title, the slides) are the front presentation's.
std::string setSecond(Model& m, const json& v) {
    Second want;
    if (v == "none") want = Second::none;
    else if (v == "behind") want = Second::behind;
    else if (v == "front") want = Second::front;
    else return "second must be none, behind or front.";
    if (want == m.second) return {};
    if (m.second == Second::none) m.other = newPresentation("Presentation2");
    // The presentation in front changes: the other one's window comes forward.
    if ((m.second == Second::front) != (want == Second::front)) {
        std::swap(m.deck, *m.other);
        ++m.ax.generation;
    }
    if (want == Second::none) m.other.reset();
    m.second = want;
    return {};
}

const std::vector<std::pair<Focus, std::string>> focusNames = {{Focus::slide, "slide"},
                                                               {Focus::thumbnails, "thumbnails"}};

std::string setFocus(Model& m, const json& v) {
    for (const auto& [focus, name] : focusNames) {
        if (v == name) return m.focus = focus, std::string();
    }
    return "focus must be slide or thumbnails.";
}

std::string setTitle(Model& m, const json& v) {
    const auto t = text(v);
    if (!t || t->empty()) return "title must be a text.";
    m.deck.name = *t;
    return {};
}

std::string setSlideSize(Model& m, const json& v) {
    const auto s = numbers(v, 2);
    if (!s || (*s)[0] < minSlideSide || (*s)[0] > maxSlideSide || (*s)[1] < minSlideSide || (*s)[1] > maxSlideSide) {
        return "slideSize must be W,H in points, each from 72 to 4032.";
    }
    m.deck.slideW = (*s)[0];
    m.deck.slideH = (*s)[1];
    return {};
}

std::string setSlides(Model& m, const json& v) {
    const json list = v.is_string() && !number(v) ? structured(v) : v;
    if (list.is_array()) {
        if (auto e = readSlides(list, m.deck); !e.empty()) return "slides: " + e;
        return {};
    }
    const auto count = integer(v);
    if (!count || *count < 1 || *count > static_cast<std::int64_t>(maxSlides)) {
        return "slides must be a count from 1 to 1000 or a list of slides.";
    }
    while (m.deck.slides.size() < static_cast<std::size_t>(*count)) m.addSlide();
    m.deck.slides.resize(static_cast<std::size_t>(*count));
    m.deck.current = std::min(m.deck.current, m.deck.slides.size() - 1);
    return {};
}

std::string setNextSlideId(Model& m, const json& v) {
    const auto id = integer(v);
    std::int64_t highest = 0;
    for (const auto& s : m.deck.slides) highest = std::max(highest, s.id);
    if (!id || *id <= highest) return "nextSlideId must be above every slide's identifier.";
    m.deck.nextSlideId = *id;
    return {};
}

std::string setSlide(Model& m, const json& v) {
    const auto n = integer(v);
    if (!n || *n < 1 || *n > static_cast<std::int64_t>(m.deck.slides.size())) {
        return "slide must be a slide number from 1 to " + std::to_string(m.deck.slides.size()) + ".";
    }
    m.deck.current = static_cast<std::size_t>(*n - 1);
    return {};
}

std::string setFit(Model& m, const json& v) {
    const auto on = flag(v);
    if (!on) return "fit must be true or false.";
    // Leaving Fit keeps the zoom it showed, as the program does.
    if (!*on && m.window.fit) m.window.zoom = std::round(m.effectiveZoom());
    m.window.fit = *on;
    return {};
}

std::string setZoom(Model& m, const json& v) {
    const auto z = number(v);
    if (!z || *z < minZoom || *z > maxZoom) return "zoom must be a percentage from 10 to 400.";
    m.window.zoom = std::round(*z);
    m.window.fit = false;
    return {};
}

std::string setScroll(Model& m, const json& v) {
    const auto s = numbers(v, 2);
    if (!s || (*s)[0] < 0 || (*s)[0] > 1 || (*s)[1] < 0 || (*s)[1] > 1) {
        return "scroll must be H,V, the scroll bars' values from 0 to 1.";
    }
    m.window.scroll = {(*s)[0], (*s)[1]};
    return {};
}

std::string setTheme(Model& m, const json& v) {
    std::vector<std::string> texts;
    if (v.is_array()) {
        for (const auto& e : v) texts.push_back(e.is_string() ? e.get<std::string>() : "");
    } else if (v.is_string()) {
        const std::string s = v.get<std::string>();
        for (std::size_t from = 0;;) {
            const auto comma = s.find(',', from);
            texts.push_back(trim(s.substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    Theme theme{};
    if (texts.size() != theme.size()) return "theme must be 12 colours #RRGGBB.";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto c = parseHexColour(texts[i]);
        if (!c) return "theme must be 12 colours #RRGGBB.";
        theme[i] = *c;
    }
    m.theme = theme;
    return {};
}

Setter addinText(std::string Addin::*field, bool mayBeEmpty) {
    return [field, mayBeEmpty](Model& m, const json& v) -> std::string {
        const auto t = text(v);
        if (!t || (!mayBeEmpty && t->empty())) return "the add-in's values are texts; its name is not empty.";
        m.addin.*field = *t;
        return {};
    };
}

Setter addinFlag(bool Addin::*field) {
    return [field](Model& m, const json& v) -> std::string {
        const auto on = flag(v);
        if (!on) return "addin.loaded, addin.loadable and addin.arrowheads are true or false.";
        m.addin.*field = *on;
        return {};
    };
}

std::optional<Delay> delayFrom(const json& v) {
    if (v == "never") return Delay{0, true};
    const auto s = number(v);
    if (!s || *s < 0) return std::nullopt;
    return Delay{*s, false};
}

std::string setDelay(Model& m, const json& v) {
    const auto d = delayFrom(v);
    if (!d) return "delay must be seconds (0 or more) or never.";
    m.delay = *d;
    return {};
}

// ---- the accessibility interface ----

const std::vector<std::pair<EditorShown, std::string>> editorNames = {
    {EditorShown::labelled, "labelled"}, {EditorShown::unlabelled, "unlabelled"}, {EditorShown::none, "none"}};

std::string editorName(EditorShown e) {
    for (const auto& [shown, name] : editorNames) {
        if (shown == e) return name;
    }
    return {};
}

std::string setAXTrusted(Model& m, const json& v) {
    const auto on = flag(v);
    if (!on) return "ax.trusted must be true or false.";
    m.ax.trusted = *on;
    return {};
}

std::string setAXDelay(Model& m, const json& v) {
    const auto d = delayFrom(v);
    if (!d) return "ax.delay must be seconds (0 or more) or never.";
    m.ax.delay = *d;
    return {};
}

std::string setAXDepth(Model& m, const json& v) {
    const auto d = integer(v);
    if (!d || *d < minAXDepth || *d > maxAXDepth) {
        return "ax.depth must be a whole number from " + std::to_string(minAXDepth) + " to " +
               std::to_string(maxAXDepth) + ".";
    }
    m.ax.depth = static_cast<int>(*d);
    return {};
}

std::string setAXEditor(Model& m, const json& v) {
    for (const auto& [shown, name] : editorNames) {
        if (v == name) return m.ax.editor = shown, std::string();
    }
    return "ax.editor must be labelled, unlabelled or none.";
}

std::string setAXRebuild(Model& m, const json& v) {
    const auto on = flag(v);
    if (!on) return "ax.rebuild must be true or false.";
    if (*on) ++m.ax.generation;
    return {};
}

std::string setAutomation(Model& m, const json& v) {
    if (v == "denied" || v == "allowed") return m.automationDenied = v == "denied", std::string();
    const auto allowed = flag(v);
    if (!allowed) return "automation must be allowed or denied.";
    m.automationDenied = !*allowed;
    return {};
}

std::string setUnits(Model& m, const json& v) {
    if (v == "points") return m.units = Units::points, std::string();
    if (v == "pixels") return m.units = Units::pixels, std::string();
    return "units must be points or pixels.";
}

Setter textList(std::vector<std::string> Model::*field) {
    return [field](Model& m, const json& v) -> std::string {
        std::vector<std::string> list;
        for (const auto& e : v.is_array() ? v : json::array({nullptr})) {
            if (!e.is_string()) return "opened and urls are lists of texts.";
            list.push_back(e.get<std::string>());
        }
        m.*field = std::move(list);
        return {};
    };
}

std::string setLink(Model& m, const std::string& id, const json& v) {
    const auto t = text(v);
    if (!t || (*t != "opened" && *t != "soon" && !t->starts_with("soon|"))) {
        return "a link answers opened, soon, or soon|a note.";
    }
    m.links[id] = *t;
    return {};
}

// In the order they apply: what a later key checks against comes first (the slides before
// the current slide, Fit before the zoom that turns it off).
const std::vector<std::pair<std::string, Setter>>& setters() {
    static const std::vector<std::pair<std::string, Setter>> table = {
        {"running", setRunning},
        {"front", setFront},
        {"screens", setScreens},
        {"pointer", setPointer},
        {"window", setWindow},
        {"split", setSplit},
        {"palette", setPalette},
        {"second", setSecond},
        {"focus", setFocus},
        {"title", setTitle},
        {"slideSize", setSlideSize},
        {"slides", setSlides},
        {"nextSlideId", setNextSlideId},
        {"slide", setSlide},
        {"fit", setFit},
        {"zoom", setZoom},
        {"scroll", setScroll},
        {"view", setView},
        {"theme", setTheme},
        {"addin.name", addinText(&Addin::name, false)},
        {"addin.prefix", addinText(&Addin::prefix, true)},
        {"addin.version", addinText(&Addin::version, true)},
        {"addin.reloadVersion", addinText(&Addin::reloadVersion, true)},
        {"addin.loaded", addinFlag(&Addin::loaded)},
        {"addin.loadable", addinFlag(&Addin::loadable)},
        {"addin.arrowheads", addinFlag(&Addin::arrowheads)},
        {"delay", setDelay},
        {"ax.trusted", setAXTrusted},
        {"ax.delay", setAXDelay},
        {"ax.depth", setAXDepth},
        {"ax.editor", setAXEditor},
        {"ax.rebuild", setAXRebuild},
        {"automation", setAutomation},
        {"units", setUnits},
        {"opened", textList(&Model::opened)},
        {"urls", textList(&Model::urls)},
    };
    return table;
}

const std::set<std::string> readOnly = {"pid",        "apps",        "layout",       "geometry", "other",
                                        "ax.prompts", "ax.searches", "ax.generation"};

// "addin": {"version": ...} is "addin.version", and so for "link" and "ax".
json flatten(const json& values) {
    json flat = json::object();
    for (const auto& [key, value] : values.items()) {
        if ((key == "addin" || key == "link" || key == "ax") && value.is_object()) {
            for (const auto& [member, v] : value.items()) flat[key + "." + member] = v;
        } else {
            flat[key] = value;
        }
    }
    return flat;
}
} // namespace

json stateJson(const Model& m) {
    const Layout l = m.layout();
    json apps = json::array({{{"bundle", programBundle}, {"pid", m.pid}}});
    for (const auto& a : m.others) apps.push_back({{"bundle", a.bundle}, {"pid", a.pid}});
    json screens = json::array();
    for (const auto& s : m.screens) {
        screens.push_back({{"frame", rectJson(s.frame)}, {"visible", rectJson(s.visible)}, {"scale", s.scale}});
    }
    const auto slidesJson = [](const Presentation& p) {
        json slides = json::array();
        for (const auto& s : p.slides) {
            json shapes = json::array();
            for (const auto& shape : s.shapes) shapes.push_back(shapeJson(shape));
            slides.push_back({{"id", s.id}, {"nextShapeId", s.nextShapeId}, {"shapes", shapes}});
        }
        return slides;
    };
    const json slides = slidesJson(m.deck);
    std::string focus;
    for (const auto& [f, name] : focusNames) {
        if (f == m.focus) focus = name;
    }
    json theme = json::array();
    for (auto c : m.theme) theme.push_back(hexColour(c));
    return {
        {"running", m.running},
        {"pid", m.pid},
        {"front", m.front.bundle},
        {"apps", apps},
        {"screens", screens},
        {"pointer", json::array({m.pointer.x, m.pointer.y})},
        {"window", rectJson(m.window.frame)},
        {"zoom", m.window.zoom},
        {"fit", m.window.fit},
        {"scroll", json::array({m.window.scroll.x, m.window.scroll.y})},
        {"split", m.window.split},
        {"palette", m.window.palette},
        {"view", viewName(m.window.view)},
        {"focus", focus},
        {"second", m.second == Second::none ? "none" : m.second == Second::behind ? "behind" : "front"},
        {"other", m.other ? json{{"title", m.other->name}, {"slides", slidesJson(*m.other)}} : json()},
        {"title", m.deck.name},
        {"slideSize", json::array({m.deck.slideW, m.deck.slideH})},
        {"slides", slides},
        {"nextSlideId", m.deck.nextSlideId},
        {"slide", m.deck.current + 1},
        {"theme", theme},
        {"addin",
         {{"name", m.addin.name},
          {"prefix", m.addin.prefix},
          {"loaded", m.addin.loaded},
          {"version", m.addin.version},
          {"reloadVersion", m.addin.reloadVersion},
          {"loadable", m.addin.loadable},
          {"arrowheads", m.addin.arrowheads}}},
        {"delay", m.delay.never ? json("never") : json(m.delay.seconds)},
        {"automation", m.automationDenied ? "denied" : "allowed"},
        {"ax",
         {{"trusted", m.ax.trusted},
          {"delay", m.ax.delay.never ? json("never") : json(m.ax.delay.seconds)},
          {"depth", m.ax.depth},
          {"editor", editorName(m.ax.editor)},
          {"prompts", m.ax.prompts},
          {"searches", m.ax.searches},
          {"generation", m.ax.generation}}},
        {"units", m.units == Units::pixels ? "pixels" : "points"},
        {"link", m.links},
        {"opened", m.opened},
        {"urls", m.urls},
        {"layout",
         {{"window", rectJson(l.window)},
          {"ribbon", rectJson(l.ribbon)},
          {"thumbnails", rectJson(l.thumbnails)},
          {"pane", rectJson(l.pane)},
          {"document", rectJson(l.document)},
          {"slide", rectJson(l.slide)},
          {"notes", rectJson(l.notes)},
          {"status", rectJson(l.status)},
          {"verticalBar", rectJson(l.verticalBar)},
          {"horizontalBar", rectJson(l.horizontalBar)},
          {"zoom", l.scale * 100}}},
        {"geometry", geometryAnswer(m)},
    };
}

std::string applyValues(Model& model, const json& values) {
    if (!values.is_object()) return "The values must be a JSON object of KEY: VALUE.";
    const json flat = flatten(values);
    for (const auto& [key, value] : flat.items()) {
        const bool known = key.starts_with("link.") ||
                           std::any_of(setters().begin(), setters().end(), [&](const auto& s) { return s.first == key; });
        if (readOnly.count(key)) return "\"" + key + "\" cannot be set.";
        if (!known) return "Unknown key \"" + key + "\".";
    }
    Model changed = model;
    for (const auto& [key, setter] : setters()) {
        if (!flat.contains(key)) continue;
        if (auto e = setter(changed, flat[key]); !e.empty()) return "Not changed: " + e;
    }
    for (const auto& [key, value] : flat.items()) {
        if (!key.starts_with("link.")) continue;
        if (auto e = setLink(changed, key.substr(5), value); !e.empty()) return "Not changed: " + e;
    }
    model = std::move(changed);
    return {};
}

std::string loadState(Model& model, const json& state) {
    if (!state.is_object()) return "A state must be a JSON object.";
    json values = flatten(state);
    for (const auto& key : readOnly) values.erase(key);
    // A saved state brings its own links; the ones it does not name are gone.
    Model base = model;
    if (state.contains("link")) base.links.clear();
    if (auto e = applyValues(base, values); !e.empty()) return e;
    // Loading places the window where the state says before anyone holds its elements, so
    // it does not count as making them anew.
    base.ax.generation = model.ax.generation;
    model = std::move(base);
    return {};
}

} // namespace scribbet::standin
