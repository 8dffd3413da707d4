#pragma once
// What WebKit's errors mean to the layer, written once. A failed page load names an error
// domain and a code; an evaluation in the page may fail with WebKit's own domain. The numbers
// are Apple's; mac_web_view.mm ties each one to the SDK's constant at compile time.
#include <string_view>

#include "ports/layer_ui.hpp"

namespace scribbet::mac::web_errors {

// The URL loading system's errors (NSURLErrorDomain).
inline constexpr std::string_view urlDomain = "NSURLErrorDomain";
inline constexpr long urlCancelled = -999; // NSURLErrorCancelled: a new load or a stop replaced it
inline constexpr long urlTimedOut = -1001; // NSURLErrorTimedOut: the request's time-out passed

// The legacy WebKit domain, which still names policy interruptions (WebKitErrorDomain).
inline constexpr std::string_view webKitDomain = "WebKitErrorDomain";
// WebKitErrorFrameLoadInterruptedByPolicyChange: our own response policy refused the page.
inline constexpr long frameLoadInterrupted = 102;

// WKWebView's domain (WKErrorDomain), for evaluations.
inline constexpr std::string_view wkDomain = "WKErrorDomain";
// WKErrorJavaScriptResultTypeIsUnsupported: the script ran but gave back something that has
// no Objective-C form (undefined, a function, a promise).
inline constexpr long resultTypeUnsupported = 5;

// A failed load's domain and code as the layer's kind; anything not listed is `other`.
PageLoadFailureKind pageLoadFailureKind(std::string_view domain, long code);

// Whether an evaluation's error only says the script's value could not come back: for the
// layer that is an answer of no use, not a failure worth a log line.
bool isUnreturnableResult(std::string_view domain, long code);

} // namespace scribbet::mac::web_errors
