#include "adapters/mac/mac_web_view.hpp"

#import <AppKit/AppKit.h>
#import <WebKit/WebKit.h>

#include <optional>
#include <utility>

#include "adapters/mac/ns_utf8.h"
#include "adapters/mac/page_request.hpp"
#include "adapters/mac/script_value.hpp"
#include "adapters/mac/web_errors.hpp"

namespace scribbet::mac {

static_assert(NSURLRequestReloadIgnoringLocalCacheData == page_request::cachePolicy);
static_assert(NSURLErrorCancelled == web_errors::urlCancelled);
static_assert(NSURLErrorTimedOut == web_errors::urlTimedOut);
static_assert(WKErrorJavaScriptResultTypeIsUnsupported == web_errors::resultTypeUnsupported);
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
static_assert(WebKitErrorFrameLoadInterruptedByPolicyChange == web_errors::frameLoadInterrupted);
#pragma clang diagnostic pop

namespace {
std::u16string unitsOf(NSString* s) {
    std::u16string out(s ? s.length : 0, u'\0');
    if (!out.empty()) [s getCharacters:reinterpret_cast<unichar*>(out.data()) range:NSMakeRange(0, out.size())];
    return out;
}

std::string textOf(NSString* s) { return utf8Of(unitsOf(s)); }

ScriptValue describe(id v, ScriptWalk& walk, int depth);

ScriptValue describeArray(NSArray* array, ScriptWalk& walk, int depth) {
    std::vector<ScriptValue> items;
    for (id item in array) {
        items.push_back(describe(item, walk, depth + 1));
        if (walk.stopped()) break;
    }
    return ScriptValue::array(std::move(items));
}

// Keys from a page are texts; any other key goes by its description.
ScriptValue describeDictionary(NSDictionary* dictionary, ScriptWalk& walk, int depth) {
    std::vector<std::pair<std::u16string, ScriptValue>> members;
    for (id key in dictionary) {
        NSString* name = [key isKindOfClass:NSString.class] ? key : [key description];
        members.emplace_back(unitsOf(name), describe(dictionary[key], walk, depth + 1));
        if (walk.stopped()) break;
    }
    return ScriptValue::dictionary(std::move(members));
}

// The Objective-C value as the portable description; booleans are told from numbers by their
// CoreFoundation type, as both are NSNumber.
ScriptValue describe(id v, ScriptWalk& walk, int depth) {
    if (!walk.take(depth)) return ScriptValue::ofKind(ScriptValue::Kind::cut);
    if (!v || v == NSNull.null) return ScriptValue::null();
    if ([v isKindOfClass:NSString.class]) return ScriptValue::ofText(unitsOf(v));
    if ([v isKindOfClass:NSNumber.class]) {
        if (CFGetTypeID((__bridge CFTypeRef)v) == CFBooleanGetTypeID()) return ScriptValue::ofBoolean([v boolValue]);
        return ScriptValue::ofNumber([v doubleValue]);
    }
    if ([v isKindOfClass:NSArray.class]) return describeArray(v, walk, depth);
    if ([v isKindOfClass:NSDictionary.class]) return describeDictionary(v, walk, depth);
    return ScriptValue::ofKind(ScriptValue::Kind::other);
}

ScriptValue describe(id v) {
    ScriptWalk walk;
    return describe(v, walk, 0);
}

EvalResult evaluated(id result, NSError* error) {
    const ScriptValue value = describe(result);
    if (!error) return evalResultOf(&value, nullptr);
    const ScriptError e{textOf(error.domain), static_cast<long>(error.code), textOf(error.localizedDescription)};
    return evalResultOf(&value, &e);
}
} // namespace

} // namespace scribbet::mac

using namespace scribbet;
using namespace scribbet::mac;

// The one change to WKWebView: a click on the layer while another program is active reaches
// the page, instead of only bringing the window forward.
@interface SCBLayerWebView : WKWebView
@end

@implementation SCBLayerWebView
- (BOOL)acceptsFirstMouse:(NSEvent*)event {
    return YES;
}
@end

// The web view's message handler and navigation delegate. The user content controller keeps
// its handlers strongly and the view keeps the controller, so this holds the view weakly:
// otherwise the page would keep itself alive. During a call it holds the view, which may be
// dropped by what the layer does with the call.
@interface SCBPageRelay : NSObject <WKScriptMessageHandler, WKNavigationDelegate>
- (instancetype)initWithView:(std::weak_ptr<MacWebView>)view;
@end

@implementation SCBPageRelay {
    std::weak_ptr<MacWebView> _view;
}

- (instancetype)initWithView:(std::weak_ptr<MacWebView>)view {
    if ((self = [super init])) _view = std::move(view);
    return self;
}

- (void)userContentController:(WKUserContentController*)controller didReceiveScriptMessage:(WKScriptMessage*)message {
    if (auto view = _view.lock()) view->messaged(messageBodyOf(describe(message.body)));
}

- (void)webView:(WKWebView*)webView
    decidePolicyForNavigationAction:(WKNavigationAction*)action
                    decisionHandler:(void (^)(WKNavigationActionPolicy))decisionHandler {
    auto view = _view.lock();
    const bool allow = view && view->navigationAllowed(textOf(action.request.URL.absoluteString));
    decisionHandler(allow ? WKNavigationActionPolicyAllow : WKNavigationActionPolicyCancel);
}

- (void)webView:(WKWebView*)webView
    decidePolicyForNavigationResponse:(WKNavigationResponse*)navigationResponse
                      decisionHandler:(void (^)(WKNavigationResponsePolicy))decisionHandler {
    auto view = _view.lock();
    NSURLResponse* response = navigationResponse.response;
    const bool http = [response isKindOfClass:NSHTTPURLResponse.class];
    const int status = http ? page_request::httpStatusOf(((NSHTTPURLResponse*)response).statusCode) : 0;
    const bool allow = !view || view->responseAllowed(http, status, navigationResponse.forMainFrame);
    decisionHandler(allow ? WKNavigationResponsePolicyAllow : WKNavigationResponsePolicyCancel);
}

- (void)webView:(WKWebView*)webView
    didFailProvisionalNavigation:(WKNavigation*)navigation
                       withError:(NSError*)error {
    [self failedWith:error];
}

- (void)webView:(WKWebView*)webView didFailNavigation:(WKNavigation*)navigation withError:(NSError*)error {
    [self failedWith:error];
}

- (void)failedWith:(NSError*)error {
    auto view = _view.lock();
    if (!view || !error) return;
    const auto kind = web_errors::pageLoadFailureKind(textOf(error.domain), static_cast<long>(error.code));
    view->failed({kind, textOf(error.localizedDescription)});
}

- (void)webViewWebContentProcessDidTerminate:(WKWebView*)webView {
    if (auto view = _view.lock()) view->contentProcessEnded();
}
@end

namespace scribbet::mac {

struct MacWebView::Impl {
    SCBLayerWebView* view = nil;
    WKUserContentController* controller = nil;
    SCBPageRelay* relay = nil;
    NSURLRequest* lastRequest = nil; // what a reload falls back on
};

namespace {
// The page draws on a clear layer; see page_request.hpp for why this is a key-value setting.
void clearBackground(WKWebView* view) {
    for (const char* setter : page_request::drawsBackgroundSetters) {
        if ([view respondsToSelector:NSSelectorFromString(@(setter))]) {
            [view setValue:@NO forKey:@(page_request::drawsBackgroundKey)];
            return;
        }
    }
}
} // namespace

MacWebView::MacWebView(std::weak_ptr<LayerPageEvents> events)
    : events_(std::move(events)), impl_(std::make_unique<Impl>()) {}

std::shared_ptr<MacWebView> MacWebView::make(const Rect& size, std::weak_ptr<LayerPageEvents> events) {
    std::shared_ptr<MacWebView> web(new MacWebView(std::move(events)));
    Impl& i = *web->impl_;
    i.relay = [[SCBPageRelay alloc] initWithView:web];
    i.controller = [[WKUserContentController alloc] init];
    [i.controller addScriptMessageHandler:i.relay name:@(page_request::messageHandlerName)];
    WKWebViewConfiguration* configuration = [[WKWebViewConfiguration alloc] init];
    configuration.userContentController = i.controller;
    const NSRect frame = NSMakeRect(0, 0, size.width(), size.height());
    i.view = [[SCBLayerWebView alloc] initWithFrame:frame configuration:configuration];
    clearBackground(i.view);
    i.view.autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    i.view.navigationDelegate = i.relay;
    // An SDK older than 13.3 does not declare the property at all.
#if defined(__MAC_OS_X_VERSION_MAX_ALLOWED) && __MAC_OS_X_VERSION_MAX_ALLOWED >= 130300
    if (@available(macOS 13.3, *)) i.view.inspectable = YES;
#endif
    return web;
}

// This object may go from inside one of the view's own delegate calls (the layer closing on
// a message): the view and its delegate are let go once the main queue is back at rest.
MacWebView::~MacWebView() {
    detach();
    SCBLayerWebView* view = impl_->view;
    SCBPageRelay* relay = impl_->relay;
    dispatch_async(dispatch_get_main_queue(), ^{
        (void)view;
        (void)relay;
    });
}

std::shared_ptr<LayerPageEvents> MacWebView::events() const { return detached_ ? nullptr : events_.lock(); }

void MacWebView::load(const std::string& url, Duration timeout) {
    if (detached_) return;
    NSString* text = nsUtf8(url); // nil for bytes that are not UTF-8: NSURL throws on a nil text
    NSURL* address = text ? [NSURL URLWithString:text] : nil;
    if (!address) {
        failed({PageLoadFailureKind::other, "The page's address is not a valid URL."});
        return;
    }
    // Every opening reads the page afresh from this program's own server, never a copy kept on
    // this Mac: local data only. Nothing stands between the view and a server on 127.0.0.1 whose
    // caches the stronger local-and-remote policy would also have to pass.
    impl_->lastRequest = [NSURLRequest requestWithURL:address
                                          cachePolicy:static_cast<NSURLRequestCachePolicy>(page_request::cachePolicy)
                                      timeoutInterval:page_request::timeoutIntervalOf(timeout)];
    [impl_->view loadRequest:impl_->lastRequest];
}

// After the page's process ended, the page is read again from its server. A view that never
// got as far as a page has nothing to reload, and asks for its last request again.
void MacWebView::reload() {
    if (detached_) return;
    if (![impl_->view reloadFromOrigin] && impl_->lastRequest) [impl_->view loadRequest:impl_->lastRequest];
}

void MacWebView::stopLoading() { [impl_->view stopLoading]; }

void MacWebView::evaluate(const std::string& script, std::function<void(EvalResult)> completion) {
    NSString* text = nsUtf8(script);
    if (!text) {
        if (!completion) return;
        dispatch_async(dispatch_get_main_queue(), ^{
            completion({{}, "The script is not valid UTF-8."});
        });
        return;
    }
    if (!completion) {
        [impl_->view evaluateJavaScript:text completionHandler:nil];
        return;
    }
    // The completion owns nothing of this view. Should the view go before WebKit answers, the
    // layer's own time-out ends any wait for the answer.
    [impl_->view evaluateJavaScript:text
                  completionHandler:^(id result, NSError* error) {
                      completion(evaluated(result, error));
                  }];
}

void MacWebView::detach() {
    if (detached_) return;
    detached_ = true;
    impl_->view.navigationDelegate = nil;
    [impl_->controller removeScriptMessageHandlerForName:@(page_request::messageHandlerName)];
}

bool MacWebView::navigationAllowed(const std::string& url) const {
    auto e = events();
    return e && e->allowNavigation(*this, url);
}

bool MacWebView::responseAllowed(bool isHTTP, int status, bool mainFrame) const {
    auto e = events();
    return !e || e->allowResponse(*this, isHTTP, status, mainFrame);
}

void MacWebView::failed(const PageLoadFailure& failure) const {
    if (auto e = events()) e->loadFailed(*this, failure);
}

void MacWebView::contentProcessEnded() const {
    if (auto e = events()) e->contentProcessEnded(*this);
}

void MacWebView::messaged(const nlohmann::json& body) const {
    if (auto e = events()) e->message(*this, body);
}

NSView* viewOf(const MacWebView& web) { return web.impl().view; }

} // namespace scribbet::mac
