// Talking with the drawing page: commands evaluated in it and messages it posts.
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <semaphore>

#include "app/text.hpp"
#include "layer/overlay.hpp"
#include "log/app_state.hpp"

namespace scribbet {

namespace {
double cut2(double v) { return std::trunc(v * 100) / 100; }

// The JSON text of a value, or none when it can't be written (invalid UTF-8, say).
std::optional<std::string> serialized(const nlohmann::json& v) {
    try {
        return v.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::string call(const std::string& json) { return "SCB.command(" + json + ")"; }
} // namespace

// Every digit of any double, and a point whatever the locale says (GTK sets the user's): the
// page's address and the log must read the same everywhere.
std::string Overlay::num(double value) {
    if (!std::isfinite(value)) return "0";
    std::array<char, std::numeric_limits<double>::max_exponent10 + 8> buf; // sign, 309 digits, point, 2
    const int decimals = value == std::round(value) ? 0 : 2;
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buf.data(), end) : "0";
}

std::string Overlay::enc(const std::string& textIn) {
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

std::optional<Rect> Overlay::paneRect() const {
    if (host_) return pane_ ? std::optional<Rect>(pane_->visible()) : std::nullopt;
    return geom_ ? geom_->paneGuess() : std::nullopt;
}

Overlay::GeomFigures Overlay::geomFigures() const {
    GeomFigures f;
    const Rect r = toLayer(geom_->rect);
    f.n = {cut2(r.minX()), cut2(r.minY()), cut2(r.width()), cut2(r.height()), std::trunc(geom_->scale() * 1000) / 10};
    f.host = host_;
    f.fit = geom_->fit == true;
    if (const auto p = paneRect()) {
        const Rect l = toLayer(*p);
        f.hasPane = true;
        f.pane = {cut2(l.x), cut2(l.y), cut2(l.w), cut2(l.h)};
    }
    return f;
}

// The same bits write the same text; different bits rarely do (two NaNs), and then the
// text is compared as well.
bool Overlay::GeomFigures::same(const GeomFigures& o) const {
    return host == o.host && fit == o.fit && hasPane == o.hasPane && std::memcmp(n.data(), o.n.data(), sizeof n) == 0 &&
           (!hasPane || std::memcmp(pane.data(), o.pane.data(), sizeof pane) == 0);
}

std::optional<std::string> Overlay::geomText(const GeomFigures& f) {
    nlohmann::json cmd = {
        {"op", "geom"}, {"x", f.n[0]}, {"y", f.n[1]}, {"w", f.n[2]}, {"h", f.n[3]}, {"host", f.host}, {"pz", f.n[4]},
        {"fit", f.fit},
    };
    if (f.hasPane) cmd["pane"] = {f.pane[0], f.pane[1], f.pane[2], f.pane[3]};
    return serialized(cmd); // nlohmann keeps object keys sorted
}

std::optional<std::string> Overlay::geomCommand() const {
    if (!geom_) return std::nullopt;
    return geomText(geomFigures());
}

// Called on every tick in pane mode, where the view rarely changes: the numbers are compared
// before any text is written.
void Overlay::push() {
    if (!ready_ || !geom_) return;
    const GeomFigures f = geomFigures();
    if (!sentGeom_.empty() && f.same(sentFigures_)) return;
    const auto text = geomText(f);
    if (!text) return;
    sentFigures_ = f;
    if (*text == sentGeom_) return;
    sentGeom_ = *text;
    if (web_) web_->evaluate(call(*text), nullptr);
}

void Overlay::tell(const nlohmann::json& command) {
    if (!ready_ || !web_ || !command.is_object()) return;
    if (const auto text = serialized(command)) web_->evaluate(call(*text), nullptr);
}

std::optional<std::string> Overlay::command(const std::string& json, double timeoutSeconds) {
    if (MainQueue::shared().isCurrent()) {
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
    MainQueue::shared().async([weak = weak_from_this(), holder, script = call(json)] {
        auto self = weak.lock();
        if (!self || !self->web_) return holder->signal();
        self->web_->evaluate(script, [holder](EvalResult r) {
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

std::vector<Rect> Overlay::regionsFrom(const nlohmann::json& rects) {
    std::vector<Rect> out;
    if (!rects.is_array()) return out;
    for (const auto& entry : rects) {
        if (!entry.is_array()) continue;
        std::vector<double> n;
        for (const auto& v : entry) {
            if (v.is_number()) n.push_back(v.get<double>());
        }
        if (n.size() < 4 || std::any_of(n.begin(), n.end(), [](double d) { return !std::isfinite(d); })) continue;
        out.push_back({n[0], n[1], n[2], n[3]});
    }
    return out;
}

void Overlay::message(const LayerWebView& from, const nlohmann::json& body) {
    if (!isCurrent(from) || !body.is_object()) return;
    const auto type = body.find("type");
    if (type == body.end() || !type->is_string()) return;
    const std::string& t = type->get_ref<const std::string&>();
    if (t == "ready") {
        if (ready_) return;
        ready_ = true;
        watchdog_.cancel();
        sentGeom_.clear();
        push();
    } else if (t == "regions") {
        regions_ = regionsFrom(body.value("rects", nlohmann::json()));
        const auto all = body.find("all");
        captureAll_ = all != body.end() && all->is_boolean() && all->get<bool>();
        gotRegions_ = true;
    } else if (t == "log") {
        const auto msg = body.find("msg");
        if (msg != body.end() && msg->is_string()) log("Drawing layer: " + text::prefix(msg->get<std::string>(), 500));
    } else if (t == "cancel") {
        close(true);
    }
}

} // namespace scribbet
