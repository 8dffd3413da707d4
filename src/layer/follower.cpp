// Keeping the layer on the slide: read the pane when Accessibility allows it, else ask the
// add-in when something suggests the view changed. Every answer comes back to the main queue
// through the session that asked, so an answer for a layer that closed meanwhile is dropped.
#include "layer/follower.hpp"

#include <cmath>
#include <cstring>

#include "base/text.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "layer/page_protocol.hpp"
#include "layer/panel_place.hpp"
#include "layer/session.hpp"
#include "log/app_state.hpp"
#include "runtime/weak.hpp"
#include "app/host.hpp"

namespace scribbet {

namespace {
const char* zoomNote =
    "PowerPoint is zoomed past Fit: without Accessibility the layer cannot follow a scrolled slide. Set PowerPoint "
    "to Fit again (View > Fit to Window), or allow Scribbet in System Settings > Privacy & Security > Accessibility.";

bool differentScale(double a, double b) { return b != 0 && std::abs(a / b - 1) > Overlay::sameScale; }

double cut2(double v) { return std::trunc(v * 100) / 100; }

std::optional<Rect> paneRect(const Session& s, const PPT& ppt) {
    if (s.host) return s.pane ? std::optional<Rect>(s.pane->visible()) : std::nullopt;
    return s.geom ? s.geom->paneGuess(ppt) : std::nullopt;
}
} // namespace

Follower::Follower(Overlay& layer) : layer_(layer), lastTrustCheck_(now()), lastMeasure_(now()) {}

Instant Follower::now() const { return layer_.now(); }

void Follower::tick(Session& s) {
    const Instant t = now();
    if (s.host) {
        follow(s);
        if (!s.remeasureAt && t - lastMeasure_ > Overlay::measureEvery) s.remeasureAt = t;
    } else {
        watchWindow(s);
        upgrade(s);
    }
    if (s.remeasureAt && now() >= *s.remeasureAt) {
        s.remeasureAt.reset();
        remeasure(s);
    }
}

void Follower::follow(Session& s) {
    if (s.axBusy || !s.geom) return;
    s.axBusy = true;
    const std::optional<Rect> hint = s.pane ? std::optional<Rect>(s.pane->window) : s.geom->window;
    PaneReader& r = layer_.ports_.reader;
    postAndReply(
        r.queue(), [hint, &r] { return r.read(hint); }, layer_.ports_.main,
        weakly(s.weak.weak(), [this](Session& s, std::optional<PaneState> result) {
            s.axBusy = false;
            if (s.suspended()) return; // read before a placing began: the view may be the placing's now
            result ? update(s, std::move(*result)) : lost(s);
        }));
}

// Runs on every tick in pane mode, mostly with nothing changed: the geometry is lined up in
// place and the screen looked up only when the pane left the layer's screen.
void Follower::update(Session& s, PaneState next) {
    if (!s.geom) return;
    std::optional<double> rescaled;
    if (s.pane) {
        const PaneState& old = *s.pane;
        if (old.label != next.label && !next.label.empty()) s.remeasureAt = now();
        const bool resized = old.pane.w != next.pane.w || old.pane.h != next.pane.h ||
                             old.content.w != next.content.w || old.content.h != next.content.h;
        if (resized) {
            const auto scale = next.scaleFromContent(s.geom->slideW, s.geom->slideH);
            if (scale && differentScale(*scale, s.geom->scale())) rescaled = scale;
            s.remeasureAt = now() + Overlay::afterPaneResize;
        }
    }
    s.pane = std::move(next);
    s.geom->lineUp(*s.pane, rescaled);
    panel_place::moveToScreenOf(s, s.pane->visible(), layer_.ports_.screens);
    layer_.channel_.push(s);
}

void Follower::lost(Session& s) {
    if (layer_.ports_.ax.trusted()) return;
    s.host = false;
    s.pane.reset();
    log("Accessibility is no longer allowed - the layer is measured by the add-in from now on.");
    layer_.channel_.tell(s, page_protocol::hostCommand(false));
    s.remeasureAt = now();
}

// The work owns nothing of the layer's: a layer closed or released meanwhile is not kept
// alive by the question, and its answer is dropped.
void Follower::remeasure(Session& s) {
    if (s.measuring) return;
    s.measuring = true;
    postAndReply(
        layer_.ports_.measureQueue, [&ppt = layer_.ports_.ppt] { return ppt.attempt("SCBT_Where", {}, Overlay::whereTimeout); },
        layer_.ports_.main, weakly(s.weak.weak(), [this](Session& s, const PPT::Attempt& a) {
            s.measuring = false;
            if (s.suspended()) return; // measured once back
            std::optional<Geom> m;
            if (a.reply.hasFields()) m = Geom::from(a.reply.fields(), layer_.ports_.screens, layer_.ports_.ppt);
            m ? measured(s, *m) : measureFailed(s, a);
        }));
}

// A failed measurement counts as one all the same, so pane mode asks again a second later
// rather than on every tick; and a failure that repeats is logged once, until it changes or
// a measurement has worked in between.
void Follower::measureFailed(Session& s, const PPT::Attempt& a) {
    lastMeasure_ = now();
    if (a.failure.empty() || a.failure == s.lastFailure) return;
    s.lastFailure = a.failure;
    log(a.failure);
}

void Follower::measured(Session& s, const Geom& m) {
    lastMeasure_ = now();
    s.lastFailure.clear();
    if (!s.geom || m.slideW <= 0) return;
    if (s.host && differentScale(m.scale(), s.geom->scale())) {
        PaneReader& r = layer_.ports_.reader;
        r.queue().async([&r] { r.refresh(); });
    }
    Geom merged = *s.geom;
    merged.slideW = m.slideW;
    merged.slideH = m.slideH;
    merged.zoom = m.zoom;
    merged.split = m.split;
    if (m.fit) merged.fit = m.fit;
    if (m.window) merged.window = m.window;
    if (m.slideID != 0) merged.slideID = m.slideID;
    // merged.presentation stays the one the layer opened over: its drawing belongs there,
    // even when a later answer comes from another presentation's window.
    if (!m.presentation.empty()) s.shownPresentation = m.presentation;
    if (s.host && s.pane) {
        const Geom lined = merged.lined(*s.pane, m.scale());
        merged.rect = lined.rect;
        merged.note = lined.note;
    } else {
        merged.rect = m.rect;
        merged.note = m.note;
    }
    s.geom = merged;
    noteSlide(s);
    if (!s.host) {
        const bool c = s.geom->canScroll(layer_.ports_.ppt);
        if (c != s.zoomNoted) {
            s.zoomNoted = c;
            if (c) layer_.channel_.tell(s, page_protocol::noteCommand(Host::current().say(zoomNote)));
        }
    }
    layer_.channel_.push(s);
}

// Whether the program shows the drawing's own slide, said once each way. Identifiers repeat
// from one presentation to the next, so slide 256 of another presentation is another slide too.
void Follower::noteSlide(Session& s) {
    if (s.layerSlide == 0) return;
    const bool otherPresentation = !s.shownPresentation.empty() && !s.geom->presentation.empty() &&
                                   s.shownPresentation != s.geom->presentation;
    const bool other = (s.geom->slideID != 0 && s.geom->slideID != s.layerSlide) || otherPresentation;
    if (other == s.otherSlide) return;
    s.otherSlide = other;
    layer_.channel_.tell(s, page_protocol::slideCommand(other));
    log(other ? Host::current().say("PowerPoint shows another slide now - Place puts the drawing back on its own slide.")
              : "Back on the drawing's slide.");
}

void Follower::realign(Session& s, const std::string& answer) {
    if (s.suspended()) {
        s.remeasureAt = now(); // the layer measures afresh once it is back
        return;
    }
    if (const auto g = Geom::from(answer, layer_.ports_.screens, layer_.ports_.ppt)) {
        measured(s, *g);
        s.remeasureAt = now() + Overlay::afterRealign;
    } else {
        s.remeasureAt = now();
    }
}

void Follower::watchWindow(Session& s) {
    const Instant t = now();
    if (s.lastWinCheck && t - *s.lastWinCheck <= Overlay::windowCheckEvery) return;
    s.lastWinCheck = t;
    const auto w = layer_.ports_.ppt.windowBounds();
    if (w == s.lastWin) return;
    s.lastWin = w;
    s.remeasureAt = t + Overlay::afterWindowChange;
}

void Follower::upgrade(Session& s) {
    if (s.axBusy) return;
    const Instant t = now();
    if (t - lastTrustCheck_ <= Overlay::trustCheckEvery) return;
    lastTrustCheck_ = t;
    if (!layer_.ports_.ax.trusted() || !s.geom) return;
    s.axBusy = true;
    const std::optional<Rect> hint = s.geom->window;
    PaneReader& r = layer_.ports_.reader;
    postAndReply(
        r.queue(), [hint, &r] { return r.read(hint); }, layer_.ports_.main,
        weakly(s.weak.weak(), [this](Session& s, const std::optional<PaneState>& found) {
            s.axBusy = false;
            if (!s.host && found && s.geom && !s.suspended()) upgraded(s, *found);
        }));
}

void Follower::upgraded(Session& s, const PaneState& found) {
    s.host = true;
    s.pane = found;
    s.geom = s.geom->lined(found);
    log(Host::current().say("Accessibility allowed - the layer follows PowerPoint's view now."));
    layer_.channel_.tell(s, page_protocol::hostCommand(true));
    layer_.channel_.tell(
        s, page_protocol::noteCommand(
               Host::current().say("Accessibility is on: the layer now follows PowerPoint's zoom and scrolling.")));
    s.sentGeom.clear();
    layer_.channel_.push(s);
}

void Follower::mouseElsewhere(Session& s) {
    if (s.host || !layer_.ports_.workspace) return;
    const auto front = layer_.ports_.workspace->frontApplication();
    if (front && front->bundleId && text::lowercased(*front->bundleId) == text::lowercased(Host::current().programId)) {
        s.remeasureAt = now() + Overlay::afterWindowChange;
    }
}

GeomFigures Follower::figures(const Session& s, const PPT& ppt) {
    GeomFigures f;
    const Rect r = panel_place::toLayer(s.origin, s.geom->rect);
    f.n = {cut2(r.minX()), cut2(r.minY()), cut2(r.width()), cut2(r.height()), std::trunc(s.geom->scale() * 1000) / 10};
    f.host = s.host;
    f.fit = s.geom->fit == true;
    if (const auto p = paneRect(s, ppt)) {
        const Rect l = panel_place::toLayer(s.origin, *p);
        f.hasPane = true;
        f.pane = {cut2(l.x), cut2(l.y), cut2(l.w), cut2(l.h)};
    }
    return f;
}

// The same bits write the same text; different bits rarely do (two NaNs), and then the
// text is compared as well.
bool GeomFigures::same(const GeomFigures& o) const {
    return host == o.host && fit == o.fit && hasPane == o.hasPane && std::memcmp(n.data(), o.n.data(), sizeof n) == 0 &&
           (!hasPane || std::memcmp(pane.data(), o.pane.data(), sizeof pane) == 0);
}

std::optional<std::string> Follower::geomText(const GeomFigures& f) {
    page_protocol::Geom g{f.n[0], f.n[1], f.n[2], f.n[3], f.host, f.n[4], f.fit, std::nullopt};
    if (f.hasPane) g.pane = f.pane;
    return PageChannel::serialized(page_protocol::geomCommand(g)); // nlohmann keeps object keys sorted
}

} // namespace scribbet
