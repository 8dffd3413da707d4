#pragma once
// The drawing page's JSON API under /api/: the slide picture and theme colours from the
// add-in, placing drawings, links, the layer's close and nudge, and in test mode a way to
// feed links in. Every answer is an object with "ok"; failures carry one sentence.
//
// Nothing here waits: a route that needs the presentation program queues its call with the
// request's deadline and answers when the program has (or when the call could not be made);
// one that needs the main thread hops there and answers from it. What a continuation uses
// outlives the Api itself (see Shared), as an answer may come after the server has gone.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "program/macro_reply.hpp"
#include "runtime/queues.hpp"
#include "server/answer.hpp"
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

    // How long a page read may wait for its turn with the program: the page gives up on it then.
    static constexpr Duration readBound = std::chrono::seconds(15);
    // How long a placing may wait for its turn, counted from its arrival; the page waits 90 s.
    static constexpr Duration placingBound = std::chrono::seconds(80);
    // How long the program may take over one part of a placing before its outcome is unknown.
    static constexpr double insertWait = 300;
    // Asking which features the add-in has is quick, or the answer is no.
    static constexpr double featuresWait = 5;

    // The dispatcher the server calls for an allowed /api/ request, on the work queue; it
    // answers through `answer`, now or later.
    void route(Server& server, const Request& request, Answer answer);

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
    // The shapes a placing was to replace that the program would not remove: the identifiers of
    // its "kept" lines.
    static std::vector<std::string> kept(const MacroReply& answer);
    // Places a drawing through the add-in and tells the page what was placed: one style ("path",
    // "stroke", "width", "fill", "replace"), or several in stacking order ("parts", each of those),
    // with "slide" and "close" for the whole. A request with an "id" is placed at most once. The
    // placing must begin within placingBound of `arrived` (program's clock); `done` hears, once,
    // what became of it: placed, not placed, still under way ("pending") when the bound comes
    // first, or not known ("unknown"). Its "id" must be one PlacingMemory can keep (see idProblem).
    void insert(const nlohmann::json& body, Instant arrived, std::function<bool()> wanted,
                std::function<void(const nlohmann::json&)> done);
    // The same, waiting for the first answer; not on the main thread.
    nlohmann::json insert(const nlohmann::json& body);
    // The placings this process remembers by identifier.
    PlacingMemory& placings();
    // What a client waiting for a placing is told when Scribbet stops while the program may be
    // placing it.
    static nlohmann::json endingWhilePlacing();

    // Bytes of Base64 text, skipping anything outside the alphabet.
    static std::string base64Decode(const std::string& text);

    // What the continuations share; it lives as long as the last of them.
    struct Shared;

private:
    void slide(const Request& request, const Answer& answer);
    void theme(const Answer& answer);
    void link(const nlohmann::json& body, const Answer& answer);
    Reply nudge(const nlohmann::json& body);

    std::shared_ptr<Shared> shared_;
};

} // namespace scribbet
