#pragma once
// The drawing page in a WKWebView: clear, with the "scribbet" message handler, script
// evaluation, and WebKit's navigation delegate calls turned into the layer's page events.
// WebKit does the request's cache policy and time-out itself (a load that times out fails
// with NSURLErrorTimedOut), and calls its delegates on the main thread.
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "ports/layer_ui.hpp"

#ifdef __OBJC__
@class NSView;
#endif

namespace scribbet::mac {

class MacWebView final : public LayerWebView, public std::enable_shared_from_this<MacWebView> {
public:
    // Main thread. A view of `size` (its x and y are not used) reporting to `events`, held
    // weakly. The delegates hold the view weakly in turn, so the view is made shared.
    static std::shared_ptr<MacWebView> make(const Rect& size, std::weak_ptr<LayerPageEvents> events);
    ~MacWebView() override;
    MacWebView(const MacWebView&) = delete;
    MacWebView& operator=(const MacWebView&) = delete;

    void load(const std::string& url, Duration timeout) override;
    void reload() override;
    void stopLoading() override;
    void evaluate(const std::string& script, std::function<void(EvalResult)> completion) override;
    void detach() override;

    // What WebKit's delegates report, passed on to the layer; nothing once detached.
    bool navigationAllowed(const std::string& url) const;
    bool responseAllowed(bool isHTTP, int status, bool mainFrame) const;
    void failed(const PageLoadFailure& failure) const;
    void contentProcessEnded() const;
    void messaged(const nlohmann::json& body) const;

    // The Objective-C side, defined in the .mm only.
    struct Impl;
    Impl& impl() const { return *impl_; }

private:
    explicit MacWebView(std::weak_ptr<LayerPageEvents> events);
    std::shared_ptr<LayerPageEvents> events() const;

    std::weak_ptr<LayerPageEvents> events_;
    bool detached_ = false;
    std::unique_ptr<Impl> impl_;
};

#ifdef __OBJC__
// The web view itself, for the factory to put into the panel.
NSView* viewOf(const MacWebView& web);
#endif

} // namespace scribbet::mac
