// The layer's life: opening over the slide's screen, showing and hiding with the program,
// and tearing everything down in order. What one opening holds is its Session; the parts do
// the rest.
#include "layer/overlay.hpp"

#include <cassert>

#include "app/idle.hpp"
#include "app/notice.hpp"
#include "base/text.hpp"
#include "geometry/ax_access.hpp"
#include "geometry/pane_reader.hpp"
#include "layer/panel_place.hpp"
#include "layer/session.hpp"
#include "log/app_state.hpp"
#include "ports/screens.hpp"
#include "program/ppt.hpp"
#include "runtime/shared_slot.hpp"
#include "runtime/weak.hpp"
#include "app/host.hpp"

namespace scribbet {

namespace {
std::string noSeeThrough() {
    return Host::current().say(
        "The screen cannot show see-through windows, so the drawing layer would hide PowerPoint. "
        "Start a compositing manager (or turn on your desktop's compositing), then try again.");
}

bool isProgram(const std::optional<std::string>& bundle) {
    return bundle && text::lowercased(*bundle) == text::lowercased(Host::current().programId);
}

} // namespace

Overlay& Overlay::shared() {
    Overlay* layer = SharedSlot<Overlay>::get();
    assert(layer && "the entry point builds the layer");
    return *layer;
}

Overlay::Overlay(Ports ports) : ports_(std::move(ports)) {}

Overlay::~Overlay() { teardown(); }

Instant Overlay::now() const { return ports_.main.clock().now(); }

bool Overlay::frontOK() const {
    if (!ports_.workspace) return true;
    const auto front = ports_.workspace->frontApplication();
    if (!front || front->isSelf) return true;
    return isProgram(front->bundleId);
}

void Overlay::open(const Geom& geom, const std::optional<PaneState>& pane, const std::string& tool, bool fitted) {
    teardown();
    if (ports_.screens.screens().empty() || !ports_.factory) {
        log("No screen to draw on.");
        return;
    }
    if (!ports_.factory->canShowSeeThrough()) {
        // An opaque layer over the whole screen would hide the program it is meant to draw
        // over: better no layer, and say why.
        log(std::string("Could not open the drawing layer: ") + noSeeThrough());
        ports_.notice.show(noSeeThrough());
        return;
    }
    const Geom working = pane ? geom.lined(*pane) : geom;
    if (!start(working, pane, tool, fitted)) return;

    Session& s = *session_;
    s.lastWin = ports_.ppt.windowBounds();
    s.lastWinCheck = now();
    s.panel->setIgnoresMouse(false);
    s.web->load(s.address, std::chrono::seconds(60));
    watch(s);
    s.remeasureAt = now() + afterRealign;
    if (frontOK()) s.panel->makeKeyAndFront();

    std::string suffix;
    if (!pane) suffix = ports_.ax.trusted() ? Host::current().say("; PowerPoint's editor not found") : "; no Accessibility";
    log("Drawing layer open over the slide (" + std::string(noteText(working.note)) + suffix + ").");
}

// Makes the window on the slide's screen, its web view and the page's address: the session,
// or a line saying which could not be made.
bool Overlay::start(const Geom& working, const std::optional<PaneState>& pane, const std::string& tool, bool fitted) {
    const auto screens = ports_.screens.screens();
    const Rect probe = pane ? pane->visible() : working.window.value_or(working.rect);
    const Rect frame = panel_place::screenFor(screens, ports_.screens.mainScreen(), probe);
    const Point origin = panel_place::originOf(frame, screens.front().frame.maxY());

    auto panel = ports_.factory->makePanel(frame);
    auto web = panel ? ports_.factory->makeWebView(*panel, weak_from_this()) : nullptr;
    if (!panel || !web) {
        log(panel ? "Could not make the drawing layer's web view." : "Could not make the drawing layer's window.");
        if (panel) panel->clear();
        return false;
    }
    auto address = channel_.address(working, pane, tool, fitted, origin);
    if (!address) {
        log("Could not build the drawing layer's address.");
        return false;
    }
    session_ = std::make_unique<Session>(std::move(panel), std::move(web), std::move(*address), origin, working, pane);
    keepPresentation(working.presentation);
    return true;
}

void Overlay::keepPresentation(const std::string& presentation) {
    std::lock_guard lock(presentationMutex_);
    presentation_ = presentation;
}

std::string Overlay::presentation() const {
    std::lock_guard lock(presentationMutex_);
    return presentation_;
}

void Overlay::watch(Session& s) {
    if (ports_.workspace) {
        s.observers.push_back(ports_.workspace->onActivate(weakly(shared_from_this(), [](Overlay& o) {
            o.frontChanged();
        })));
        s.observers.push_back(ports_.workspace->onSpaceChange(weakly(shared_from_this(), [](Overlay& o) {
            o.spaceChanged();
        })));
        s.observers.push_back(ports_.workspace->onTerminate(
            weakly(shared_from_this(), [](Overlay& o, const std::optional<std::string>& bundle) {
                if (!isProgram(bundle)) return;
                log(Host::current().say("PowerPoint quit - drawing layer closed."));
                o.close(false);
            })));
    }
    const bool told = ports_.reader.tellsChanges();
    if (told) {
        // Told on the interface's own thread: the look is taken on the main queue.
        s.observers.push_back(ports_.reader.onChange([&main = ports_.main, weak = weak_from_this()] {
            main.async([weak] {
                if (const auto o = weak.lock()) o->tick();
            });
        }));
    }
    s.poll = ports_.main.repeating(told ? toldTickInterval : tickInterval,
                                   weakly(shared_from_this(), [](Overlay& o) { o.tick(); }));
    channel_.armWatchdog(s);
    pass_.watch(s);
}

void Overlay::unwatch(Session& s) { s.observers.clear(); }

void Overlay::armWatchdog() {
    if (session_) channel_.armWatchdog(*session_);
}

// In order: nothing of this opening runs any more, then the page stops, then the window goes.
void Overlay::teardown() {
    if (!session_) return;
    Session& s = *session_;
    s.watchdog.cancel();
    s.poll.cancel();
    unwatch(s);
    pass_.unwatch(s);
    s.web->detach();
    s.web->stopLoading();
    s.panel->clear();
    session_.reset();
}

void Overlay::close(bool activate) {
    if (!session_) return;
    const bool wasFront = frontOK();
    teardown();
    log("Drawing layer closed.");
    if (activate && wasFront) ports_.ppt.activate();
    ports_.idle.checkAfter(std::chrono::seconds(1));
}

void Overlay::tick() {
    if (!session_) return;
    Session& s = *session_;
    if (!ports_.factory->canShowSeeThrough()) return seeThroughLost();
    pass_.update(s);
    if (s.suspended() || !s.panel->isVisible()) return;
    follower_.tick(s);
}

// Without its compositing manager the layer turns opaque and hides the program under it: it
// closes (the page keeps an unplaced drawing and offers it back next time).
void Overlay::seeThroughLost() {
    log("The screen stopped showing see-through windows - drawing layer closed.");
    ports_.notice.show(Host::current().say("The drawing layer closed: the screen stopped showing see-through windows, "
                                           "so it would hide PowerPoint. Start a compositing manager again, then "
                                           "draw again."));
    close(true);
}

void Overlay::frontChanged() {
    if (!session_) return;
    Session& s = *session_;
    if (!frontOK()) {
        if (s.panel->isVisible()) s.panel->hide();
    } else if (!s.suspended() && !s.panel->isVisible()) {
        s.panel->orderFrontRegardless();
        s.remeasureAt = now() + afterPaneResize;
    }
}

// The program went full screen, came back from it, or the user went to another Space. The panel
// is brought to the front, which takes it to the Space the user sees, and the view is measured
// afresh there. A panel the system left behind closes with a sentence rather than stay over
// nothing (the page keeps an unplaced drawing and offers it back next time).
void Overlay::spaceChanged() {
    if (!session_) return;
    Session& s = *session_;
    if (s.suspended() || !frontOK()) return; // hidden meanwhile: shown again when the program is back
    s.panel->orderFrontRegardless();
    s.remeasureAt = now() + afterSpaceChange;
    s.spaceCheck = ports_.main.oneShot(afterSpaceChange, weakly(shared_from_this(), [](Overlay& o) {
        if (!o.session_ || o.session_->suspended() || !o.frontOK() || o.session_->panel->onActiveSpace()) return;
        log(Host::current().say("PowerPoint moved to another Space - drawing layer closed."));
        o.ports_.notice.show(Host::current().say(
            "The drawing layer closed: PowerPoint moved to another Space or to full screen, where the layer "
            "could not follow. Draw again there: the drawing you had not placed comes back."));
        o.close(false);
    }));
}

void Overlay::bringToFront() {
    if (session_ && !session_->suspended() && frontOK()) session_->panel->makeKeyAndFront();
}

void Overlay::suspend(bool on) {
    if (session_) pass_.suspend(*session_, on);
}

void Overlay::realign(const std::string& answer) {
    if (session_) follower_.realign(*session_, answer);
}

std::optional<std::string> Overlay::command(const std::string& json, double timeoutSeconds) {
    return channel_.command(json, timeoutSeconds);
}

void Overlay::tell(const nlohmann::json& command) {
    if (session_) channel_.tell(*session_, command);
}

void Overlay::push() {
    if (session_) channel_.push(*session_);
}

Session* Overlay::current(const LayerWebView& from) const {
    return session_ && session_->isCurrent(from) ? session_.get() : nullptr;
}

bool Overlay::allowNavigation(const LayerWebView&, const std::string& url) { return channel_.allowNavigation(url); }

bool Overlay::allowResponse(const LayerWebView& from, bool isHTTP, int status, bool mainFrame) {
    return channel_.allowResponse(current(from), isHTTP, status, mainFrame);
}

void Overlay::loadFailed(const LayerWebView& from, const PageLoadFailure& failure) {
    if (Session* s = current(from)) channel_.loadFailed(*s, failure);
}

void Overlay::contentProcessEnded(const LayerWebView& from) {
    if (Session* s = current(from)) channel_.contentProcessEnded(*s);
}

void Overlay::message(const LayerWebView& from, const nlohmann::json& body) {
    if (Session* s = current(from)) channel_.message(*s, body);
}

std::optional<std::string> Overlay::geomCommand() const {
    if (!session_ || !session_->geom) return std::nullopt;
    return Follower::geomText(Follower::figures(*session_, ports_.ppt));
}

namespace {
template <class T>
const T& none() {
    static const T empty{};
    return empty;
}
} // namespace

const std::optional<Geom>& Overlay::geom() const { return session_ ? session_->geom : none<std::optional<Geom>>(); }
const std::optional<PaneState>& Overlay::pane() const {
    return session_ ? session_->pane : none<std::optional<PaneState>>();
}
bool Overlay::host() const { return session_ && session_->host; }
bool Overlay::ready() const { return session_ && session_->ready; }
bool Overlay::suspended() const { return session_ && session_->suspended(); }
const std::vector<Rect>& Overlay::regions() const { return session_ ? session_->regions : none<std::vector<Rect>>(); }
bool Overlay::captureAll() const { return session_ && session_->captureAll; }
Point Overlay::origin() const { return session_ ? session_->origin : Point{}; }
const std::string& Overlay::sentGeom() const { return session_ ? session_->sentGeom : none<std::string>(); }
std::optional<Instant> Overlay::remeasureAt() const { return session_ ? session_->remeasureAt : std::nullopt; }
LayerPanel* Overlay::panel() const { return session_ ? session_->panel.get() : nullptr; }
const std::string& Overlay::address() const { return session_ ? session_->address : none<std::string>(); }

} // namespace scribbet
