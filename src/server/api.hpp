#pragma once
// The drawing page's JSON API under /api/: the slide picture and theme colours from the
// add-in, placing drawings, links, the layer's close and nudge, and in test mode a way to
// feed links in. Every answer is an object with "ok"; failures carry one sentence.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "powerpoint/macro_reply.hpp"
#include "runtime/queues.hpp"
#include "server/placing_memory.hpp"
#include "server/reply.hpp"
#include "server/request.hpp"

namespace scribbet {

class AddinCheck;
class AXAccess;
class Overlay;
class PaneReader;
class PPT;
class Preferences;
class Server;

class Api {
public:
    struct Parts {
        MainQueue& main;
        PPT& ppt;
        AddinCheck& addin;
        AXAccess& ax;
        Overlay& overlay;
        PaneReader& reader;
        Preferences& prefs;
        bool testing = false; // then /api/test/open feeds links in
        // Feeds a link into the running delegate's dispatcher; main thread.
        std::function<void(const std::string&)> link;
    };
    explicit Api(Parts parts);

    // The dispatcher the server calls for an allowed /api/ request; on the work queue.
    Reply route(Server& server, const Request& request);

    // Loosely typed input made into numbers, texts and flags.
    static std::string pixels(const std::optional<std::string>& text);
    static std::optional<double> number(const nlohmann::json& value);
    static std::string string(const nlohmann::json& value, const std::string& fallback);
    static bool flag(const std::string& text);

    // A request body as a map; anything but a JSON object is an empty one.
    static nlohmann::json bodyMap(const std::string& body);
    // What a link query's answer means for the page.
    static nlohmann::json linkAnswer(const MacroReply& answer);

    // One shape the add-in reports as placed.
    struct Placed {
        long long k = -1;
        std::string name, id;
        double left = 0, top = 0, width = 0, height = 0, rot = 0;
        bool fh = false, fv = false;
        nlohmann::json json() const;
    };
    // Reads a placing macro's answer: the count, then one line per shape.
    static std::pair<long long, std::vector<Placed>> placed(const MacroReply& answer);
    // Places a drawing through the add-in and tells the page what was placed: one style ("path",
    // "stroke", "width", "fill", "replace"), or several in stacking order ("parts", each of those),
    // with "slide" and "close" for the whole. A request with an "id" is placed at most once.
    nlohmann::json insert(const nlohmann::json& body);
    // The placings this process remembers by identifier.
    PlacingMemory& placings() { return placings_; }

    // Bytes of Base64 text, skipping anything outside the alphabet.
    static std::string base64Decode(const std::string& text);

private:
    Reply slide(Server& server, const Request& request);
    Reply theme();
    Reply link(const nlohmann::json& body);
    Reply nudge(const nlohmann::json& body);
    nlohmann::json place(const nlohmann::json& body);

    Parts parts_;
    PlacingMemory placings_{parts_.main.clock()};
};

} // namespace scribbet
