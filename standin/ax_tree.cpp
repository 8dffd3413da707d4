#include "ax_tree.hpp"

#include <algorithm>
#include <cmath>

namespace scribbet::standin {

using nlohmann::json;

namespace {
constexpr double thumbnailPitch = 124; // one thumbnail and the gap below it
constexpr double sorterPitch = 220;    // one slide of the sorter's grid and the gap after it

AXNode node(std::string id, const char* role, std::optional<Rect> frame = std::nullopt) {
    AXNode n;
    n.id = std::move(id);
    n.role = role;
    n.frame = frame;
    return n;
}

// The reference stays good until the next child is added to the same parent.
AXNode& add(AXNode& parent, const std::string& name, const char* role, std::optional<Rect> frame = std::nullopt) {
    parent.children.push_back(node(parent.id + "/" + name, role, frame));
    return parent.children.back();
}

Rect belowTitleBar(const Rect& r) {
    const double bar = std::min(titleBarHeight, r.h);
    return {r.x, r.y + bar, r.w, r.h - bar};
}

// A scroll area that holds a described layout area: a candidate the reader must pass over.
void decoy(AXNode& parent, const std::string& name, const Rect& frame, const Rect& content, const char* what) {
    AXNode& area = add(parent, name, "AXScrollArea", frame);
    add(area, "content", "AXLayoutArea", content).description = what;
}

void ribbon(AXNode& parent, const Layout& l) {
    const Rect band = belowTitleBar(l.ribbon);
    decoy(add(parent, "ribbon", "AXGroup", band), "tools", band, band, "Ribbon");
}

void thumbnails(AXNode& parent, const Model& m, const Layout& l) {
    const Rect& t = l.thumbnails;
    const double all = 20 + thumbnailPitch * static_cast<double>(m.deck.slides.size());
    decoy(add(parent, "thumbs", "AXGroup", t), "list", t, {t.x, t.y, t.w, std::max(t.h, all)}, "Slide Thumbnails");
}

void slideEditor(AXNode& split, const Model& m, const Layout& l) {
    AXNode& editor = add(split, "editor", "AXScrollArea", l.pane);
    AXNode& doc = add(editor, "doc", "AXLayoutArea", l.document);
    if (m.ax.editor == EditorShown::labelled) {
        doc.description = "Slide Editor Slide " + std::to_string(m.deck.current + 1);
    }
    AXNode& h = add(editor, "bar-h", "AXScrollBar", l.horizontalBar);
    h.bar = AXNode::Bar::horizontal;
    h.value = m.window.scroll.x;
    AXNode& v = add(editor, "bar-v", "AXScrollBar", l.verticalBar);
    v.bar = AXNode::Bar::vertical;
    v.value = m.window.scroll.y;
}

void editorAndNotes(AXNode& parent, const Model& m, const Layout& l) {
    const Rect both{l.pane.x, l.pane.y, l.pane.w, l.pane.h + l.notes.h};
    AXNode& split = add(parent, "split", "AXSplitGroup", both);
    if (m.ax.editor != EditorShown::none) slideEditor(split, m, l);
    if (l.notes.h > 0) add(add(split, "notes", "AXScrollArea", l.notes), "text", "AXTextArea", l.notes).description = "Notes";
}

// The slide sorter fills the space between the ribbon and the status bar with a grid of
// all the slides: a scroll area like the others, but no slide editor anywhere.
void sorter(AXNode& parent, const Model& m, const Layout& l) {
    const Rect area{l.thumbnails.x, l.thumbnails.y, l.window.w, l.thumbnails.h};
    const double perRow = std::max(1.0, std::floor(area.w / sorterPitch));
    const double rows = std::ceil(static_cast<double>(m.deck.slides.size()) / perRow);
    const Rect grid{area.x, area.y, area.w, std::max(area.h, 20 + rows * sorterPitch)};
    decoy(add(parent, "sorter", "AXGroup", area), "grid", area, grid, "Slide Sorter");
}

void statusBar(AXNode& parent, const Model& m, const Layout& l) {
    AXNode& text = add(add(parent, "status", "AXGroup", l.status), "text", "AXStaticText", l.status);
    text.value = m.window.view == View::sorter
                     ? "Slide Sorter"
                     : "Slide " + std::to_string(m.deck.current + 1) + " of " + std::to_string(m.deck.slides.size());
}

// Toolkit views nest: a window's parts sit a few plain groups down, so that every scroll
// area of every window lies `depth` levels below its window.
AXNode& nested(AXNode& win, const Model& m, const Rect& frame) {
    AXNode* at = &win;
    for (int i = 0; i < m.ax.depth - minAXDepth; ++i) at = &add(*at, "g", "AXGroup", frame);
    return *at;
}

AXNode documentWindow(const Model& m, const Layout& l) {
    AXNode win = node("win" + std::to_string(m.ax.generation), "AXWindow", l.window);
    win.title = m.deck.name;
    AXNode& at = nested(win, m, belowTitleBar(l.window));
    ribbon(at, l);
    if (m.window.view == View::sorter) {
        sorter(at, m, l);
    } else {
        thumbnails(at, m, l);
        editorAndNotes(at, m, l);
    }
    statusBar(at, m, l);
    return win;
}

AXNode palette(const Model& m) {
    const Rect p = m.paletteFrame();
    const Rect panes = belowTitleBar(p);
    AXNode win = node("palette" + std::to_string(m.ax.generation), "AXWindow", p);
    win.title = "Format Shape";
    add(win, "close", "AXButton", Rect{p.x + 8, p.y + 8, 12, 12}).description = "close button";
    AXNode& format = add(nested(win, m, panes), "format", "AXGroup", panes);
    decoy(format, "panes", panes, {panes.x, panes.y, panes.w, 360}, "Format Shape");
    return win;
}

struct Found {
    const AXNode* node = nullptr;
    const AXNode* parent = nullptr;
};

// Ids are paths, so only the branch whose id begins the wanted one is walked.
Found find(const AXNode& at, const std::string& id, const AXNode* parent = nullptr) {
    if (at.id == id) return {&at, parent};
    for (const auto& child : at.children) {
        if (id == child.id || id.starts_with(child.id + "/")) return find(child, id, &at);
    }
    return {};
}

json point(double x, double y) { return {{"point", json::array({x, y})}}; }
json size(double w, double h) { return {{"size", json::array({w, h})}}; }
json element(const AXNode& n) { return {{"element", n.id}}; }

json elements(const std::vector<AXNode>& nodes) {
    json ids = json::array();
    for (const auto& n : nodes) ids.push_back(n.id);
    return {{"elements", ids}};
}

const AXNode* childWithBar(const AXNode& n, AXNode::Bar bar) {
    for (const auto& c : n.children) {
        if (c.bar == bar) return &c;
    }
    return nullptr;
}

// The application's own attributes: its windows, the document window focused.
json appAttribute(const AXNode& app, const std::string& name) {
    if (name == "AXWindows") return elements(app.children);
    if (name == "AXFocusedWindow" || name == "AXMainWindow") {
        for (const auto& w : app.children) {
            if (w.id.starts_with("win")) return element(w);
        }
    }
    return nullptr;
}

json barAttribute(const AXNode& bar, const std::string& name) {
    if (name == "AXOrientation") {
        return bar.bar == AXNode::Bar::horizontal ? "AXHorizontalOrientation" : "AXVerticalOrientation";
    }
    if (name == "AXMinValue") return 0.0;
    if (name == "AXMaxValue") return 1.0;
    return nullptr;
}

// The attribute's value in the wire's encoding; null when the element has no such attribute.
json attributeOf(const AXNode& n, const AXNode* parent, const std::string& name) {
    if (name == "AXRole") return n.role;
    if (name == "AXChildren") return elements(n.children);
    if (name == "AXParent") return parent ? element(*parent) : json();
    if (name == "AXPosition" && n.frame) return point(n.frame->x, n.frame->y);
    if (name == "AXSize" && n.frame) return size(n.frame->w, n.frame->h);
    if (name == "AXTitle" && n.title) return *n.title;
    if (name == "AXDescription" && n.description) return *n.description;
    if (name == "AXValue") return n.value;
    if (n.id == axAppId) return appAttribute(n, name);
    if (n.bar != AXNode::Bar::none) return barAttribute(n, name);
    if (n.role == "AXScrollArea") {
        const AXNode* bar = name == "AXHorizontalScrollBar" ? childWithBar(n, AXNode::Bar::horizontal)
                            : name == "AXVerticalScrollBar" ? childWithBar(n, AXNode::Bar::vertical)
                                                            : nullptr;
        if (bar) return element(*bar);
    }
    return nullptr;
}

json nodeJson(const AXNode& n) {
    json j = {{"id", n.id}, {"role", n.role}};
    if (n.frame) j["frame"] = json::array({n.frame->x, n.frame->y, n.frame->w, n.frame->h});
    if (n.title) j["title"] = *n.title;
    if (n.description) j["description"] = *n.description;
    if (!n.value.is_null()) j["value"] = n.value;
    if (!n.children.empty()) {
        j["children"] = json::array();
        for (const auto& c : n.children) j["children"].push_back(nodeJson(c));
    }
    return j;
}
} // namespace

std::optional<AXNode> axTree(const Model& m) {
    if (!m.running) return std::nullopt;
    const Layout l = m.layout();
    AXNode app = node(axAppId, "AXApplication");
    app.title = programName;
    // Front to back, as the system lists them: the floating palette over its document. A
    // presentation open without a window leaves the program with no windows at all.
    if (!m.hasWindow()) return app;
    if (m.window.palette) app.children.push_back(palette(m));
    app.children.push_back(documentWindow(m, l));
    return app;
}

json axAttribute(const Model& m, const std::string& id, const std::string& name) {
    const auto tree = axTree(m);
    if (!tree) return json::object();
    const Found f = find(*tree, id);
    if (!f.node) return json::object();
    json v = attributeOf(*f.node, f.parent, name);
    if (v.is_null()) return json::object();
    return {{"value", std::move(v)}};
}

bool axSetNumber(Model& m, const std::string& id, const std::string& name, double value) {
    if (name != "AXValue" || !std::isfinite(value)) return false;
    const auto tree = axTree(m);
    if (!tree) return false;
    const AXNode* bar = find(*tree, id).node;
    if (!bar || bar->bar == AXNode::Bar::none) return false;
    // The bar's value is the scroll position; the document follows through the layout.
    const double v = std::clamp(value, 0.0, 1.0);
    (bar->bar == AXNode::Bar::horizontal ? m.window.scroll.x : m.window.scroll.y) = v;
    return true;
}

json axTreeJson(const Model& m) {
    const auto tree = axTree(m);
    return tree ? nodeJson(*tree) : json();
}

} // namespace scribbet::standin
