#pragma once
// One measurement of the slide editor: a scroll area whose content (the document) holds
// the slide centred in it, with 18 points of margin on every side.
#include <optional>
#include <string>
#include <vector>

#include "geometry/geom.hpp"
#include "base/rect.hpp"
#include "program/macro_reply.hpp"

namespace scribbet {

struct PaneState {
    Rect pane;              // the scroll area, global screen points
    Rect content;           // the document inside it
    std::vector<Rect> bars; // the scroll bars, in the order of the scroll area's children
    std::string label;      // the document's description
    Rect window;            // the window that holds the pane
    // The slide's own frame, when the program shows the slide as an element of the document
    // (Impress does; PowerPoint shows only the document, the slide centred in its margins).
    std::optional<Rect> slide;

    // The part of the pane the scroll bars leave free.
    Rect visible() const;
    // The slide at `scale` screen points per slide point, centred in the document; the
    // slide's own frame when there is one, whatever the scale.
    Rect slideRect(double slideW, double slideH, double scale) const;
    // Screen points per slide point from the slide's own frame, else from a document larger
    // than the pane.
    std::optional<double> scaleFromContent(double slideW, double slideH) const;

    friend bool operator==(const PaneState&, const PaneState&) = default;
};

namespace FitOnOpen {

enum class Step { failed, settled, again };

// Setting the program to Fit is needed only when the pane can't be measured.
inline bool wanted(const std::optional<PaneState>& pane) { return !pane; }
// Whether the view has settled, from the previous and the latest "SCBT_Where" replies.
Step step(const MacroReply& last, const MacroReply& now);

} // namespace FitOnOpen

} // namespace scribbet
