#pragma once
// How the web view asks for the drawing page and talks with it, in the numbers and names
// WebKit takes: the request's cache policy and time-out, the script message handler's name,
// and the key-value names that turn the view's own background off.
#include <cstdint>

#include "ports/clock.hpp"

namespace scribbet::mac::page_request {

// NSURLRequestReloadIgnoringLocalCacheData: every opening reads the page afresh from this
// program's own server, never a copy kept on the Mac.
inline constexpr std::uint64_t cachePolicy = 1;

// NSURLRequest's own default time-out, for a time-out that is no time at all.
inline constexpr double defaultTimeoutSeconds = 60;

// The request's timeoutInterval for the layer's time-out: its seconds, or the default for a
// time-out of zero or less (which NSURLRequest does not take).
double timeoutIntervalOf(Duration timeout);

// An HTTP response's status code as the layer takes it: kept as it is when it fits, never
// negative, and a code too large for an int stays an error code.
int httpStatusOf(long long statusCode);

// The page posts to window.webkit.messageHandlers.scribbet.
inline constexpr const char* messageHandlerName = "scribbet";

// WKWebView draws a white background under the page unless told not to. macOS 12 has no
// public switch for it (underPageBackgroundColor only colours what shows past the page's
// edges when it scrolls too far), so the view's key-value property is set, when the view
// answers to one of its setters.
inline constexpr const char* drawsBackgroundKey = "drawsBackground";
inline constexpr const char* drawsBackgroundSetters[] = {"_setDrawsBackground:", "setDrawsBackground:"};

} // namespace scribbet::mac::page_request
