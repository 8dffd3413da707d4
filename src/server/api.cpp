#include "server/api.hpp"

#include <cmath>

#include "app/text.hpp"
#include "app/whole_number.hpp"
#include "layer/overlay.hpp"
#include "ports/preferences.hpp"
#include "powerpoint/addin_check.hpp"
#include "powerpoint/ppt.hpp"
#include "server/server.hpp"

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

Api::Api(Parts parts) : parts_(std::move(parts)) {}

Reply Api::slide(Server& server, const Request& request) {
    const auto px = request.query.find("px");
    const MacroReply r =
        parts_.ppt.run("SCBT_Slide", {pixels(px == request.query.end() ? std::nullopt : std::optional(px->second))});
    if (!r.ok) return Reply::json(200, {{"ok", false}, {"msg", replyError(r)}});
    std::string png = r.parts.size() >= 4 ? base64Decode(r.parts[3]) : std::string();
    if (png.empty()) return Reply::json(200, {{"ok", false}, {"msg", "PowerPoint sent no slide picture."}});
    server.setPng(std::move(png));
    return Reply::ok({{"index", whole::integer<long long>(r.parts[0], whole::Sign::any).value_or(0)},
                       {"w", number(json(r.parts[1])).value_or(960)},
                       {"h", number(json(r.parts[2])).value_or(540)}});
}

namespace {
Reply slidePicture(Server& server) {
    auto png = server.png();
    if (!png) return Reply::json(404, {{"ok", false}, {"msg", "No slide picture yet."}});
    return {200, "image/png", std::move(*png)};
}

} // namespace

Reply Api::theme() {
    const MacroReply r = parts_.ppt.run("SCBT_Theme");
    if (!r.ok) {
        return Reply::json(200, {{"ok", false}, {"msg", r.parts.empty() ? "No theme colours." : r.parts.front()}});
    }
    json colors = json::array();
    for (const auto& p : r.parts) {
        if (!p.empty()) colors.push_back(p);
    }
    return Reply::ok({{"colors", colors}});
}

Reply Api::link(const json& body) {
    const auto id = body.find("id");
    if (id == body.end() || !id->is_string() ||
        std::find(linkIDs.begin(), linkIDs.end(), id->get<std::string>()) == linkIDs.end()) {
        return Reply::json(200, {{"ok", false}, {"msg", "Unknown link."}});
    }
    return Reply::json(200, linkAnswer(parts_.ppt.run("SCBT_LinkQuery", {id->get<std::string>()}, 30)));
}

Reply Api::nudge(const json& body) {
    const double x = number(body.value("x", json())).value_or(0);
    const double y = number(body.value("y", json())).value_or(0);
    parts_.prefs.set("nudge", {{"x", x}, {"y", y}});
    return Reply::ok();
}

Reply Api::route(Server& server, const Request& request) {
    const std::string& m = request.method;
    const std::string& p = request.path;
    if (m == "GET") {
        if (p == "/api/ping") return Reply::ok({{"app", parts_.addin.mine()}});
        if (p == "/api/slide") return slide(server, request);
        if (p == "/api/slide.png") return slidePicture(server);
        if (p == "/api/theme") return theme();
        if (p == "/api/state") {
            const bool open = parts_.main.syncValue([&layer = parts_.overlay] { return layer.isOpen(); });
            return Reply::ok({{"open", open}});
        }
    } else if (m == "POST") {
        if (p == "/api/insert") return Reply::json(200, insert(bodyMap(request.body)));
        if (p == "/api/link") return link(bodyMap(request.body));
        if (p == "/api/overlay/close") {
            parts_.main.async([&layer = parts_.overlay] { layer.close(true); });
            return Reply::ok();
        }
        if (p == "/api/overlay/nudge") return nudge(bodyMap(request.body));
        if (p == "/api/test/open" && parts_.testing) {
            const std::string url = string(bodyMap(request.body).value("url", json()), "");
            parts_.main.async([link = parts_.link, url] {
                if (link) link(url);
            });
            return Reply::ok();
        }
    }
    return Server::unknown(request);
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
