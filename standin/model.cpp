#include "model.hpp"

#include <cmath>

namespace scribbet::standin {

Model Model::standard(const std::string& addinVersion, int programPid) {
    Model m;
    m.screens = {
        {{0, 0, 1512, 982}, {0, 38, 1512, 944}, 2},
        {{1512, 0, 1920, 1080}, {1512, 25, 1920, 1055}, 1},
    };
    m.pointer = {700, 500};
    m.pid = programPid;
    m.others = {{"com.apple.finder", 301}, {"com.apple.Terminal", 302}};
    m.front = m.program();
    m.window.frame = {80, 60, 1280, 820};
    m.deck = newPresentation("Presentation1");
    m.addin.version = addinVersion;
    m.addin.reloadVersion = addinVersion;
    m.links = {{"upgrade", "opened"}, {"support", "soon|The support page opens in your browser in a moment."}};
    return m;
}

void Model::addSlide() {
    Slide s;
    s.id = deck.nextSlideId++;
    deck.slides.push_back(std::move(s));
}

Presentation newPresentation(const std::string& name) {
    Presentation p;
    p.name = name;
    for (int i = 0; i < 3; ++i) p.slides.push_back(Slide{p.nextSlideId++, {}, 2});
    return p;
}

std::string presentationKey(const Presentation& p) {
    std::string out;
    for (const char c : p.name) {
        switch (c) {
        case '%': out += "%25"; break;
        case '|': out += "%7C"; break;
        case '\t': out += "%09"; break;
        case '\r': out += "%0D"; break;
        case '\n': out += "%0A"; break;
        default: out += c;
        }
    }
    return out;
}

Presentation* Model::presentationByKey(const std::string& key, bool& ambiguous) {
    Presentation* found = nullptr;
    ambiguous = false;
    for (Presentation* p : {&deck, other ? &*other : nullptr}) {
        if (!p || presentationKey(*p) != key) continue;
        if (found) ambiguous = true;
        found = p;
    }
    return found;
}

Slide* Model::slideById(std::int64_t id) {
    for (auto& s : deck.slides) {
        if (s.id == id) return &s;
    }
    return nullptr;
}

const Screen& Model::screenOf(const Rect& r) const {
    static const Screen none{{0, 0, 1440, 900}, {0, 25, 1440, 875}, 1};
    if (screens.empty()) return none;
    const Screen* best = &screens.front();
    double most = 0;
    for (const auto& s : screens) {
        if (const double a = s.frame.overlap(r); a > most) most = a, best = &s;
    }
    return *best;
}

namespace {
// At Fit the slide and its margins fill the pane along the tighter axis.
double fitScale(const Rect& pane, double slideW, double slideH) {
    const double s = std::min((pane.w - 2 * documentMargin) / slideW, (pane.h - 2 * documentMargin) / slideH);
    return std::clamp(s, minZoom / 100, maxZoom / 100);
}

// The document's leading edge along one axis for a scroll bar value.
double documentStart(double paneStart, double paneLength, double docLength, double value) {
    return paneStart - std::clamp(value, 0.0, 1.0) * (docLength - paneLength);
}
} // namespace

Layout Model::layout() const {
    Layout l;
    const Rect& f = window.frame;
    l.window = f;
    l.ribbon = {f.x, f.y, f.w, std::min(ribbonHeight, f.h)};
    const double stack = std::max(0.0, f.h - ribbonHeight - statusHeight);
    const double editorHeight = stack * std::clamp(window.split, 10.0, 100.0) / 100;
    const double left = std::min(thumbnailWidth, f.w);
    l.thumbnails = {f.x, l.ribbon.bottom(), left, stack};
    l.pane = {f.x + left, l.ribbon.bottom(), f.w - left, editorHeight};
    l.notes = {l.pane.x, l.pane.bottom(), l.pane.w, stack - editorHeight};
    l.status = {f.x, l.ribbon.bottom() + stack, f.w, f.bottom() - (l.ribbon.bottom() + stack)};

    l.scale = window.fit ? fitScale(l.pane, deck.slideW, deck.slideH) : window.zoom / 100;
    const double slideW = deck.slideW * l.scale;
    const double slideH = deck.slideH * l.scale;
    const double docW = std::max(slideW + 2 * documentMargin, l.pane.w);
    const double docH = std::max(slideH + 2 * documentMargin, l.pane.h);
    l.document = {documentStart(l.pane.x, l.pane.w, docW, window.scroll.x),
                  documentStart(l.pane.y, l.pane.h, docH, window.scroll.y), docW, docH};
    l.slide = {l.document.midX() - slideW / 2, l.document.midY() - slideH / 2, slideW, slideH};

    const double bar = std::min(scrollBarWidth, std::min(l.pane.w, l.pane.h));
    l.verticalBar = {l.pane.right() - bar, l.pane.y, bar, l.pane.h - bar};
    l.horizontalBar = {l.pane.x, l.pane.bottom() - bar, l.pane.w - bar, bar};
    return l;
}

} // namespace scribbet::standin
