#include "server/reply.hpp"

#include <cmath>

namespace scribbet {

namespace {

constexpr std::string_view jsonType = "application/json; charset=utf-8";
constexpr std::string_view fallbackBody = R"({"ok":false,"msg":"Internal error: the answer could not be written."})";

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

} // namespace

Reply Reply::json(int code, const nlohmann::json& map) {
    Reply reply{code, std::string(jsonType), std::string(fallbackBody)};
    if (!map.is_object() || !writable(map)) return reply;
    try {
        reply.body = map.dump(); // sorted keys: the object type is an ordered map
    } catch (const std::exception&) {
        // Text that is not UTF-8, or no memory: the fallback stays.
    }
    return reply;
}

Reply Reply::ok(nlohmann::json map) {
    if (map.is_null()) map = nlohmann::json::object();
    if (map.is_object()) map["ok"] = true;
    return json(200, map);
}

std::string_view Reply::reason(int code) {
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

std::string Reply::head() const {
    std::string out;
    out.reserve(200 + type.size());
    out += "HTTP/1.1 ";
    out += std::to_string(code);
    out += ' ';
    out += reason(code);
    out += "\r\nContent-Type: ";
    out += type;
    out += "\r\nContent-Length: ";
    out += std::to_string(body.size());
    out += "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    return out;
}

} // namespace scribbet
