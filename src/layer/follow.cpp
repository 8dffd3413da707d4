// Keeping the layer on the slide while the program scrolls, zooms, moves its window or
// changes slides: read the pane when Accessibility allows it, else ask the add-in when
// something suggests the view changed.
#include <cmath>

#include "app/notice.hpp"
#include "app/text.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/overlay.hpp"
#include "log/app_state.hpp"
#include "ports/screens.hpp"
#include "powerpoint/ppt.hpp"

namespace scribbet {

namespace {
const char* zoomNote =
    "PowerPoint is zoomed past Fit: without Accessibility the layer cannot follow a scrolled slide. Set PowerPoint "
    "to Fit again (View > Fit to Window), or allow Scribbet in System Settings > Privacy & Security > Accessibility.";

bool differentScale(double a, double b) { return b != 0 && std::abs(a / b - 1) > Overlay::sameScale; }
} // namespace

void Overlay::tick() {
    if (!panel_) return;
    if (!ports_.factory->canShowSeeThrough()) return seeThroughLost();
    passThrough();
    if (suspended_ || !panel_->isVisible()) return;
    const Instant t = now();
    if (host_) {
        follow();
        if (!remeasureAt_ && t - lastMeasure_ > measureEvery) remeasureAt_ = t;
    } else {
        watchWindow();
        upgrade();
    }
    if (remeasureAt_ && now() >= *remeasureAt_) {
        remeasureAt_.reset();
        remeasure();
    }
}

// Without its compositing manager the layer turns opaque and hides the program under it: it
// closes (the page keeps an unplaced drawing and offers it back next time).
void Overlay::seeThroughLost() {
    log("The screen stopped showing see-through windows - drawing layer closed.");
    Notice::show("The drawing layer closed: the screen stopped showing see-through windows, so it would hide "
                 "PowerPoint. Start a compositing manager again, then draw again.");
    close(true);
}

void Overlay::follow() {
    if (axBusy_ || !geom_) return;
    axBusy_ = true;
    const std::optional<Rect> hint = pane_ ? std::optional<Rect>(pane_->window) : geom_->window;
    PaneReader& r = reader();
    r.queue().async([weak = weak_from_this(), hint, &r] {
        auto result = r.read(hint);
        MainQueue::shared().async([weak, result = std::move(result)]() mutable {
            auto self = weak.lock();
            if (!self) return;
            self->axBusy_ = false;
            if (!self->panel_) return;
            result ? self->update(std::move(*result)) : self->lost();
        });
    });
}

// Runs on every tick in pane mode, mostly with nothing changed: the geometry is lined up in
// place and the screen looked up only when the pane left the layer's screen.
void Overlay::update(PaneState next) {
    if (!geom_) return;
    std::optional<double> rescaled;
    if (pane_) {
        const PaneState& old = *pane_;
        if (old.label != next.label && !next.label.empty()) remeasureAt_ = now();
        const bool resized = old.pane.w != next.pane.w || old.pane.h != next.pane.h ||
                             old.content.w != next.content.w || old.content.h != next.content.h;
        if (resized) {
            const auto s = next.scaleFromContent(geom_->slideW, geom_->slideH);
            if (s && differentScale(*s, geom_->scale())) rescaled = s;
            remeasureAt_ = now() + afterPaneResize;
        }
    }
    pane_ = std::move(next);
    geom_->lineUp(*pane_, rescaled);
    moveToScreenOf(pane_->visible());
    push();
}

// When the slide's pane went to another screen, the layer goes with it. The layer covers its
// screen from `origin_`, so whether the pane is still on it needs no list of screens.
void Overlay::moveToScreenOf(const Rect& probe) {
    if (!panel_) return;
    const Rect current = panel_->frame();
    const double cx = probe.midX(), cy = probe.midY();
    if (Rect{origin_.x, origin_.y, current.width(), current.height()}.containsPoint(cx, cy)) return;
    const auto screens = Screens::shared().screens();
    if (screens.empty()) return;
    const double H = screens.front().frame.maxY();
    const double x = cx, y = H - cy;
    if (current.containsPoint(x, y)) return;
    for (const auto& s : screens) {
        const Rect f = s.frame;
        if (f.containsPoint(x, y)) {
            panel_->setFrame(f);
            origin_ = {f.minX(), H - f.maxY()};
            sentGeom_.clear();
            return;
        }
    }
}

void Overlay::lost() {
    if (AXAccess::trusted()) return;
    host_ = false;
    pane_.reset();
    log("Accessibility is no longer allowed - the layer is measured by the add-in from now on.");
    tell({{"op", "host"}, {"on", false}});
    remeasureAt_ = now();
}

void Overlay::remeasure() {
    if (measuring_ || !panel_) return;
    measuring_ = true;
    Queue& q = ports_.measureQueue ? *ports_.measureQueue : globalQueue();
    q.async([self = shared_from_this()] {
        PPT::Attempt a = PPT::attempt("SCBT_Where", {}, whereTimeout);
        MainQueue::shared().async([self, a = std::move(a)] {
            self->measuring_ = false;
            std::optional<Geom> m;
            if (self->panel_ && a.reply.hasFields()) m = Geom::from(a.reply.fields());
            m ? self->measured(*m) : self->measureFailed(a);
        });
    });
}

// A failed measurement counts as one all the same, so pane mode asks again a second later
// rather than on every tick; and a failure that repeats is logged once, until it changes or
// a measurement has worked in between.
void Overlay::measureFailed(const PPT::Attempt& a) {
    lastMeasure_ = now();
    if (a.failure.empty() || a.failure == lastFailure_) return;
    lastFailure_ = a.failure;
    log(a.failure);
}

void Overlay::measured(const Geom& m) {
    lastMeasure_ = now();
    lastFailure_.clear();
    if (!geom_ || m.slideW <= 0) return;
    if (host_ && differentScale(m.scale(), geom_->scale())) {
        PaneReader& r = reader();
        r.queue().async([&r] { r.refresh(); });
    }
    Geom merged = *geom_;
    merged.slideW = m.slideW;
    merged.slideH = m.slideH;
    merged.zoom = m.zoom;
    merged.split = m.split;
    if (m.fit) merged.fit = m.fit;
    if (m.window) merged.window = m.window;
    if (m.slideID != 0) merged.slideID = m.slideID;
    if (host_ && pane_) {
        const Geom lined = merged.lined(*pane_, m.scale());
        merged.rect = lined.rect;
        merged.note = lined.note;
    } else {
        merged.rect = m.rect;
        merged.note = m.note;
    }
    geom_ = merged;

    if (layerSlide_ != 0) {
        const bool other = merged.slideID != 0 && merged.slideID != layerSlide_;
        if (other != otherSlide_) {
            otherSlide_ = other;
            tell({{"op", "slide"}, {"other", other}});
            log(other ? "PowerPoint shows another slide now - Place puts the drawing back on its own slide."
                      : "Back on the drawing's slide.");
        }
    }
    if (!host_) {
        const bool c = geom_->canScroll();
        if (c != zoomNoted_) {
            zoomNoted_ = c;
            if (c) tell({{"op", "note"}, {"text", zoomNote}});
        }
    }
    push();
}

void Overlay::realign(const std::string& answer) {
    const auto g = panel_ ? Geom::from(answer) : std::nullopt;
    if (g) {
        measured(*g);
        remeasureAt_ = now() + afterRealign;
    } else {
        remeasureAt_ = now();
    }
}

void Overlay::watchWindow() {
    const Instant t = now();
    if (lastWinCheck_ && t - *lastWinCheck_ <= windowCheckEvery) return;
    lastWinCheck_ = t;
    const auto w = PPT::windowBounds();
    if (w == lastWin_) return;
    lastWin_ = w;
    remeasureAt_ = t + afterWindowChange;
}

void Overlay::upgrade() {
    if (axBusy_) return;
    const Instant t = now();
    if (t - lastTrustCheck_ <= trustCheckEvery) return;
    lastTrustCheck_ = t;
    if (!AXAccess::trusted() || !geom_) return;
    axBusy_ = true;
    const std::optional<Rect> hint = geom_->window;
    PaneReader& r = reader();
    r.queue().async([weak = weak_from_this(), hint, &r] {
        auto found = r.read(hint);
        MainQueue::shared().async([weak, found = std::move(found)] {
            auto self = weak.lock();
            if (!self) return;
            self->axBusy_ = false;
            if (!self->panel_ || self->host_ || !found || !self->geom_) return;
            self->host_ = true;
            self->pane_ = found;
            self->geom_ = self->geom_->lined(*found);
            log("Accessibility allowed - the layer follows PowerPoint's view now.");
            self->tell({{"op", "host"}, {"on", true}});
            self->tell({{"op", "note"}, {"text", "Accessibility is on: the layer now follows PowerPoint's zoom and scrolling."}});
            self->sentGeom_.clear();
            self->push();
        });
    });
}

void Overlay::frontChanged() {
    if (!panel_) return;
    if (!frontOK()) {
        if (panel_->isVisible()) panel_->hide();
    } else if (!suspended_ && !panel_->isVisible()) {
        panel_->orderFrontRegardless();
        remeasureAt_ = now() + afterPaneResize;
    }
}

void Overlay::suspend(bool on) {
    if (!panel_) return;
    suspended_ = on;
    if (on) {
        panel_->hide();
    } else if (frontOK()) {
        panel_->orderFrontRegardless();
        remeasureAt_ = now();
    }
}

void Overlay::bringToFront() {
    if (panel_ && !suspended_ && frontOK()) panel_->makeKeyAndFront();
}

// Mouse pass-through: the layer takes the mouse only over the page's regions (or everywhere
// until the page has said where they are); a held button keeps whatever was decided.
void Overlay::passThrough() {
    if (!panel_->isVisible() || (ports_.input && ports_.input->buttonsHeld())) return;
    bool take = !gotRegions_ || captureAll_;
    if (!take && ports_.input) {
        const Point p = ports_.input->pointer();
        const Rect f = panel_->frame();
        const double x = p.x - f.minX(), y = f.maxY() - p.y;
        for (const Rect& r : regions_) {
            if (r.containsPoint(x, y)) {
                take = true;
                break;
            }
        }
    }
    if (panel_->ignoresMouse() == take) panel_->setIgnoresMouse(!take);
}

bool Overlay::keyDown(const KeyEvent& e) {
    if (!panel_ || !e.inLayerPanel) return false;
    const std::string key = text::lowercased(e.charactersIgnoringModifiers);
    if (e.command && !e.option && !e.control && (key == "w" || key == ".")) {
        close(true);
        return true;
    }
    return false;
}

void Overlay::mouseElsewhere() {
    if (host_ || !panel_ || !ports_.workspace) return;
    const auto front = ports_.workspace->frontApplication();
    if (front && front->bundleId && text::lowercased(*front->bundleId) == text::lowercased(PPT::bundleID)) {
        remeasureAt_ = now() + afterWindowChange;
    }
}

} // namespace scribbet
