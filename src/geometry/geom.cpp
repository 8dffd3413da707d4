#include "geometry/geom.hpp"

#include <algorithm>
#include <cmath>

#include "app/whole_number.hpp"
#include "geometry/pane_state.hpp"
#include "ports/screens.hpp"
#include "program/ppt.hpp"
#include "app/host.hpp"

namespace scribbet {

namespace {
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

Rect divided(const Rect& r, double k) { return {r.x / k, r.y / k, r.w / k, r.h / k}; }

Rect estimate(const std::vector<double>& n, double zoom, const Rect& window) {
    const double z = zoom > 0 ? zoom / 100 : 1;
    const double w = n[0] * z, h = n[1] * z;
    return {window.midX() - w / 2 + 60, window.midY() - h / 2 + 40, w, h};
}
} // namespace

std::vector<double> Geom::numbers(std::string_view answer) {
    std::vector<double> out;
    std::size_t start = 0;
    while (start <= answer.size()) {
        const std::size_t end = answer.find_first_of("|,", start);
        const auto field = trimmed(answer.substr(start, end == std::string_view::npos ? end : end - start));
        if (!field.empty()) {
            // A number beyond a double's range is a number all the same: the fields after it
            // keep their places, and the rules for infinite values then refuse it.
            if (auto v = whole::saturating(field)) out.push_back(*v);
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return out;
}

std::string Geom::presentationOf(std::string_view answer) {
    // Counted by bars alone: the field is a text, which may hold commas and digits, and it
    // comes after the numbers so that a reader of the numbers by position never meets it
    // before the fields it knows.
    constexpr std::size_t field = 14;
    std::size_t start = 0;
    if (const auto bar = answer.find('|'); bar != std::string_view::npos && trimmed(answer.substr(0, bar)) == "OK") {
        start = bar + 1;
    }
    for (std::size_t i = 0; i < field; ++i) {
        const std::size_t bar = answer.find('|', start);
        if (bar == std::string_view::npos) return {};
        start = bar + 1;
    }
    const std::size_t end = answer.find('|', start);
    return std::string(trimmed(answer.substr(start, end == std::string_view::npos ? end : end - start)));
}

std::optional<Geom> Geom::from(std::string_view answer, const Screens& screens, const PPT& ppt) {
    return from(answer, backingScales(screens), ppt.windowBounds());
}

namespace {
// The distinct backing scales above 1, largest first: the factors a rectangle given in pixels
// may be off by.
std::vector<double> pixelScales(const std::vector<double>& backingScales) {
    std::vector<double> scales;
    for (double s : backingScales) {
        if (s > 1.01 && std::find(scales.begin(), scales.end(), s) == scales.end()) scales.push_back(s);
    }
    std::sort(scales.rbegin(), scales.rend());
    return scales;
}

// A rectangle that fits the zoom, once or at a whole multiple (pixels on a denser screen).
bool placedByZoom(Geom& g, double slideW) {
    const double r = g.rect.w / (slideW * g.zoom / 100);
    for (int k = 1; k <= 3; ++k) {
        if (std::abs(r / k - 1) < 0.12) {
            g.rect = divided(g.rect, k);
            g.note = k == 1 ? Geom::reported : Geom::converted;
            return true;
        }
    }
    return false;
}

// A rectangle inside the program's window as given, or once divided by a backing scale.
bool placedInWindow(Geom& g, const Rect& programWindow, const std::vector<double>& scales) {
    const Rect grown = programWindow.grown(4);
    if (grown.contains(g.rect) && g.rect.w > 50) {
        g.note = Geom::reported;
        return true;
    }
    for (double scale : scales) {
        const Rect candidate = divided(g.rect, scale);
        if (grown.contains(candidate) && candidate.w > 50) {
            g.rect = candidate;
            g.note = Geom::converted;
            return true;
        }
    }
    return false;
}

// The slide's rectangle on the screen, as reported, converted or estimated; false when the
// answer gives no usable rectangle and there is no window to estimate one from.
bool placeOnScreen(Geom& g, const std::vector<double>& n, const std::vector<double>& backingScales,
                   const std::optional<Rect>& programWindow) {
    const bool usable = g.rect.w > 1 && g.rect.h > 1;
    if (!usable && !programWindow) {
        if (g.rect.w <= 1) return false;
        g.note = Geom::reported;
        return true;
    }
    if (usable && g.zoom > 0 && placedByZoom(g, n[0])) return true;
    if (usable && !programWindow) {
        g.note = Geom::reported;
        return true;
    }
    if (usable && placedInWindow(g, *programWindow, pixelScales(backingScales))) return true;
    g.rect = estimate(n, g.zoom, *programWindow);
    g.note = Geom::estimated;
    return true;
}
} // namespace

std::optional<Geom> Geom::from(std::string_view answer, const std::vector<double>& backingScales,
                               const std::optional<Rect>& programWindow) {
    const std::vector<double> n = numbers(answer);
    if (n.size() < 6 || !(n[0] > 0) || !(n[1] > 0)) return std::nullopt;
    if (std::any_of(n.begin(), n.end(), [](double v) { return !std::isfinite(v); })) return std::nullopt;

    Geom g;
    g.slideW = n[0];
    g.slideH = n[1];
    g.rect = Rect{n[2], n[3], n[4] - n[2], n[5] - n[3]}.standardized();
    g.zoom = n.size() > 6 ? n[6] : 0;
    if (!placeOnScreen(g, n, backingScales, programWindow)) return std::nullopt;

    if (n.size() >= 11 && n[9] > 50 && n[10] > 50) g.window = Rect{n[7], n[8], n[9], n[10]};
    if (n.size() >= 12) {
        // An identifier beyond 64 bits names no slide this program can address.
        const double id = std::trunc(n[11]);
        g.slideID = std::abs(id) < 9.2e18 ? static_cast<std::int64_t>(id) : 0;
    }
    if (n.size() >= 13) g.fit = n[12] != 0;
    g.split = n.size() >= 14 && n[13] > 0 ? n[13] : 100;
    g.presentation = presentationOf(answer);
    return g;
}

void Geom::lineUp(const PaneState& p, std::optional<double> s) {
    rect = p.slideRect(slideW, slideH, s.value_or(scale()));
    note = tracked;
}

std::string noteText(GeomNote note) {
    const Host& host = Host::current();
    switch (note) {
    case GeomNote::reported:
        return host.say("PowerPoint reported the slide position");
    case GeomNote::converted:
        return host.say("PowerPoint answered in pixels; converted to points");
    case GeomNote::estimated:
        return "Position estimated - press Shift+I to show the slide and Option+arrows to line it up";
    case GeomNote::tracked:
        break;
    }
    return host.say("Lined up with PowerPoint's view (Accessibility)");
}

double Geom::scale() const { return slideW > 0 ? rect.w / slideW : 1; }

std::optional<Rect> Geom::paneGuess(const PPT& ppt) const { return paneGuess(window ? window : ppt.windowBounds()); }

std::optional<Rect> Geom::paneGuess(const std::optional<Rect>& programWindow) const {
    const std::optional<Rect> w = window ? window : programWindow;
    if (!w) return std::nullopt;
    const double bottom = w->maxY() - 33;
    const double s = (split <= 10 ? 10 : std::min(split, 100.0)) / 100;
    const double left = std::max(w->minX(), 2 * rect.midX() - w->maxX());
    const double top = std::max(w->minY() + 60, (rect.midY() - bottom * s * 0.5) / (1 - s * 0.5));
    const Rect guess{left, top, w->maxX() - left, s * (bottom - top)};
    if (guess.width() > rect.width() / 2 && guess.height() > rect.height() / 2) return guess;
    return std::nullopt;
}

bool Geom::canScroll(const PPT& ppt) const { return canScroll(window ? window : ppt.windowBounds()); }

bool Geom::canScroll(const std::optional<Rect>& programWindow) const {
    if (!fit || *fit) return false;
    const auto guess = paneGuess(programWindow);
    if (!guess) return true;
    return guess->w + 3 < rect.w + 36 || guess->h + 3 < rect.h + 36;
}

} // namespace scribbet
