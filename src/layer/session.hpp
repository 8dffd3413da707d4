#pragma once
// One opening of the drawing layer: everything that lives from `open` to `teardown`. It is
// made whole when the layer opens and dropped whole when it goes, so no field is reset by
// hand, and a late answer of an older opening, held through `weak`, finds nothing to change.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "geometry/geom.hpp"
#include "geometry/pane_state.hpp"
#include "layer/follower.hpp"
#include "ports/input_monitors.hpp"
#include "ports/layer_ui.hpp"
#include "ports/workspace.hpp"
#include "runtime/queues.hpp"
#include "runtime/weak.hpp"

namespace scribbet {

struct Session {
    Session(std::unique_ptr<LayerPanel> panel, std::shared_ptr<LayerWebView> web, std::string address, Point origin,
            const Geom& geom, const std::optional<PaneState>& pane);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool isCurrent(const LayerWebView& from) const { return web.get() == &from; }

    // The window, its page and where the window lies.
    std::unique_ptr<LayerPanel> panel;
    std::shared_ptr<LayerWebView> web;
    std::string address;
    Point origin; // the panel's top left, in the program's coordinates (y down)

    // The page channel.
    bool ready = false;
    int reloads = 0;
    Timer watchdog;
    std::string sentGeom;
    GeomFigures sentFigures; // of sentGeom, when that is not empty

    // Pass-through and keys.
    bool gotRegions = false;
    std::vector<Rect> regions;
    bool captureAll = false;
    // The placings under way that put the layer aside: it comes back when the last has ended,
    // not when the first does.
    int suspensions = 0;
    bool suspended() const { return suspensions > 0; }
    Subscription keyMonitor;
    Subscription mouseMonitor;

    // The follower.
    Timer poll;
    Timer spaceCheck; // whether the panel went along to the Space the user sees now
    std::optional<Geom> geom;
    bool host = false;
    std::optional<PaneState> pane;
    std::int64_t layerSlide = 0;
    std::string shownPresentation; // the presentation the program showed when last measured
    bool otherSlide = false;
    bool axBusy = false;
    bool measuring = false;
    std::optional<Instant> remeasureAt;
    std::optional<Rect> lastWin;
    std::optional<Instant> lastWinCheck;
    bool zoomNoted = false;
    std::string lastFailure; // the measurement failure logged last; empty once one worked

    // The program's activation and quitting.
    std::vector<Subscription> observers;

    WeakFactory<Session> weak{this};
};

} // namespace scribbet
