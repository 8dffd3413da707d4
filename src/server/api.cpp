#include "server/api.hpp"
#include "server/api_shared.hpp"

#include <cmath>
#include <mutex>

#include "base/text.hpp"
#include "app/whole_number.hpp"
#include "layer/overlay.hpp"
#include "ports/preferences.hpp"
#include "program/addin_check.hpp"
#include "program/ppt.hpp"
#include "server/server.hpp"
#include "app/host.hpp"

namespace scribbet {

using nlohmann::json;

namespace {

const std::vector<std::string> linkIDs = {"upgrade", "support"};

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

} // namespace

Api::Api(Parts parts) : shared_(std::make_shared<Shared>(std::move(parts))) {}

PlacingMemory& Api::placings() { return shared_->placings; }

namespace {
Reply failed(const std::string& msg) { return Reply::json(200, {{"ok", false}, {"msg", msg}}); }

// A page read: among the page's calls, shared with the same call waiting already, and given
// up unsent when its client leaves or its turn does not come in time.
PPT::Call pageRead(std::string name, std::vector<std::string> args, double timeout, const PPT& ppt,
                   const Answer& answer) {
    PPT::Call c;
    c.name = std::move(name);
    c.args = std::move(args);
    c.timeoutSeconds = timeout;
    c.share = true;
    c.deadline = ppt.clock().now() + Api::readBound;
    c.wanted = [answer] { return answer.wanted(); };
    return c;
}
} // namespace

void Api::slide(const Request& request, const Answer& answer) {
    const auto px = request.query.find("px");
    auto& ppt = shared_->parts.ppt;
    const std::string width = pixels(px == request.query.end() ? std::nullopt : std::optional(px->second));
    ppt.call(pageRead("SCBT_Slide", {width}, 60, ppt, answer), [sh = shared_, answer](const MacroReply& r) {
        if (!r.ok) return answer(failed(replyError(r)));
        const std::string text = r.parts.size() >= 4 ? r.parts[3] : std::string();
        {
            std::lock_guard lock(sh->pictureLock);
            if (text.empty() || text != sh->pngText) {
                std::string png = base64Decode(text);
                if (png.empty()) return answer(failed(Host::current().say("PowerPoint sent no slide picture.")));
                sh->png = std::move(png);
                sh->pngText = text;
            }
        }
        answer(Reply::ok({{"index", whole::integer<long long>(r.parts[0], whole::Sign::any).value_or(0)},
                          {"w", number(json(r.parts[1])).value_or(960)},
                          {"h", number(json(r.parts[2])).value_or(540)}}));
    });
}

void Api::theme(const Answer& answer) {
    auto& ppt = shared_->parts.ppt;
    ppt.call(pageRead("SCBT_Theme", {}, 60, ppt, answer), [answer](const MacroReply& r) {
        if (!r.ok) return answer(failed(r.parts.empty() ? "No theme colours." : r.parts.front()));
        json colors = json::array();
        for (const auto& p : r.parts) {
            if (!p.empty()) colors.push_back(p);
        }
        answer(Reply::ok({{"colors", colors}}));
    });
}

void Api::link(const json& body, const Answer& answer) {
    const auto id = body.find("id");
    if (id == body.end() || !id->is_string() ||
        std::find(linkIDs.begin(), linkIDs.end(), id->get<std::string>()) == linkIDs.end()) {
        return answer(failed("Unknown link."));
    }
    auto& ppt = shared_->parts.ppt;
    ppt.call(pageRead("SCBT_LinkQuery", {id->get<std::string>()}, 30, ppt, answer),
             [answer](const MacroReply& r) { answer(Reply::json(200, linkAnswer(r))); });
}

Reply Api::nudge(const json& body) {
    const double x = number(body.value("x", json())).value_or(0);
    const double y = number(body.value("y", json())).value_or(0);
    shared_->parts.prefs.set("nudge", {{"x", x}, {"y", y}});
    return Reply::ok();
}

void Api::route(Server&, const Request& request, Answer answer) {
    const std::string& m = request.method;
    const std::string& p = request.path;
    Parts& parts = shared_->parts;
    if (m == "GET") {
        if (p == "/api/ping") return answer(Reply::ok({{"app", parts.addin.mine()}}));
        if (p == "/api/slide") return slide(request, answer);
        if (p == "/api/slide.png") {
            std::lock_guard lock(shared_->pictureLock);
            if (!shared_->png) return answer(Reply::json(404, {{"ok", false}, {"msg", "No slide picture yet."}}));
            return answer(Reply{200, "image/png", *shared_->png});
        }
        if (p == "/api/theme") return theme(answer);
        if (p == "/api/state") {
            // Asked on the main thread and answered from there; nothing waits for it.
            return parts.main.async([&layer = parts.overlay, answer] { answer(Reply::ok({{"open", layer.isOpen()}})); });
        }
    } else if (m == "POST") {
        if (p == "/api/insert") {
            const json body = bodyMap(request.body);
            if (const auto why = PlacingMemory::idProblem(body)) {
                return answer(Reply::json(400, {{"ok", false}, {"msg", *why}}));
            }
            answer.onStop(Reply::json(200, endingWhilePlacing()));
            return insert(body, parts.ppt.clock().now(), [answer] { return answer.wanted(); },
                          [answer](const json& out) { answer(Reply::json(200, out)); });
        }
        if (p == "/api/link") return link(bodyMap(request.body), answer);
        if (p == "/api/overlay/close") {
            parts.main.async([&layer = parts.overlay] { layer.close(true); });
            return answer(Reply::ok());
        }
        if (p == "/api/overlay/nudge") return answer(nudge(bodyMap(request.body)));
        if (p == "/api/test/open" && parts.testing) {
            const std::string url = string(bodyMap(request.body).value("url", json()), "");
            parts.main.async([link = parts.link, url] {
                if (link) link(url);
            });
            return answer(Reply::ok());
        }
    }
    answer(Server::unknown(request));
}

std::string Api::pixels(const std::optional<std::string>& text) {
    const auto v = text ? whole::integer<long long>(*text, whole::Sign::any) : std::nullopt;
    if (!v || *v < 1) return "1600";
    return std::to_string(std::clamp<long long>(*v, 64, 8192));
}

std::optional<double> Api::number(const json& value) {
    std::optional<double> out;
    if (value.is_boolean()) {
        out = value.get<bool>() ? 1 : 0;
    } else if (value.is_number()) {
        out = value.get<double>();
    } else if (value.is_string()) {
        std::string s = trimmed(value.get<std::string>());
        std::replace(s.begin(), s.end(), ',', '.');
        out = whole::decimal(s);
    }
    if (out && !std::isfinite(*out)) return std::nullopt;
    return out;
}

std::string Api::string(const json& value, const std::string& fallback) {
    if (value.is_string()) return value.get<std::string>();
    std::optional<double> n;
    if (value.is_boolean()) n = value.get<bool>() ? 1 : 0;
    if (value.is_number()) n = value.get<double>();
    if (!n || !std::isfinite(*n)) return fallback;
    if (*n == std::trunc(*n) && std::abs(*n) < 1e15) return std::to_string(static_cast<long long>(*n));
    return json(*n).dump(); // the shortest text that reads back to the same number
}

bool Api::flag(const std::string& textIn) {
    const std::string t = text::lowercased(trimmed(textIn));
    if (t == "true" || t == "yes") return true;
    const auto v = whole::decimal(t);
    return v && *v != 0 && !std::isnan(*v);
}

json Api::bodyMap(const std::string& body) {
    auto parsed = json::parse(body, nullptr, false);
    return parsed.is_object() ? parsed : json::object();
}

json Api::linkAnswer(const MacroReply& answer) {
    const std::string first = answer.ok && !answer.parts.empty() ? answer.parts.front() : "";
    if (first == "opened" && answer.parts.size() == 1) return {{"ok", true}, {"opened", true}};
    if (first == "soon") return {{"ok", true}, {"opened", false}, {"note", answer.fields(1)}};
    if (answer.ok) {
        return {{"ok", false}, {"msg", "Unexpected answer from the add-in: " + text::prefix(answer.text(), 120)}};
    }
    return {{"ok", false}, {"msg", replyError(answer)}};
}

std::string Api::base64Decode(const std::string& in) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (unsigned char c : in) {
        int d;
        if (c >= 'A' && c <= 'Z') {
            d = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            d = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            d = c - '0' + 52;
        } else if (c == '+') {
            d = 62;
        } else if (c == '/') {
            d = 63;
        } else {
            continue;
        }
        value = (value << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
        }
    }
    return out;
}

} // namespace scribbet
