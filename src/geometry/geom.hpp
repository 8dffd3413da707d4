#pragma once
// Where the slide lies on the screen and how the presentation program shows it, made from
// the add-in's geometry answer: a short list of numbers whose rectangle may be in points or
// in backing pixels, and which may lack the rectangle altogether.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/rect.hpp"

namespace scribbet {

struct PaneState;

struct Geom {
    static constexpr const char* reported = "PowerPoint reported the slide position";
    static constexpr const char* converted = "PowerPoint answered in pixels; converted to points";
    static constexpr const char* estimated =
        "Position estimated - press Shift+I to show the slide and Option+arrows to line it up";
    static constexpr const char* tracked = "Lined up with PowerPoint's view (Accessibility)";

    double slideW = 0;
    double slideH = 0;
    Rect rect;                 // global screen points, standardized
    std::string note;
    double zoom = 0;           // percent; 0 when not given
    std::optional<bool> fit;
    std::int64_t slideID = 0;
    std::optional<Rect> window;
    double split = 100;        // the slide pane's share of the window height, percent

    // Reads the screens' backing scales and the program's window; main thread.
    static std::optional<Geom> from(std::string_view answer);
    // The same with the facts given: the backing scales of all screens and the window.
    static std::optional<Geom> from(std::string_view answer, const std::vector<double>& backingScales,
                                    const std::optional<Rect>& programWindow);
    // The numeric fields of an answer, in order; fields that aren't numbers are skipped.
    static std::vector<double> numbers(std::string_view answer);

    // Screen points per slide point.
    double scale() const;
    // An estimate of the slide pane from the window, when no measurement exists.
    std::optional<Rect> paneGuess() const;
    std::optional<Rect> paneGuess(const std::optional<Rect>& programWindow) const;
    // The program is known not to be at Fit and the slide with its margins overflows the pane.
    bool canScroll() const;
    bool canScroll(const std::optional<Rect>& programWindow) const;

    // A copy lined up with a pane measurement: the slide where the document centres it, at
    // `scale` or else this geometry's own scale.
    Geom lined(const PaneState& p, std::optional<double> scale = std::nullopt) const;
    // The same in place, for a layer that lines up on every tick: nothing is copied.
    void lineUp(const PaneState& p, std::optional<double> scale = std::nullopt);

    friend bool operator==(const Geom&, const Geom&) = default;
};

} // namespace scribbet
