// What a complete request is answered with: the checks that keep other hosts and other
// web origins out, then the API or a file.
#include "server/server.hpp"

#include <future>

namespace scribbet {

namespace {

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

Reply refusal(int code, const std::string& msg) { return Reply::json(code, {{"ok", false}, {"msg", msg}}); }

} // namespace

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

void Server::answer(const Request& request, Answer reply) {
    if (!hostOK(request, port_)) return reply(refusal(403, "Forbidden (host)."));
    if (request.path.starts_with("/api/")) {
        if (!originOK(request, port_)) return reply(refusal(403, "Forbidden (origin)."));
        const auto* key = header(request, "x-scribbet");
        // A picture in an <img> cannot carry the header; its same-origin request is enough.
        const bool allowed = (key && *key == "1") ||
                             (request.method == "GET" && request.path == "/api/slide.png" && sameOrigin(request, port_));
        if (!allowed) return reply(refusal(403, "Forbidden."));
        if (!options_.api) return reply(unknown(request));
        return options_.api(*this, request, std::move(reply));
    }
    if (request.method == "GET") return reply(files_.file(request.path));
    reply(refusal(405, "Method not allowed."));
}

Reply Server::answer(const Request& request) {
    std::promise<Reply> promise;
    auto future = promise.get_future();
    answer(request, Answer::to([&promise](Reply r) { promise.set_value(std::move(r)); }));
    return future.get();
}

Reply Server::unknown(const Request& request) {
    return refusal(404, "Unknown request: " + request.method + " " + request.path);
}

} // namespace scribbet
