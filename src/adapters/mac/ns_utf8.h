#pragma once
// UTF-8 across the Objective-C++ glue, for the .mm files only. Exact bytes in, so an
// embedded NUL is kept (stringWithUTF8String: would stop there) and invalid UTF-8 is nil;
// lossy out, so a text with a lone surrogate still comes through instead of vanishing.
#ifndef __OBJC__
#error "ns_utf8.h speaks NSString: include it from Objective-C++ (.mm) files only"
#endif
#import <Foundation/Foundation.h>

#include <optional>
#include <string>

namespace scribbet::mac {

inline NSString* nsUtf8(const std::string& s) {
    return [[NSString alloc] initWithBytes:s.data() length:s.size() encoding:NSUTF8StringEncoding];
}

inline std::optional<std::string> utf8(NSString* s) {
    if (!s) return std::nullopt;
    NSData* data = [s dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
    if (!data) return std::nullopt;
    return std::string(static_cast<const char*>(data.bytes), data.length);
}

} // namespace scribbet::mac
