#pragma once
// The wire between Scribbet's Linux adapters (and `scribbet-standin ctl`) and the desktop
// stand-in, which plays the presentation program, its add-in and the desktop around them.
//
// A Unix stream socket; a request and its answer are each one line of JSON ended by "\n". A
// connection carries one request after the other, each answered before the next is sent; a
// client may also send one request, read its answer and go. Requests name an "op":
//   macro     {"name": full macro name, "args": [texts]}
//             -> {"errn": number (0 when it ran), "errs": text (optional), "direct": text (optional)}
//   script    {"source": AppleScript text} -> {"ok": bool, "result": bool|text|null, "error": text}
//   running   -> {"running": bool, "pid": number}
//   windows   -> {"windows": [{"pid", "layer", "name", "bounds": [x, y, w, h]}]}, front to back
//   activate  -> {"ok": true}
//   front     -> {"bundle": text, "pid": number}
//   screens   -> {"screens": [{"frame": [x, y, w, h], "visible": [x, y, w, h], "scale": number}]}
//   open      {"url": text} -> {"ok": true}  (a link opened with the system, noted)
//   ax.trusted -> {"trusted": bool};  ax.prompt -> {"trusted": bool} (the prompt is noted)
//   ax.app    {"pid"} -> {"element": id or null}
//   ax.attr   {"element": id, "name": text} -> {"value": V} or {} when missing or stale, where V
//             is a number, bool, text, {"point": [x, y]}, {"size": [w, h]}, {"element": id}
//             or {"elements": [ids]}; positions in global top-left points
//   ax.set    {"element": id, "name": text, "value": number} -> {"ok": bool}
//   state     -> the whole model
//   set       {"values": {KEY: VALUE}} -> {"ok": bool, "msg": text}
//   quit      -> {"ok": true}, then the stand-in ends
// A request the stand-in does not know answers {"error": text}.
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "ports/clock.hpp"

namespace scribbet::standin {

// SCRIBBET_STANDIN_SOCKET, else scribbet-standin.sock in $XDG_RUNTIME_DIR, else
// scribbet-standin-UID.sock in the temp folder.
std::filesystem::path socketPath();

struct Answer {
    enum class Failure { none, noStandIn, timedOut, broken };
    Failure failure = Failure::none;
    nlohmann::json body; // the answer when failure is none
    bool ok() const { return failure == Failure::none; }
};

// One request, waiting at most `limit` for the whole answer. No socket (or nobody
// listening) is noStandIn; no whole answer in time is timedOut; a connection that breaks
// or an answer that is not a JSON object is broken. From any thread: a call takes an idle
// connection this process kept (a few at most, for a few seconds) or opens one, and keeps it
// again after a whole answer; one that timed out or broke is closed.
Answer call(const nlohmann::json& request, Duration limit, const std::filesystem::path& socket = socketPath());

} // namespace scribbet::standin
