#pragma once
// The follower: keeps the layer on the slide while the program scrolls, zooms, moves its
// window or changes slides. It measures the slide's place (the pane reader when Accessibility
// allows it, else the add-in's geometry answers), keeps the layer's geometry, and tells the
// page what changed ("geom", "slide", "host", "note").
#include <array>
#include <optional>
#include <string>

#include "geometry/geom.hpp"
#include "geometry/pane_state.hpp"
#include "program/ppt.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

class Overlay;
class PaneReader;
struct Session;

// The numbers of a geometry command, all it depends on.
struct GeomFigures {
    std::array<double, 5> n{}; // x, y, w, h, pz
    std::array<double, 4> pane{};
    bool host = false, fit = false, hasPane = false;
    bool same(const GeomFigures& other) const;
};

class Follower {
public:
    explicit Follower(Overlay& layer);

    // One tick of a layer that shows.
    void tick(Session& s);
    // A geometry answer given from outside (a second link while the layer is open).
    void realign(Session& s, const std::string& answer);
    // A click in another program: if that is the presentation program, its view may change.
    void mouseElsewhere(Session& s);

    static GeomFigures figures(const Session& s, const PPT& ppt); // with a geometry
    static std::optional<std::string> geomText(const GeomFigures& f);

private:
    Instant now() const;
    void follow(Session& s);
    void update(Session& s, PaneState next);
    void lost(Session& s);
    void remeasure(Session& s);
    void measured(Session& s, const Geom& m);
    void noteSlide(Session& s);
    void measureFailed(Session& s, const PPT::Attempt& a);
    void watchWindow(Session& s);
    void upgrade(Session& s);
    void upgraded(Session& s, const PaneState& found);

    Overlay& layer_;
    // Across openings: when Accessibility was last asked about, and the add-in last answered.
    Instant lastTrustCheck_;
    Instant lastMeasure_;
};

} // namespace scribbet
