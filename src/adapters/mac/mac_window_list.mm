#include "adapters/mac/mac_window_list.hpp"

#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

#include "adapters/mac/window_reading.hpp"

static_assert(scribbet::mac::windowListOnScreenOnly == kCGWindowListOptionOnScreenOnly);
static_assert(scribbet::mac::windowListExcludeDesktopElements == kCGWindowListExcludeDesktopElements);
static_assert(scribbet::mac::nullWindowId == kCGNullWindowID);

namespace scribbet::mac {

namespace {
std::optional<double> numberAt(NSDictionary* entry, CFStringRef key) {
    id value = entry[(__bridge NSString*)key];
    if (![value isKindOfClass:[NSNumber class]]) return std::nullopt;
    return [(NSNumber*)value doubleValue];
}

std::optional<WindowReading::Bounds> boundsAt(NSDictionary* entry) {
    id value = entry[(__bridge NSString*)kCGWindowBounds];
    if (![value isKindOfClass:[NSDictionary class]]) return std::nullopt;
    CGRect rect;
    if (!CGRectMakeWithDictionaryRepresentation((__bridge CFDictionaryRef)value, &rect)) return std::nullopt;
    return WindowReading::Bounds{rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
}
} // namespace

std::optional<std::vector<WindowInfo>> MacWindowList::onScreenWindows() const {
    @autoreleasepool {
        // Copy rule: the array is ours; ARC releases it once bridged over.
        NSArray* list = CFBridgingRelease(CGWindowListCopyWindowInfo(windowListOptions, kCGNullWindowID));
        if (!list) return std::nullopt; // no window server, or outside the user's session
        std::vector<WindowInfo> out;
        out.reserve(list.count);
        for (id item in list) {
            if (![item isKindOfClass:[NSDictionary class]]) continue;
            NSDictionary* entry = item;
            const WindowReading reading{numberAt(entry, kCGWindowOwnerPID), numberAt(entry, kCGWindowLayer),
                                        boundsAt(entry)};
            out.push_back(windowInfoOf(reading));
        }
        return out;
    }
}

} // namespace scribbet::mac
