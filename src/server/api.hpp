#pragma once
// The drawing page's JSON API under /api/: the slide picture and theme colours from the
// add-in, placing drawings, links, the layer's close and nudge, and in test mode a way to
// feed links in. Every answer is an object with "ok"; failures carry one sentence.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "powerpoint/macro_reply.hpp"
#include "server/placing_memory.hpp"
#include "server/reply.hpp"
#include "server/request.hpp"

namespace scribbet {

class Server;

namespace Api {

// The dispatcher the server calls for an allowed /api/ request; on the work queue.
Reply route(Server& server, const Request& request);

// Loosely typed input made into numbers, texts and flags.
std::string pixels(const std::optional<std::string>& text);
std::optional<double> number(const nlohmann::json& value);
std::string string(const nlohmann::json& value, const std::string& fallback);
bool flag(const std::string& text);

// A request body as a map; anything but a JSON object is an empty one.
nlohmann::json bodyMap(const std::string& body);
// What a link query's answer means for the page.
nlohmann::json linkAnswer(const MacroReply& answer);

// One shape the add-in reports as placed.
struct Placed {
    long long k = -1;
    std::string name, id;
    double left = 0, top = 0, width = 0, height = 0, rot = 0;
    bool fh = false, fv = false;
    nlohmann::json json() const;
};
// Reads a placing macro's answer: the count, then one line per shape.
std::pair<long long, std::vector<Placed>> placed(const MacroReply& answer);
// Places a drawing through the add-in and tells the page what was placed: one style ("path",
// "stroke", "width", "fill", "replace"), or several in stacking order ("parts", each of those),
// with "slide" and "close" for the whole. A request with an "id" is placed at most once.
nlohmann::json insert(const nlohmann::json& body);
// The placings this process remembers by identifier.
PlacingMemory& placings();

// Bytes of Base64 text, skipping anything outside the alphabet.
std::string base64Decode(const std::string& text);

} // namespace Api

} // namespace scribbet
