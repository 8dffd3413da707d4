// The layer's life: opening over the slide's screen, watching the page start, surviving a
// crashing page, refusing foreign navigation, and tearing everything down in order.
#include "layer/overlay.hpp"

#include <uriparser/Uri.h>

#include <random>

#include "app/idle.hpp"
#include "app/notice.hpp"
#include "app/settings.hpp"
#include "app/text.hpp"
#include "app/whole_number.hpp"
#include "geometry/pane_reader.hpp"
#include "log/app_state.hpp"
#include "ports/preferences.hpp"
#include "ports/screens.hpp"
#include "powerpoint/ppt.hpp"
#include "runtime/weak.hpp"

namespace scribbet {

namespace {
std::shared_ptr<Overlay>& instance() {
    static std::shared_ptr<Overlay> o;
    return o;
}

std::string openingId() {
    std::random_device rd;
    std::uniform_int_distribution<unsigned> hex(0, 15);
    std::string id;
    for (int i = 0; i < 8; ++i) id.push_back("0123456789abcdef"[hex(rd)]);
    return id;
}

struct ParsedURL {
    std::string scheme, host;
    std::optional<int> port;
};

std::optional<ParsedURL> parseURL(const std::string& text) {
    UriUriA uri{};
    const char* errorPos = nullptr;
    if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPos) != URI_SUCCESS) {
        return std::nullopt;
    }
    auto range = [](const UriTextRangeA& r) {
        return r.first && r.afterLast ? std::string(r.first, r.afterLast) : std::string();
    };
    ParsedURL out{range(uri.scheme), range(uri.hostText), std::nullopt};
    const std::string port = range(uri.portText);
    if (port.size() <= 5) out.port = whole::integer<int>(port, whole::Sign::none);
    uriFreeUriMembersA(&uri);
    return out;
}

const char* noSeeThrough = "The screen cannot show see-through windows, so the drawing layer would hide PowerPoint. "
                           "Start a compositing manager (or turn on your desktop's compositing), then try again.";

std::string pzText(double scale) { return Overlay::num(std::trunc(scale * 1000) / 10); }
} // namespace

Overlay& Overlay::shared() {
    if (!instance()) instance() = std::make_shared<Overlay>(Ports{});
    return *instance();
}

void Overlay::install(Ports ports) {
    if (instance()) instance()->teardown();
    instance() = std::make_shared<Overlay>(std::move(ports));
}

Overlay::Overlay(Ports ports) : ports_(std::move(ports)), lastTrustCheck_(now()), lastMeasure_(now()) {}

Overlay::~Overlay() = default;

PaneReader& Overlay::reader() const { return ports_.reader ? *ports_.reader : PaneReader::shared(); }

bool Overlay::frontOK() const {
    if (!ports_.workspace) return true;
    const auto front = ports_.workspace->frontApplication();
    if (!front || front->isSelf) return true;
    return front->bundleId && text::lowercased(*front->bundleId) == text::lowercased(PPT::bundleID);
}

void Overlay::open(const Geom& geom, const std::optional<PaneState>& pane, const std::string& tool, bool fitted) {
    teardown();
    const auto screens = Screens::shared().screens();
    if (screens.empty() || !ports_.factory) {
        log("No screen to draw on.");
        return;
    }
    if (!ports_.factory->canShowSeeThrough()) {
        // An opaque layer over the whole screen would hide the program it is meant to draw
        // over: better no layer, and say why.
        log(std::string("Could not open the drawing layer: ") + noSeeThrough);
        Notice::show(noSeeThrough);
        return;
    }
    const double H = screens.front().frame.maxY();
    const Geom working = pane ? geom.lined(*pane) : geom;
    const bool host = pane.has_value();

    const Rect probe = pane ? pane->visible() : working.window.value_or(working.rect);
    const ScreenInfo* chosen = nullptr;
    for (const auto& s : screens) {
        if (s.frame.containsPoint(probe.midX(), H - probe.midY())) {
            chosen = &s;
            break;
        }
    }
    const auto mainScreen = Screens::shared().mainScreen();
    const Rect frame = chosen ? chosen->frame : mainScreen ? mainScreen->frame : screens.front().frame;
    origin_ = {frame.minX(), H - frame.maxY()};

    auto panel = ports_.factory->makePanel(frame);
    auto web = panel ? ports_.factory->makeWebView(*panel, weak_from_this()) : nullptr;
    if (!panel || !web) {
        log(panel ? "Could not make the drawing layer's web view." : "Could not make the drawing layer's window.");
        if (panel) panel->clear();
        return;
    }

    // The query, in the page's order.
    const Rect slide = toLayer(working.rect);
    std::vector<std::pair<std::string, std::string>> q = {
        {"sw", num(working.slideW)}, {"sh", num(working.slideH)}, {"x", num(slide.minX())},
        {"y", num(slide.minY())},    {"w", num(slide.width())},   {"h", num(slide.height())},
    };
    const std::optional<Rect> paneArea = pane ? std::optional<Rect>(pane->visible()) : working.paneGuess();
    if (paneArea) {
        const Rect p = toLayer(*paneArea);
        q.insert(q.end(), {{"px", num(p.x)}, {"py", num(p.y)}, {"pw", num(p.w)}, {"ph", num(p.h)}});
    }
    if (!host) {
        const auto nudge = Preferences::shared().get("nudge");
        if (nudge && nudge->is_object() && nudge->contains("x") && nudge->contains("y") && (*nudge)["x"].is_number() &&
            (*nudge)["y"].is_number()) {
            const double nx = (*nudge)["x"].get<double>(), ny = (*nudge)["y"].get<double>();
            if (nx != 0 || ny != 0) q.insert(q.end(), {{"nx", num(nx)}, {"ny", num(ny)}});
        }
    }
    q.emplace_back("note", noteText(working.note));
    if (!tool.empty()) q.emplace_back("tool", tool);
    q.emplace_back("host", host ? "1" : "0");
    q.emplace_back("ax", AXAccess::trusted() ? "1" : "0");
    q.emplace_back("pz", pzText(working.scale()));
    if (working.fit == true) q.emplace_back("fit", "1");
    if (fitted) q.emplace_back("fitted", "1");
    if (working.slideID != 0) q.emplace_back("slide", std::to_string(working.slideID));
    q.emplace_back("sid", openingId());
    q.emplace_back("v", std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                           clock().wallNow().time_since_epoch())
                                           .count()));
    std::string joined;
    for (const auto& [key, value] : q) {
        if (!joined.empty()) joined += "&";
        joined += key + "=" + enc(value);
    }
    const std::string address =
        "http://127.0.0.1:" + std::to_string(Settings::current().port) + "/overlay.html?" + joined;
    if (!parseURL(address)) {
        log("Could not build the drawing layer's address.");
        return;
    }

    panel_ = std::move(panel);
    web_ = std::move(web);
    address_ = address;
    geom_ = working;
    layerSlide_ = working.slideID;
    otherSlide_ = ready_ = gotRegions_ = captureAll_ = suspended_ = false;
    regions_.clear();
    reloads_ = 0;
    sentGeom_.clear();
    axBusy_ = measuring_ = zoomNoted_ = false;
    lastFailure_.clear();
    host_ = host;
    pane_ = pane;
    lastWin_ = PPT::windowBounds();
    lastWinCheck_ = now();
    panel_->setIgnoresMouse(false);

    web_->load(address_, std::chrono::seconds(60));
    watch();
    remeasureAt_ = now() + afterRealign;
    if (frontOK()) panel_->makeKeyAndFront();

    std::string suffix;
    if (!host) suffix = AXAccess::trusted() ? "; PowerPoint's editor not found" : "; no Accessibility";
    log("Drawing layer open over the slide (" + std::string(noteText(working.note)) + suffix + ").");
}

void Overlay::watch() {
    if (ports_.workspace) {
        observers_.push_back(ports_.workspace->onActivate(weakly(shared_from_this(), [](Overlay& o) {
            o.frontChanged();
        })));
        observers_.push_back(ports_.workspace->onTerminate(
            weakly(shared_from_this(), [](Overlay& o, const std::optional<std::string>& bundle) {
                if (bundle && text::lowercased(*bundle) == text::lowercased(PPT::bundleID)) {
                    log("PowerPoint quit - drawing layer closed.");
                    o.close(false);
                }
            })));
    }
    poll_ = MainQueue::shared().repeating(tickInterval, weakly(shared_from_this(), [](Overlay& o) { o.tick(); }));
    armWatchdog();
    if (ports_.input) {
        keyMonitor_ = ports_.input->addKeyMonitor([weak = weak_from_this()](const KeyEvent& e) {
            auto o = weak.lock();
            return o && o->keyDown(e);
        });
        mouseMonitor_ = ports_.input->addMouseMonitor(weakly(shared_from_this(), [](Overlay& o) {
            o.mouseElsewhere();
        }));
    }
}

void Overlay::armWatchdog() {
    watchdog_ = MainQueue::shared().oneShot(watchdogLimit, weakly(shared_from_this(), [](Overlay& o) {
        if (o.panel_ && !o.ready_) {
            log("The drawing layer did not start within 15 s - closed.");
            o.close(true);
        }
    }));
}

void Overlay::teardown() {
    watchdog_.cancel();
    poll_.cancel();
    observers_.clear();
    keyMonitor_.reset();
    mouseMonitor_.reset();
    if (web_) {
        web_->detach();
        web_->stopLoading();
    }
    if (panel_) panel_->clear();
    panel_.reset();
    web_.reset();
    ready_ = gotRegions_ = captureAll_ = suspended_ = host_ = false;
    regions_.clear();
    geom_.reset();
    pane_.reset();
    remeasureAt_.reset();
}

void Overlay::close(bool activate) {
    if (!panel_) return;
    const bool wasFront = frontOK();
    teardown();
    log("Drawing layer closed.");
    if (activate && wasFront) PPT::activate();
    MainQueue::shared().after(std::chrono::seconds(1), [] { Idle::check(); });
}

// A failure seen inside a web view callback closes the layer a moment later, and only if
// that web view still belongs to the layer: a newer layer is never closed by an old page.
void Overlay::queueClose() {
    MainQueue::shared().async(
        [weak = weak_from_this(), page = std::weak_ptr<LayerWebView>(web_)] {
            auto o = weak.lock();
            auto w = page.lock();
            if (o && w && o->web_ == w) o->close(true);
        });
}

bool Overlay::allowNavigation(const LayerWebView&, const std::string& url) {
    const auto u = parseURL(url);
    if (!u) return false;
    if (u->host == "127.0.0.1" && u->port == static_cast<int>(Settings::current().port)) return true;
    return u->scheme == "about";
}

bool Overlay::allowResponse(const LayerWebView& from, bool isHTTP, int status, bool mainFrame) {
    if (!(isHTTP && status >= 400 && mainFrame)) return true;
    if (isCurrent(from)) {
        log("The drawing layer page did not load (HTTP " + std::to_string(status) + ") - closed.");
        queueClose();
    }
    return false;
}

void Overlay::loadFailed(const LayerWebView& from, const PageLoadFailure& failure) {
    if (!isCurrent(from)) return;
    // A cancelled load was replaced on purpose; an interrupted one was refused by the
    // response policy, which has closed the layer already if it had to.
    using Kind = PageLoadFailureKind;
    if (failure.kind == Kind::cancelled || failure.kind == Kind::frameInterrupted) return;
    log("The drawing layer could not load: " + failure.description + " - closed.");
    queueClose();
}

void Overlay::contentProcessEnded(const LayerWebView& from) {
    if (!isCurrent(from)) return;
    if (++reloads_ < 4) {
        log("The drawing layer page stopped - reloading it.");
        ready_ = gotRegions_ = false;
        armWatchdog();
        web_->reload();
    } else {
        log("The drawing layer page keeps crashing - closed.");
        close(true);
    }
}

} // namespace scribbet
