#pragma once
// The drawing layer: a transparent panel over the screen that holds the slide, with the
// drawing page in a web view. It follows the presentation program's view, passes the mouse
// through outside the page's regions, and survives a crashing page. Main thread only,
// except `command`.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "geometry/geom.hpp"
#include "geometry/pane_state.hpp"
#include "ports/input_monitors.hpp"
#include "ports/layer_ui.hpp"
#include "ports/workspace.hpp"
#include "powerpoint/ppt.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

class PaneReader;

class Overlay final : public LayerPageEvents, public std::enable_shared_from_this<Overlay> {
public:
    struct Ports {
        std::shared_ptr<LayerFactory> factory;
        std::shared_ptr<InputMonitors> input;
        std::shared_ptr<Workspace> workspace;
        PaneReader* reader = nullptr; // the shared reader when none is given
        Queue* measureQueue = nullptr; // where the add-in is asked; the global queue when none
    };

    static constexpr Duration tickInterval = std::chrono::nanoseconds(1'000'000'000 / 60);
    static constexpr Duration watchdogLimit = std::chrono::seconds(15);
    static constexpr Duration measureEvery = std::chrono::seconds(1);
    static constexpr Duration windowCheckEvery = std::chrono::milliseconds(500);
    static constexpr Duration trustCheckEvery = std::chrono::seconds(2);
    static constexpr Duration afterWindowChange = std::chrono::milliseconds(300);
    static constexpr Duration afterPaneResize = std::chrono::milliseconds(200);
    static constexpr Duration afterRealign = std::chrono::milliseconds(350);
    static constexpr double whereTimeout = 5;
    static constexpr double sameScale = 0.002;

    static Overlay& shared();
    static void install(Ports ports);
    explicit Overlay(Ports ports);
    ~Overlay() override;

    bool isOpen() const { return panel_ != nullptr; }
    void open(const Geom& geom, const std::optional<PaneState>& pane, const std::string& tool, bool fitted = false);
    void close(bool activate = true);
    void teardown();
    bool frontOK() const;
    void armWatchdog();

    // Page commands and messages.
    std::optional<std::string> command(const std::string& json, double timeoutSeconds = 3);
    void tell(const nlohmann::json& command);
    void push();
    static std::string num(double value);
    static std::string enc(const std::string& text);

    // Following the program's view.
    void tick();
    void realign(const std::string& answer);
    void frontChanged();
    void suspend(bool on);
    void bringToFront();

    // LayerPageEvents
    bool allowNavigation(const LayerWebView& from, const std::string& url) override;
    bool allowResponse(const LayerWebView& from, bool isHTTP, int status, bool mainFrame) override;
    void loadFailed(const LayerWebView& from, const PageLoadFailure& failure) override;
    void contentProcessEnded(const LayerWebView& from) override;
    void message(const LayerWebView& from, const nlohmann::json& body) override;

    // What tests and the API read.
    const std::optional<Geom>& geom() const { return geom_; }
    const std::optional<PaneState>& pane() const { return pane_; }
    bool host() const { return host_; }
    bool ready() const { return ready_; }
    bool suspended() const { return suspended_; }
    const std::vector<Rect>& regions() const { return regions_; }
    bool captureAll() const { return captureAll_; }
    Point origin() const { return origin_; }
    const std::string& sentGeom() const { return sentGeom_; }
    std::optional<Instant> remeasureAt() const { return remeasureAt_; }
    LayerPanel* panel() const { return panel_.get(); }
    const std::string& address() const { return address_; }

    // The layer's geometry command for the page, keys sorted; none without a geometry.
    std::optional<std::string> geomCommand() const;
    // The "regions" rectangles that are usable.
    static std::vector<Rect> regionsFrom(const nlohmann::json& rects);

private:
    // The numbers of a geometry command, all it depends on.
    struct GeomFigures {
        std::array<double, 5> n{}; // x, y, w, h, pz
        std::array<double, 4> pane{};
        bool host = false, fit = false, hasPane = false;
        bool same(const GeomFigures& other) const;
    };
    GeomFigures geomFigures() const; // with a geometry
    static std::optional<std::string> geomText(const GeomFigures& f);

    void watch();
    void seeThroughLost();
    void follow();
    void update(PaneState next);
    void lost();
    void remeasure();
    void measured(const Geom& m);
    void measureFailed(const PPT::Attempt& a);
    void watchWindow();
    void upgrade();
    void passThrough();
    bool keyDown(const KeyEvent& e);
    void mouseElsewhere();
    bool isCurrent(const LayerWebView& from) const { return web_ && web_.get() == &from; }
    Rect toLayer(const Rect& r) const { return {r.x - origin_.x, r.y - origin_.y, r.w, r.h}; }
    std::optional<Rect> paneRect() const;
    void moveToScreenOf(const Rect& probe);
    void queueClose();
    PaneReader& reader() const;
    Instant now() const { return clock().now(); }

    Ports ports_;
    std::unique_ptr<LayerPanel> panel_;
    std::shared_ptr<LayerWebView> web_;
    bool ready_ = false;
    bool gotRegions_ = false;
    std::vector<Rect> regions_;
    bool captureAll_ = false;
    bool suspended_ = false;
    int reloads_ = 0;
    Timer watchdog_;
    Timer poll_;
    std::vector<Subscription> observers_;
    Subscription keyMonitor_;
    Subscription mouseMonitor_;
    std::optional<Geom> geom_;
    bool host_ = false;
    std::optional<PaneState> pane_;
    std::int64_t layerSlide_ = 0;
    bool otherSlide_ = false;
    Point origin_;
    bool axBusy_ = false;
    std::string sentGeom_;
    GeomFigures sentFigures_; // of sentGeom_, when that is not empty
    std::optional<Instant> remeasureAt_;
    bool measuring_ = false;
    std::optional<Rect> lastWin_;
    std::optional<Instant> lastWinCheck_;
    Instant lastTrustCheck_;
    bool zoomNoted_ = false;
    Instant lastMeasure_;
    std::string lastFailure_; // the measurement failure logged last; empty once one worked
    std::string address_;
};

} // namespace scribbet
