// The mouse and keys over the layer. The monitors belong to one opening and are removed with
// it; their callbacks hold that opening weakly all the same, as monitors may run late.
#include "layer/pass_through.hpp"

#include <algorithm>
#include <cmath>

#include "base/text.hpp"
#include "layer/overlay.hpp"
#include "layer/session.hpp"
#include "layer/page_protocol.hpp"
#include "runtime/weak.hpp"

namespace scribbet {

void PassThrough::watch(Session& s) {
    InputMonitors* input = layer_.ports_.input.get();
    if (!input) return;
    s.keyMonitor = input->addKeyMonitor([this, weak = s.weak.weak()](const KeyEvent& e) {
        return !weak.expired() && keyDown(e);
    });
    s.mouseMonitor = input->addMouseMonitor(weakly(s.weak.weak(), [this](Session& s) {
        layer_.follower_.mouseElsewhere(s);
    }));
}

void PassThrough::unwatch(Session& s) {
    s.keyMonitor.reset();
    s.mouseMonitor.reset();
}

void PassThrough::regions(Session& s, page_protocol::Regions regions) {
    s.regions = std::move(regions.rects);
    s.captureAll = regions.all;
    s.gotRegions = true;
}

// The layer takes the mouse only over the page's regions (or everywhere until the page has
// said where they are); a held button keeps whatever was decided.
void PassThrough::update(Session& s) {
    InputMonitors* input = layer_.ports_.input.get();
    if (!s.panel->isVisible() || (input && input->buttonsHeld())) return;
    bool take = !s.gotRegions || s.captureAll;
    if (!take && input) {
        const Point p = input->pointer();
        const Rect f = s.panel->frame();
        const double x = p.x - f.minX(), y = f.maxY() - p.y;
        take = std::any_of(s.regions.begin(), s.regions.end(), [&](const Rect& r) { return r.containsPoint(x, y); });
    }
    if (s.panel->ignoresMouse() == take) s.panel->setIgnoresMouse(!take);
}

bool PassThrough::keyDown(const KeyEvent& e) {
    if (!e.inLayerPanel) return false;
    const std::string key = text::lowercased(e.charactersIgnoringModifiers);
    if (e.command && !e.option && !e.control && (key == "w" || key == ".")) {
        layer_.close(true);
        return true;
    }
    return false;
}

// Hidden while a drawing is being placed, and nothing of it moves or reaches the page
// meanwhile; when the last placing has ended it comes back as it was, and the view is
// measured at once. Only then does a page that restarted meanwhile get its geometry.
void PassThrough::suspend(Session& s, bool on) {
    if (on) {
        ++s.suspensions;
        s.panel->hide();
        return;
    }
    if (s.suspensions == 0 || --s.suspensions > 0) return;
    layer_.channel_.push(s);
    if (layer_.frontOK()) {
        s.panel->orderFrontRegardless();
        s.remeasureAt = layer_.now();
    }
}

} // namespace scribbet
