#pragma once
// One HTTP answer: what the server writes back on a connection before closing it, and the
// building of the usual ones.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace scribbet {

struct Reply {
    int code = 200;
    std::string type; // the Content-Type value
    std::string body; // bytes

    // The map as JSON with sorted keys; a fallback error body when it cannot be written.
    static Reply json(int code, const nlohmann::json& map);
    // The map with "ok": true, as a 200 JSON reply.
    static Reply ok(nlohmann::json map = nlohmann::json::object());
    static std::string_view reason(int code);
    // The HTTP head that precedes the body.
    std::string head() const;

    friend bool operator==(const Reply&, const Reply&) = default;
};

} // namespace scribbet
