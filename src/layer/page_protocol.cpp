// The layer's side of the page's commands and messages.
#include "layer/page_protocol.hpp"

#include <algorithm>
#include <cmath>

namespace scribbet::page_protocol {

namespace {
// Whether the body is an object whose "type" is the given one.
bool isType(const nlohmann::json& body, std::string_view type) {
    const auto t = messageType(body);
    return t && *t == type;
}
} // namespace

nlohmann::json geomCommand(const Geom& g) {
    nlohmann::json cmd = {{"op", op::geom}, {"x", g.x},        {"y", g.y},   {"w", g.w},
                          {"h", g.h},       {"host", g.host}, {"pz", g.pz}, {"fit", g.fit}};
    if (g.pane) cmd["pane"] = {(*g.pane)[0], (*g.pane)[1], (*g.pane)[2], (*g.pane)[3]};
    return cmd;
}

nlohmann::json hostCommand(bool on) { return {{"op", op::host}, {"on", on}}; }

nlohmann::json noteCommand(const std::string& text) { return {{"op", op::note}, {"text", text}}; }

nlohmann::json slideCommand(bool other) { return {{"op", op::slide}, {"other", other}}; }

nlohmann::json toolCommand(const std::string& tool) { return {{"op", op::tool}, {"tool", tool}}; }

std::optional<std::string> messageType(const nlohmann::json& body) {
    if (!body.is_object()) return std::nullopt;
    const auto type = body.find("type");
    if (type == body.end() || !type->is_string()) return std::nullopt;
    return type->get<std::string>();
}

std::optional<Ready> readReady(const nlohmann::json& body) {
    return isType(body, message::ready) ? std::optional<Ready>(Ready{}) : std::nullopt;
}

std::vector<Rect> regionRects(const nlohmann::json& rects) {
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

std::optional<Regions> readRegions(const nlohmann::json& body) {
    if (!isType(body, message::regions)) return std::nullopt;
    Regions r;
    if (const auto rects = body.find("rects"); rects != body.end()) r.rects = regionRects(*rects);
    const auto all = body.find("all");
    r.all = all != body.end() && all->is_boolean() && all->get<bool>();
    return r;
}

std::optional<LogLine> readLog(const nlohmann::json& body) {
    if (!isType(body, message::log)) return std::nullopt;
    const auto msg = body.find("msg");
    if (msg == body.end() || !msg->is_string()) return std::nullopt;
    return LogLine{msg->get<std::string>()};
}

std::optional<Cancel> readCancel(const nlohmann::json& body) {
    return isType(body, message::cancel) ? std::optional<Cancel>(Cancel{}) : std::nullopt;
}

} // namespace scribbet::page_protocol
