#pragma once
// The drawing layer: a transparent panel over the screen that holds the slide, with the
// drawing page in a web view. It follows the presentation program's view, passes the mouse
// through outside the page's regions, and survives a crashing page. Main thread only,
// except `command`.
//
// The object the rest of the program talks to. Its parts each do one job: the page channel
// (page_channel.hpp), the follower (follower.hpp), the panel's placement (panel_place.hpp)
// and pass-through and keys (pass_through.hpp); what one opening holds is its Session
// (session.hpp). Here: opening, closing, and showing or hiding the layer with the program.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "geometry/geom.hpp"
#include "geometry/pane_state.hpp"
#include "layer/follower.hpp"
#include "layer/page_channel.hpp"
#include "layer/page_protocol.hpp"
#include "layer/pass_through.hpp"
#include "ports/input_monitors.hpp"
#include "ports/layer_ui.hpp"
#include "ports/workspace.hpp"
#include "program/ppt.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

class AXAccess;
class Idle;
class Notice;
class PaneReader;
class Preferences;
class Screens;
struct Session;

class Overlay final : public LayerPageEvents, public std::enable_shared_from_this<Overlay> {
public:
    struct Ports {
        std::shared_ptr<LayerFactory> factory; // none: no layer opens
        std::shared_ptr<InputMonitors> input;
        std::shared_ptr<Workspace> workspace;
        PaneReader& reader;
        Queue& measureQueue; // where the add-in is asked
        MainQueue& main;
        const Screens& screens;
        Preferences& prefs; // the user's nudge
        PPT& ppt;
        AXAccess& ax;
        Notice& notice;
        Idle& idle;          // looks again once the layer has closed
        std::uint16_t port;  // this program's server, which serves the page
    };

    static constexpr Duration tickInterval = std::chrono::nanoseconds(1'000'000'000 / 60);
    // When the program's interface tells of every change to its view, the layer looks at once
    // when told, and otherwise only this often: a layer left alone then costs next to nothing.
    static constexpr Duration toldTickInterval = std::chrono::milliseconds(50);
    static constexpr Duration watchdogLimit = std::chrono::seconds(15);
    static constexpr Duration measureEvery = std::chrono::seconds(1);
    static constexpr Duration windowCheckEvery = std::chrono::milliseconds(500);
    static constexpr Duration trustCheckEvery = std::chrono::seconds(2);
    static constexpr Duration afterWindowChange = std::chrono::milliseconds(300);
    static constexpr Duration afterPaneResize = std::chrono::milliseconds(200);
    static constexpr Duration afterRealign = std::chrono::milliseconds(350);
    // Long enough for the system's slide from one Space to the next to end.
    static constexpr Duration afterSpaceChange = std::chrono::milliseconds(800);
    static constexpr double whereTimeout = 5;
    static constexpr double sameScale = 0.002;

    // The layer the entry point built.
    static Overlay& shared();
    explicit Overlay(Ports ports);
    ~Overlay() override;

    bool isOpen() const { return session_ != nullptr; }
    void open(const Geom& geom, const std::optional<PaneState>& pane, const std::string& tool, bool fitted = false);
    void close(bool activate = true);
    void teardown();
    bool frontOK() const;
    void armWatchdog();

    // Page commands and messages.
    std::optional<std::string> command(const std::string& json, double timeoutSeconds = 3);
    void tell(const nlohmann::json& command);
    void push();
    static std::string num(double value) { return PageChannel::num(value); }
    static std::string enc(const std::string& text) { return PageChannel::enc(text); }

    // Following the program's view.
    void tick();
    void realign(const std::string& answer);
    void frontChanged();
    void spaceChanged();
    void suspend(bool on);
    void bringToFront();

    // LayerPageEvents
    bool allowNavigation(const LayerWebView& from, const std::string& url) override;
    bool allowResponse(const LayerWebView& from, bool isHTTP, int status, bool mainFrame) override;
    void loadFailed(const LayerWebView& from, const PageLoadFailure& failure) override;
    void contentProcessEnded(const LayerWebView& from) override;
    void message(const LayerWebView& from, const nlohmann::json& body) override;

    // What tests and the API read; with no layer open, nothing.
    const std::optional<Geom>& geom() const;
    const std::optional<PaneState>& pane() const;
    bool host() const;
    bool ready() const;
    bool suspended() const;
    const std::vector<Rect>& regions() const;
    bool captureAll() const;
    Point origin() const;
    const std::string& sentGeom() const;
    std::optional<Instant> remeasureAt() const;
    LayerPanel* panel() const;
    const std::string& address() const;
    // The presentation the layer opened last was measured over, as the add-in named it; any
    // thread. Kept after the layer closes: a placing its page asked for may still be on its
    // way, and it belongs to that presentation, not to whichever is active by then.
    std::string presentation() const;

    // The layer's geometry command for the page, keys sorted; none without a geometry.
    std::optional<std::string> geomCommand() const;
    // The "regions" rectangles that are usable.
    static std::vector<Rect> regionsFrom(const nlohmann::json& rects) { return page_protocol::regionRects(rects); }

private:
    friend class PageChannel;
    friend class Follower;
    friend class PassThrough;

    bool start(const Geom& working, const std::optional<PaneState>& pane, const std::string& tool, bool fitted);
    void watch(Session& s);
    void unwatch(Session& s);
    void seeThroughLost();
    void keepPresentation(const std::string& presentation);
    // The session of the page `from`, none when that page is not the layer's any more.
    Session* current(const LayerWebView& from) const;
    const Ports& ports() const { return ports_; }
    Instant now() const;

    Ports ports_;
    PageChannel channel_{*this};
    Follower follower_{*this};
    PassThrough pass_{*this};
    std::unique_ptr<Session> session_; // while the layer is open
    mutable std::mutex presentationMutex_;
    std::string presentation_; // guarded by presentationMutex_
};

} // namespace scribbet
