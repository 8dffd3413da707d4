// Talking with the drawing page: its address, commands evaluated in it, the messages it
// posts, and what the web view reports about loading it.
#include "layer/page_channel.hpp"

#include <uriparser/Uri.h>

#include <cmath>
#include <random>
#include <semaphore>

#include "base/text.hpp"
#include "app/whole_number.hpp"
#include "geometry/ax_access.hpp"
#include "layer/follower.hpp"
#include "layer/overlay.hpp"
#include "layer/page_protocol.hpp"
#include "layer/panel_place.hpp"
#include "layer/session.hpp"
#include "log/app_state.hpp"
#include "ports/preferences.hpp"
#include "runtime/decimal_text.hpp"
#include "runtime/weak.hpp"

namespace scribbet {

namespace {
using Query = std::vector<std::pair<std::string, std::string>>;

std::string call(const std::string& json) { return "SCB.command(" + json + ")"; }

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

std::string pzText(double scale) { return PageChannel::num(std::trunc(scale * 1000) / 10); }

// Where the slide and its pane lie, in the layer's coordinates, and the user's nudge when
// only the add-in measured.
Query placeQuery(const Geom& working, const std::optional<PaneState>& pane, Point origin, const Overlay::Ports& ports) {
    const auto num = &PageChannel::num;
    const Rect slide = panel_place::toLayer(origin, working.rect);
    Query q = {
        {"sw", num(working.slideW)}, {"sh", num(working.slideH)}, {"x", num(slide.minX())},
        {"y", num(slide.minY())},    {"w", num(slide.width())},   {"h", num(slide.height())},
    };
    const std::optional<Rect> paneArea = pane ? std::optional<Rect>(pane->visible()) : working.paneGuess(ports.ppt);
    if (paneArea) {
        const Rect p = panel_place::toLayer(origin, *paneArea);
        q.insert(q.end(), {{"px", num(p.x)}, {"py", num(p.y)}, {"pw", num(p.w)}, {"ph", num(p.h)}});
    }
    if (!pane) {
        const auto nudge = ports.prefs.get("nudge");
        if (nudge && nudge->is_object() && nudge->contains("x") && nudge->contains("y") && (*nudge)["x"].is_number() &&
            (*nudge)["y"].is_number()) {
            const double nx = (*nudge)["x"].get<double>(), ny = (*nudge)["y"].get<double>();
            if (nx != 0 || ny != 0) q.insert(q.end(), {{"nx", num(nx)}, {"ny", num(ny)}});
        }
    }
    return q;
}
} // namespace

// The query, in the page's order.
std::optional<std::string> PageChannel::address(const Geom& working, const std::optional<PaneState>& pane,
                                                const std::string& tool, bool fitted, Point origin) const {
    const Overlay::Ports& ports = layer_.ports();
    Query q = placeQuery(working, pane, origin, ports);
    q.emplace_back("note", noteText(working.note));
    if (!tool.empty()) q.emplace_back("tool", tool);
    q.emplace_back("host", pane ? "1" : "0");
    q.emplace_back("ax", ports.ax.trusted() ? "1" : "0");
    q.emplace_back("pz", pzText(working.scale()));
    if (working.fit == true) q.emplace_back("fit", "1");
    if (fitted) q.emplace_back("fitted", "1");
    if (working.slideID != 0) q.emplace_back("slide", std::to_string(working.slideID));
    q.emplace_back("sid", openingId());
    q.emplace_back("v", std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                           ports.main.clock().wallNow().time_since_epoch())
                                           .count()));
    std::string joined;
    for (const auto& [key, value] : q) {
        if (!joined.empty()) joined += "&";
        joined += key + "=" + enc(value);
    }
    std::string out = "http://127.0.0.1:" + std::to_string(ports.port) + "/overlay.html?" + joined;
    if (!parseURL(out)) return std::nullopt;
    return out;
}

bool PageChannel::allowNavigation(const std::string& url) const {
    const auto u = parseURL(url);
    if (!u) return false;
    if (u->host == "127.0.0.1" && u->port == static_cast<int>(layer_.ports().port)) return true;
    return u->scheme == "about";
}

// Every digit of any double, and a point whatever the locale says (GTK sets the user's): the
// page's address and the log must read the same everywhere.
std::string PageChannel::num(double value) {
    if (!std::isfinite(value)) return "0";
    return decimal::fixed(value, value == std::round(value) ? 0 : 2).value_or("0");
}

std::string PageChannel::enc(const std::string& textIn) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : textIn) {
        if (std::isalnum(c) && c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::optional<std::string> PageChannel::serialized(const nlohmann::json& v) {
    try {
        return v.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

// Called on every tick in pane mode, where the view rarely changes: the numbers are compared
// before any text is written. A layer put aside for a placing tells the page nothing: the
// view it would describe is the placing's, not the user's.
void PageChannel::push(Session& s) {
    if (!s.ready || !s.geom || s.suspended()) return;
    const GeomFigures f = Follower::figures(s, layer_.ports().ppt);
    if (!s.sentGeom.empty() && f.same(s.sentFigures)) return;
    const auto text = Follower::geomText(f);
    if (!text) return;
    s.sentFigures = f;
    if (*text == s.sentGeom) return;
    s.sentGeom = *text;
    s.web->evaluate(call(*text), nullptr);
}

void PageChannel::tell(Session& s, const nlohmann::json& command) {
    if (!s.ready || !command.is_object()) return;
    if (const auto text = serialized(command)) s.web->evaluate(call(*text), nullptr);
}

std::optional<std::string> PageChannel::command(const std::string& json, double timeoutSeconds) {
    MainQueue& main = layer_.ports().main;
    if (main.isCurrent()) {
        log("Overlay.command was called on the main thread - refused");
        return std::nullopt;
    }
    struct Holder {
        std::mutex mutex;
        std::optional<std::string> result;
        std::binary_semaphore done{0};
        std::atomic<bool> signalled{false};
        void signal() {
            if (!signalled.exchange(true)) done.release();
        }
    };
    auto holder = std::make_shared<Holder>();
    // Not weakly(): a layer gone by then must still let the caller go at once.
    main.async([weak = layer_.weak_from_this(), holder, script = call(json)] {
        auto layer = weak.lock();
        if (!layer || !layer->session_) return holder->signal();
        layer->session_->web->evaluate(script, [holder](EvalResult r) {
            if (auto* s = std::get_if<std::string>(&r.value)) {
                std::lock_guard lock(holder->mutex);
                holder->result = *s;
            } else if (auto* j = std::get_if<nlohmann::json>(&r.value); j && (j->is_array() || j->is_object())) {
                if (auto text = serialized(*j)) {
                    std::lock_guard lock(holder->mutex);
                    holder->result = *text;
                }
            } else if (r.error) {
                log("Drawing layer command failed: " + *r.error);
            }
            holder->signal();
        });
    });
    const double limit = std::isfinite(timeoutSeconds) && timeoutSeconds > 0 ? timeoutSeconds : 0;
    if (!holder->done.try_acquire_for(seconds(limit))) return std::nullopt;
    std::lock_guard lock(holder->mutex);
    return holder->result;
}

void PageChannel::armWatchdog(Session& s) {
    s.watchdog = layer_.ports().main.oneShot(Overlay::watchdogLimit, weakly(s.weak.weak(), [this](Session& s) {
        if (s.ready) return;
        log("The drawing layer did not start within 15 s - closed.");
        layer_.close(true);
    }));
}

// A failure seen inside a web view callback closes the layer a moment later, and only if
// that opening is still the layer's: a newer layer is never closed by an old page.
void PageChannel::queueClose(Session& s) {
    layer_.ports().main.async(weakly(s.weak.weak(), [this](Session&) { layer_.close(true); }));
}

bool PageChannel::allowResponse(Session* s, bool isHTTP, int status, bool mainFrame) {
    if (!(isHTTP && status >= 400 && mainFrame)) return true;
    if (s) {
        log("The drawing layer page did not load (HTTP " + std::to_string(status) + ") - closed.");
        queueClose(*s);
    }
    return false;
}

void PageChannel::loadFailed(Session& s, const PageLoadFailure& failure) {
    // A cancelled load was replaced on purpose; an interrupted one was refused by the
    // response policy, which has closed the layer already if it had to.
    using Kind = PageLoadFailureKind;
    if (failure.kind == Kind::cancelled || failure.kind == Kind::frameInterrupted) return;
    log("The drawing layer could not load: " + failure.description + " - closed.");
    queueClose(s);
}

void PageChannel::contentProcessEnded(Session& s) {
    if (++s.reloads < 4) {
        log("The drawing layer page stopped - reloading it.");
        s.ready = s.gotRegions = false;
        armWatchdog(s);
        s.web->reload();
    } else {
        log("The drawing layer page keeps crashing - closed.");
        layer_.close(true);
    }
}

void PageChannel::message(Session& s, const nlohmann::json& body) {
    namespace protocol = page_protocol;
    if (protocol::readReady(body)) {
        if (s.ready) return;
        s.ready = true;
        s.watchdog.cancel();
        s.sentGeom.clear();
        push(s);
    } else if (auto regions = protocol::readRegions(body)) {
        layer_.pass_.regions(s, std::move(*regions));
    } else if (const auto line = protocol::readLog(body)) {
        log("Drawing layer: " + text::prefix(line->msg, 500));
    } else if (protocol::readCancel(body)) {
        layer_.close(true);
    }
}

} // namespace scribbet
