#pragma once
// The drawing layer's window and web view. The core decides; these only do.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "base/rect.hpp"
#include "ports/clock.hpp"

namespace scribbet {

// A borderless, transparent, non-activating panel on the floating level over one screen;
// it may become key but never main, and may share a space with a full-screen window.
class LayerPanel {
public:
    virtual ~LayerPanel() = default;
    // In the platform's screen convention (bottom-left origin).
    virtual Rect frame() const = 0;
    virtual void setFrame(const Rect& frame) = 0;
    virtual bool isVisible() const = 0;
    // Key and front, the web view first responder (activates nothing).
    virtual void makeKeyAndFront() = 0;
    // Front without becoming key.
    virtual void orderFrontRegardless() = 0;
    virtual void hide() = 0;
    virtual bool ignoresMouse() const = 0;
    virtual void setIgnoresMouse(bool ignore) = 0;
    // Drops the content view (the web view) and hides the panel for good.
    virtual void clear() = 0;
    // Whether the panel is on the Space (desktop) the user sees; a desktop without Spaces has one.
    virtual bool onActiveSpace() const { return true; }
};

// What an evaluation in the page gave back: a text, a JSON value (array or object), another
// value the layer has no use for, or an error.
struct EvalResult {
    std::variant<std::monostate, std::string, nlohmann::json> value;
    std::optional<std::string> error;
};

// Calls from the web view into the layer. Each names the web view it comes from, so that a
// late call from a replaced page is told apart from the current one.
class LayerWebView;

// Why a page load failed, in Scribbet's terms; each web view adapter maps its engine's
// error domains and codes to these once.
enum class PageLoadFailureKind {
    cancelled,        // stopped on purpose: a new load or a stop replaced it
    frameInterrupted, // a policy decision refused what the frame was about to show
    timedOut,
    other,
};

struct PageLoadFailure {
    PageLoadFailureKind kind = PageLoadFailureKind::other;
    std::string description; // the engine's own words, for the log line
};

class LayerPageEvents {
public:
    virtual ~LayerPageEvents() = default;
    virtual bool allowNavigation(const LayerWebView& from, const std::string& url) = 0;
    virtual bool allowResponse(const LayerWebView& from, bool isHTTP, int status, bool mainFrame) = 0;
    virtual void loadFailed(const LayerWebView& from, const PageLoadFailure& failure) = 0;
    virtual void contentProcessEnded(const LayerWebView& from) = 0;
    // A "scribbet" script message's body.
    virtual void message(const LayerWebView& from, const nlohmann::json& body) = 0;
};

class LayerWebView {
public:
    virtual ~LayerWebView() = default;
    // Loads ignoring any cache, giving up after `timeout`.
    virtual void load(const std::string& url, Duration timeout) = 0;
    virtual void reload() = 0;
    virtual void stopLoading() = 0;
    // Evaluates script in the page; the completion (optional) runs on the main thread.
    virtual void evaluate(const std::string& script, std::function<void(EvalResult)> completion) = 0;
    // Forgets the events receiver and the "scribbet" message handler.
    virtual void detach() = 0;
};

// Makes the layer's window and page over a screen frame (platform convention).
class LayerFactory {
public:
    virtual ~LayerFactory() = default;
    // Whether the display can show a window through which what lies below stays visible. An
    // X display can only while a compositing manager runs, which may start or stop at any
    // time; a system whose windows are always composited (macOS) keeps this answer.
    virtual bool canShowSeeThrough() const { return true; }
    virtual std::unique_ptr<LayerPanel> makePanel(const Rect& screenFrame) = 0;
    // The web view fills the panel and reports to `events`, held weakly.
    virtual std::shared_ptr<LayerWebView> makeWebView(LayerPanel& panel, std::weak_ptr<LayerPageEvents> events) = 0;
};

} // namespace scribbet
