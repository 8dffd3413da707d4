#pragma once
// What the layer and the drawing page say to each other, spelled in one place on this side.
// Commands go to the page as the argument of SCB.command(...); messages come back through the
// web view's "scribbet" handler as objects with a "type". The page spells the same names in
// page/src/protocol.ts, and tests/contract/page_protocol.json holds examples both sides test.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/rect.hpp"

namespace scribbet::page_protocol {

// ---- Commands: the program to the page ("op") --------------------------------------------

namespace op {
inline constexpr std::string_view geom = "geom";
inline constexpr std::string_view host = "host";
inline constexpr std::string_view note = "note";
inline constexpr std::string_view slide = "slide";
inline constexpr std::string_view tool = "tool";
} // namespace op

inline constexpr std::array<std::string_view, 5> commandNames{op::geom, op::host, op::note, op::slide, op::tool};

// Where the slide lies in the layer, in layer points, and how it is shown. The editor's area
// (pane) goes along only while it is known; without it the page cuts nothing.
struct Geom {
    double x = 0, y = 0, w = 0, h = 0;
    bool host = false; // measured through Accessibility rather than by the add-in
    double pz = 0;     // the zoom, in percent
    bool fit = false;  // the program fits the slide to its window
    std::optional<std::array<double, 4>> pane;
};

nlohmann::json geomCommand(const Geom& g);
// Whether the layer follows the program's own view (Accessibility) or the add-in's figures.
nlohmann::json hostCommand(bool on);
// A sentence shown on the page for a while.
nlohmann::json noteCommand(const std::string& text);
// Whether the program shows another slide than the one being drawn on.
nlohmann::json slideCommand(bool other);
// Switches the page's tool; the page answers with the tool it has now.
nlohmann::json toolCommand(const std::string& tool);

// ---- Messages: the page to the program ("type") ------------------------------------------

namespace message {
inline constexpr std::string_view ready = "ready";
inline constexpr std::string_view regions = "regions";
inline constexpr std::string_view log = "log";
inline constexpr std::string_view cancel = "cancel";
} // namespace message

inline constexpr std::array<std::string_view, 4> messageNames{message::ready, message::regions, message::log,
                                                              message::cancel};

// The type of a message: none for anything but an object with a string "type".
std::optional<std::string> messageType(const nlohmann::json& body);

// The page has loaded and takes commands.
struct Ready {};
// The areas that must get the mouse, in layer points; all: the whole layer must.
struct Regions {
    std::vector<Rect> rects;
    bool all = false;
};
// A line for the log, as the page wrote it.
struct LogLine {
    std::string msg;
};
// The user closed the layer from the page.
struct Cancel {};

// Each reader takes a whole message and has nothing for another type or a shape the layer
// can't use. Regions are read forgivingly: an entry that is not four finite numbers is left
// out, rects that are not a list are no areas, and an "all" that is not true is false.
std::optional<Ready> readReady(const nlohmann::json& body);
std::optional<Regions> readRegions(const nlohmann::json& body);
std::optional<LogLine> readLog(const nlohmann::json& body);
std::optional<Cancel> readCancel(const nlohmann::json& body);

// The rectangles of a "rects" list, under the rules above.
std::vector<Rect> regionRects(const nlohmann::json& rects);

} // namespace scribbet::page_protocol
