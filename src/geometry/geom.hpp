#pragma once
// Where the slide lies on the screen and how the presentation program shows it, made from
// the add-in's geometry answer: a short list of numbers whose rectangle may be in points or
// in backing pixels, and which may lack the rectangle altogether.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/rect.hpp"

namespace scribbet {

class PPT;
class Screens;

struct PaneState;

// How a geometry's rectangle was found.
enum class GeomNote {
    reported,  // the add-in's rectangle, in points
    converted, // the add-in's rectangle, in backing pixels
    estimated, // no rectangle to trust: guessed from the window
    tracked,   // lined up with the measured pane
};
// The words the log and the page show for a note.
std::string noteText(GeomNote note);

struct Geom {
    using enum GeomNote;

    double slideW = 0;
    double slideH = 0;
    Rect rect;                 // global screen points, standardized
    GeomNote note = reported;
    double zoom = 0;           // percent; 0 when not given
    std::optional<bool> fit;
    std::int64_t slideID = 0;
    std::optional<Rect> window;
    double split = 100;        // the slide pane's share of the window height, percent
    // Which open presentation the slide belongs to, as the add-in names it (a text of its
    // own choosing, handed back with every placing so the drawing lands in that one and no
    // other: slide identifiers repeat from one presentation to the next). Empty when the
    // add-in does not say; then the program's active presentation receives the drawing.
    std::string presentation;

    // Reads the screens' backing scales and the program's window; main thread.
    static std::optional<Geom> from(std::string_view answer, const Screens& screens, const PPT& ppt);
    // The same with the facts given: the backing scales of all screens and the window.
    static std::optional<Geom> from(std::string_view answer, const std::vector<double>& backingScales,
                                    const std::optional<Rect>& programWindow);
    // The numeric fields of an answer, in order; fields that aren't numbers are skipped.
    static std::vector<double> numbers(std::string_view answer);
    // The answer's presentation field (its fifteenth "|"-separated field, after a leading
    // "OK" when the answer has one), trimmed; empty when there is none.
    static std::string presentationOf(std::string_view answer);

    // Screen points per slide point.
    double scale() const;
    // An estimate of the slide pane from the window, when no measurement exists; without a
    // window of its own, from the program's window as it is now.
    std::optional<Rect> paneGuess(const PPT& ppt) const;
    std::optional<Rect> paneGuess(const std::optional<Rect>& programWindow) const;
    // The program is known not to be at Fit and the slide with its margins overflows the pane.
    bool canScroll(const PPT& ppt) const;
    bool canScroll(const std::optional<Rect>& programWindow) const;

    // A copy lined up with a pane measurement: the slide where the document centres it, at
    // `scale` or else this geometry's own scale.
    Geom lined(const PaneState& p, std::optional<double> scale = std::nullopt) const;
    // The same in place, for a layer that lines up on every tick: nothing is copied.
    void lineUp(const PaneState& p, std::optional<double> scale = std::nullopt);

    friend bool operator==(const Geom&, const Geom&) = default;
};

} // namespace scribbet
