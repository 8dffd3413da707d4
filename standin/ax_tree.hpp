#pragma once
// The program's windows as the system's accessibility interface shows them. The tree is
// made afresh from the model for every question, so it follows zoom, Fit, scrolling, window
// moves and slide changes the moment they happen, as the real interface does.
//
//   app                                  AXApplication; AXWindows, AXFocusedWindow
//     palette<G>                         AXWindow "Format Shape", when the palette shows
//       close                            AXButton
//       panes                            AXScrollArea (a decoy)
//         content                        AXLayoutArea "Format Shape"
//     win<G>                             AXWindow, the document window (focused)
//       g/g/…                            AXGroup, depth - 2 of them
//         ribbon                         AXGroup, the ribbon below the title bar
//           tools                        AXScrollArea (a decoy, wider than the pane)
//             content                    AXLayoutArea "Ribbon"
//         thumbs                         AXGroup
//           list                         AXScrollArea (a decoy)
//             content                    AXLayoutArea "Slide Thumbnails"
//         split                          AXSplitGroup: slide editor over notes
//           editor                       AXScrollArea = the pane (unless the editor is none)
//             doc                        AXLayoutArea = the document, "Slide Editor Slide N"
//             bar-h, bar-v               AXScrollBar, AXValue = the scroll value (settable)
//           notes                        AXScrollArea, when the notes have any height
//             text                       AXTextArea "Notes"
//         status                         AXGroup
//           text                         AXStaticText "Slide N of M"
//
// An element's id is its path ("win0/g/g/g/split/editor/bar-h"), so the same part of the
// window keeps its id across changes of the view; G is the model's AX generation, so every
// window element goes stale when the program makes its windows anew. An id that names no
// element of the current tree is stale: it has no attributes and takes no value.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model.hpp"

namespace scribbet::standin {

struct AXNode {
    enum class Bar { none, horizontal, vertical };

    std::string id;
    std::string role;
    std::optional<Rect> frame;
    std::optional<std::string> title;
    std::optional<std::string> description;
    nlohmann::json value; // "AXValue"; null when the element has none
    Bar bar = Bar::none;
    std::vector<AXNode> children;
};

inline constexpr const char* axAppId = "app";

// The application element and its windows; none while the program isn't running.
std::optional<AXNode> axTree(const Model& model);

// {"value": V} in the wire's encoding (see adapters/linux/standin_link.hpp), or {} when the
// element is stale or has no such attribute.
nlohmann::json axAttribute(const Model& model, const std::string& id, const std::string& name);

// Sets a scroll bar's "AXValue" (clamped to 0…1), which scrolls the document as the
// program does. False for any other element or attribute, a stale element, or a value that
// isn't a finite number.
bool axSetNumber(Model& model, const std::string& id, const std::string& name, double value);

// The whole tree as nested JSON, for people looking at the stand-in.
nlohmann::json axTreeJson(const Model& model);

} // namespace scribbet::standin
