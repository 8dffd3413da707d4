#pragma once
// The page channel: the one way to and from the drawing page. Commands go to the page
// (`command` from other threads, `tell` and the geometry `push` on the main thread); the
// page's messages come back (ready, regions, log, cancel); a watchdog closes a page that
// never says ready, and a page whose web-content process ended is reloaded a few times. It
// also builds the page's address and keeps the web view on this program's server.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "geometry/geom.hpp"
#include "geometry/pane_state.hpp"
#include "ports/input_monitors.hpp"
#include "ports/layer_ui.hpp"

namespace scribbet {

class Overlay;
struct Session;

class PageChannel {
public:
    explicit PageChannel(Overlay& layer) : layer_(layer) {}

    // The page's address for one opening; none when it would not parse back.
    std::optional<std::string> address(const Geom& working, const std::optional<PaneState>& pane,
                                       const std::string& tool, bool fitted, Point origin) const;
    bool allowNavigation(const std::string& url) const;

    std::optional<std::string> command(const std::string& json, double timeoutSeconds);
    void tell(Session& s, const nlohmann::json& command);
    void push(Session& s);

    void armWatchdog(Session& s);
    bool allowResponse(Session* s, bool isHTTP, int status, bool mainFrame);
    void loadFailed(Session& s, const PageLoadFailure& failure);
    void contentProcessEnded(Session& s);
    void message(Session& s, const nlohmann::json& body);

    static std::string num(double value);
    static std::string enc(const std::string& text);
    // The JSON text of a value, or none when it can't be written (invalid UTF-8, say).
    static std::optional<std::string> serialized(const nlohmann::json& v);

private:
    void queueClose(Session& s);

    Overlay& layer_;
};

} // namespace scribbet
