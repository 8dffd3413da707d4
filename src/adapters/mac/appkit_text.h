#pragma once
// Texts and text styles handed to AppKit, for the Objective-C++ files only.
#import <AppKit/AppKit.h>

#include <string>

#include "adapters/mac/text_style.hpp"
#include "base/rect.hpp"

namespace scribbet::mac {

// Never nil: the text is made valid UTF-8 first, and its bytes are taken whole (a NUL too,
// where a C string would end).
inline NSString* nsText(const std::string& utf8) {
    const std::string valid = appKitText(utf8);
    NSString* text = [[NSString alloc] initWithBytes:valid.data() length:valid.size() encoding:NSUTF8StringEncoding];
    return text ? text : @"";
}

inline NSFont* nsFont(const TextStyle& style) {
    // Regular is the one weight the styles know.
    const NSFontWeight weight = NSFontWeightRegular;
    const CGFloat size = style.size;
    if (style.font == TextStyle::Font::monospacedSystem) return [NSFont monospacedSystemFontOfSize:size weight:weight];
    return [NSFont systemFontOfSize:size weight:weight];
}

// The label colour is the one the styles know; it follows light and dark mode by itself.
inline NSColor* nsColour(const TextStyle&) { return NSColor.labelColor; }

inline NSDictionary<NSAttributedStringKey, id>* nsAttributes(const TextStyle& style) {
    return @{NSFontAttributeName : nsFont(style), NSForegroundColorAttributeName : nsColour(style)};
}

inline NSRect nsRect(const Rect& r) { return NSMakeRect(r.x, r.y, r.w, r.h); }
inline Rect rectOf(NSRect r) { return {r.origin.x, r.origin.y, r.size.width, r.size.height}; }

} // namespace scribbet::mac
