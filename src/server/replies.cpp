// What a complete request is answered with: the checks that keep other hosts and other
// web origins out, and the JSON replies.
#include <cmath>

#include "server/server.hpp"

namespace scribbet {

namespace {

constexpr std::string_view jsonType = "application/json; charset=utf-8";
constexpr std::string_view fallbackBody = R"({"ok":false,"msg":"Internal error: the answer could not be written."})";

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

const std::string* header(const Request& request, const std::string& name) {
    const auto it = request.headers.find(name);
    return it == request.headers.end() ? nullptr : &it->second;
}

// JSON has no text for NaN or infinity; writing them as null would change the answer.
bool writable(const nlohmann::json& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_structured()) {
        for (const auto& item : value) {
            if (!writable(item)) return false;
        }
    }
    return true;
}

Reply refusal(int code, const std::string& msg) { return Server::json(code, {{"ok", false}, {"msg", msg}}); }

} // namespace

Reply Server::json(int code, const nlohmann::json& map) {
    Reply reply{code, std::string(jsonType), std::string(fallbackBody)};
    if (!map.is_object() || !writable(map)) return reply;
    try {
        reply.body = map.dump(); // sorted keys: the object type is an ordered map
    } catch (const std::exception&) {
        // Text that is not UTF-8, or no memory: the fallback stays.
    }
    return reply;
}

Reply Server::ok(nlohmann::json map) {
    if (map.is_null()) map = nlohmann::json::object();
    if (map.is_object()) map["ok"] = true;
    return json(200, map);
}

std::string_view Server::reason(int code) {
    switch (code) {
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    default: return "OK";
    }
}

std::string Server::head(const Reply& reply) {
    std::string out;
    out.reserve(200 + reply.type.size());
    out += "HTTP/1.1 ";
    out += std::to_string(reply.code);
    out += ' ';
    out += reason(reply.code);
    out += "\r\nContent-Type: ";
    out += reply.type;
    out += "\r\nContent-Length: ";
    out += std::to_string(reply.body.size());
    out += "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    return out;
}

bool Server::hostOK(const Request& request, std::uint16_t port) {
    const auto* host = header(request, "host");
    const auto value = host ? lower(*host) : std::string();
    const auto p = std::to_string(port);
    return value == "127.0.0.1:" + p || value == "localhost:" + p;
}

bool Server::originOK(const Request& request, std::uint16_t port) {
    const auto* origin = header(request, "origin");
    if (!origin) return true;
    const auto value = lower(*origin);
    const auto p = std::to_string(port);
    return value == "http://127.0.0.1:" + p || value == "http://localhost:" + p;
}

bool Server::sameOrigin(const Request& request, std::uint16_t port) {
    if (request.headers.empty()) return false;
    if (const auto* site = header(request, "sec-fetch-site")) return lower(*site) == "same-origin";
    if (const auto* referer = header(request, "referer")) {
        const auto value = lower(*referer);
        const auto p = std::to_string(port);
        return value.starts_with("http://127.0.0.1:" + p + "/") || value.starts_with("http://localhost:" + p + "/");
    }
    return false;
}

Reply Server::answer(const Request& request) {
    if (!hostOK(request, port_)) return refusal(403, "Forbidden (host).");
    if (request.path.starts_with("/api/")) {
        if (!originOK(request, port_)) return refusal(403, "Forbidden (origin).");
        const auto* key = header(request, "x-scribbet");
        // A picture in an <img> cannot carry the header; its same-origin request is enough.
        const bool allowed = (key && *key == "1") ||
                             (request.method == "GET" && request.path == "/api/slide.png" && sameOrigin(request, port_));
        return allowed ? api(request) : refusal(403, "Forbidden.");
    }
    if (request.method == "GET") return file(request.path);
    return refusal(405, "Method not allowed.");
}

Reply Server::api(const Request& request) {
    return options_.api ? options_.api(*this, request) : unknown(request);
}

Reply Server::unknown(const Request& request) {
    return refusal(404, "Unknown request: " + request.method + " " + request.path);
}

} // namespace scribbet
