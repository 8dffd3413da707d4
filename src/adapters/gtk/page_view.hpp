#pragma once
// The drawing page in a WebKitGTK web view: transparent, with the "scribbet" message handler,
// script evaluation, and the navigation callbacks turned into the layer's page events.
// WebKitGTK has neither a per-request cache policy nor a request time-out, so the view's web
// context keeps no disk cache to read from, the main request asks for a fresh copy, and the
// time-out is a timer that ends when the response arrives. What the page stores (its local
// storage) stays on disk from one run of the program to the next.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ports/layer_ui.hpp"
#include "runtime/queues.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _JSCValue JSCValue;

namespace scribbet::gtkhost {

// Where the layer's web context keeps the page's stored data ($XDG_DATA_HOME/scribbet/page)
// and WebKit's caches ($XDG_CACHE_HOME/scribbet/page), read when the first page view is made.
std::filesystem::path pageDataDirectory();
std::filesystem::path pageCacheDirectory();

// What a WebKitGTK load error (its domain's name and code) means to the layer: this
// adapter's one table.
PageLoadFailureKind pageLoadFailureKind(const std::string& domain, int code);

// A script value as the layer takes it: a text; an array or object as JSON; anything else
// (numbers, Booleans, null, undefined, functions) as nothing.
EvalResult evalResultOf(JSCValue* value);

// A message body with the values the page sent: every number as it is (infinities and NaN
// included), texts as valid UTF-8; null for undefined and functions.
nlohmann::json messageBodyOf(JSCValue* value);

class PageView final : public LayerWebView, public std::enable_shared_from_this<PageView> {
public:
    // Its load time-outs run on `main`.
    PageView(std::weak_ptr<LayerPageEvents> events, MainQueue& main);
    ~PageView() override;
    PageView(const PageView&) = delete;
    PageView& operator=(const PageView&) = delete;

    void load(const std::string& url, Duration timeout) override;
    void reload() override;
    void stopLoading() override;
    void evaluate(const std::string& script, std::function<void(EvalResult)> completion) override;
    void detach() override;

    GtkWidget* widget() const;
    WebKitWebView* view() const { return view_; }

private:
    static int decidePolicy(WebKitWebView*, void* decision, int type, void* self);
    static int loadFailed(WebKitWebView*, int event, const char* uri, void* error, void* self);
    static void loadChanged(WebKitWebView*, int event, void* self);
    static void processEnded(WebKitWebView*, int reason, void* self);
    static void scriptMessage(void* manager, void* result, void* self);
    std::shared_ptr<LayerPageEvents> events() const;
    void armTimeout();
    void timedOut();

    std::weak_ptr<LayerPageEvents> events_;
    MainQueue& main_;
    WebKitWebView* view_ = nullptr;
    void* manager_ = nullptr; // WebKitUserContentManager
    bool detached_ = false;
    Duration timeout_{};
    Timer timeoutTimer_;
    // From a load or reload until WebKit says it started: what arrives meanwhile is the end
    // of the load before it, and must not stop the new one's time-out.
    bool awaitingStart_ = false;
};

} // namespace scribbet::gtkhost
