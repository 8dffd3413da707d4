#include "adapters/mac/mac_accessibility.hpp"

#import <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>

#include "adapters/mac/ax_value_shape.hpp"
#include "adapters/mac/ns_utf8.h"

namespace scribbet::mac {

// The AXValueType names of macOS 10.11 and later (kAXValueCGPointType and the like are their
// deprecated spellings of the same numbers).
static_assert(axValuePoint == static_cast<int>(kAXValueTypeCGPoint));
static_assert(axValueSize == static_cast<int>(kAXValueTypeCGSize));
static_assert(axValueRect == static_cast<int>(kAXValueTypeCGRect));
static_assert(axValueRange == static_cast<int>(kAXValueTypeCFRange));
static_assert(axValueError == static_cast<int>(kAXValueTypeAXError));
static_assert(axValueIllegal == static_cast<int>(kAXValueTypeIllegal));
static_assert(axErrorSuccess == kAXErrorSuccess);
static_assert(axErrorFailure == kAXErrorFailure);
static_assert(axErrorIllegalArgument == kAXErrorIllegalArgument);
static_assert(axErrorInvalidUIElement == kAXErrorInvalidUIElement);
static_assert(axErrorInvalidUIElementObserver == kAXErrorInvalidUIElementObserver);
static_assert(axErrorCannotComplete == kAXErrorCannotComplete);
static_assert(axErrorAttributeUnsupported == kAXErrorAttributeUnsupported);
static_assert(axErrorActionUnsupported == kAXErrorActionUnsupported);
static_assert(axErrorNotificationUnsupported == kAXErrorNotificationUnsupported);
static_assert(axErrorNotImplemented == kAXErrorNotImplemented);
static_assert(axErrorNotificationAlreadyRegistered == kAXErrorNotificationAlreadyRegistered);
static_assert(axErrorNotificationNotRegistered == kAXErrorNotificationNotRegistered);
static_assert(axErrorAPIDisabled == kAXErrorAPIDisabled);
static_assert(axErrorNoValue == kAXErrorNoValue);
static_assert(axErrorParameterizedAttributeUnsupported == kAXErrorParameterizedAttributeUnsupported);
static_assert(axErrorNotEnoughPrecision == kAXErrorNotEnoughPrecision);

namespace {

// One retained element. It owns exactly one reference: the one its maker hands over (from a
// Create or Copy call) or the one it takes itself (for an element found inside a copied
// array, which the array owns).
class MacAXElement final : public AXElement {
public:
    static AXRef adopt(AXUIElementRef ref) { return ref ? AXRef(new MacAXElement(ref)) : nullptr; }
    static AXRef retain(AXUIElementRef ref) {
        return ref ? AXRef(new MacAXElement(static_cast<AXUIElementRef>(CFRetain(ref)))) : nullptr;
    }
    ~MacAXElement() override { CFRelease(ref_); }
    MacAXElement(const MacAXElement&) = delete;
    MacAXElement& operator=(const MacAXElement&) = delete;
    AXUIElementRef ref() const { return ref_; }

private:
    explicit MacAXElement(AXUIElementRef ref) : ref_(ref) {}
    AXUIElementRef ref_;
};

AXUIElementRef refOf(const AXRef& element) {
    const auto* e = dynamic_cast<const MacAXElement*>(element.get());
    return e ? e->ref() : nullptr;
}

bool isElement(CFTypeRef v) { return v && CFGetTypeID(v) == AXUIElementGetTypeID(); }

void readStruct(AXValueRef v, AXRaw& raw) {
    raw.axType = static_cast<int>(AXValueGetType(v));
    if (raw.axType == axValuePoint) {
        CGPoint p{};
        raw.axRead = AXValueGetValue(v, kAXValueTypeCGPoint, &p);
        raw.first = p.x;
        raw.second = p.y;
    } else if (raw.axType == axValueSize) {
        CGSize s{};
        raw.axRead = AXValueGetValue(v, kAXValueTypeCGSize, &s);
        raw.first = s.width;
        raw.second = s.height;
    }
}

void readArray(CFArrayRef list, AXRaw& raw) {
    const CFIndex n = CFArrayGetCount(list);
    for (CFIndex i = 0; i < n; ++i) {
        CFTypeRef item = CFArrayGetValueAtIndex(list, i);
        if (isElement(item)) {
            raw.elements.push_back(MacAXElement::retain(static_cast<AXUIElementRef>(item)));
        } else {
            ++raw.others;
        }
    }
}

// What one value (owned by the caller) is, in the portable shape. Booleans first: a CFBoolean
// is not a CFNumber, but both come back for numeric-looking attributes.
AXRaw rawOf(CFTypeRef v) {
    AXRaw raw;
    const CFTypeID type = CFGetTypeID(v);
    if (type == CFBooleanGetTypeID()) {
        raw.kind = CFKind::boolean;
        raw.boolean = CFBooleanGetValue(static_cast<CFBooleanRef>(v));
    } else if (type == CFNumberGetTypeID()) {
        raw.kind = CFKind::number;
        // A lossy conversion still stores the nearest double, which is what a scroll value needs.
        CFNumberGetValue(static_cast<CFNumberRef>(v), kCFNumberDoubleType, &raw.number);
    } else if (type == CFStringGetTypeID()) {
        raw.kind = CFKind::string;
        // ns_utf8's reading: a title with a NUL or a lone surrogate in it still comes through,
        // where -UTF8String would cut the one and give nothing for the other.
        raw.text = utf8((__bridge NSString*)static_cast<CFStringRef>(v));
    } else if (type == AXValueGetTypeID()) {
        raw.kind = CFKind::axValue;
        readStruct(static_cast<AXValueRef>(v), raw);
    } else if (type == AXUIElementGetTypeID()) {
        raw.kind = CFKind::element;
        raw.element = MacAXElement::retain(static_cast<AXUIElementRef>(v));
    } else if (type == CFArrayGetTypeID()) {
        raw.kind = CFKind::array;
        readArray(static_cast<CFArrayRef>(v), raw);
    }
    return raw;
}

} // namespace

bool MacAccessibility::trusted() const { return AXIsProcessTrusted(); }

bool MacAccessibility::promptForTrust() {
    @autoreleasepool {
        NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
        return AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
    }
}

AXRef MacAccessibility::application(int pid) {
    if (pid <= 0) return nullptr;
    // Create rule: the new element is ours, and the wrapper takes it over.
    return MacAXElement::adopt(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
}

std::optional<AXValue> MacAccessibility::attribute(const AXRef& element, const std::string& name) {
    AXUIElementRef ref = refOf(element);
    if (!ref) return std::nullopt;
    @autoreleasepool {
        NSString* attr = nsUtf8(name);
        if (!attr) return std::nullopt;
        CFTypeRef value = nullptr;
        const AXError err = AXUIElementCopyAttributeValue(ref, (__bridge CFStringRef)attr, &value);
        if (axFailureOf(err) != AXFailure::none || !value) {
            if (value) CFRelease(value); // a failure should not hand one back; never leak it if it does
            return std::nullopt;
        }
        // Copy rule: the value is ours until released; rawOf retains what it keeps.
        const AXRaw raw = rawOf(value);
        CFRelease(value);
        return axValueOf(raw);
    }
}

bool MacAccessibility::setNumber(const AXRef& element, const std::string& name, double value) {
    AXUIElementRef ref = refOf(element);
    if (!ref || !settableNumber(value)) return false;
    @autoreleasepool {
        NSString* attr = nsUtf8(name);
        if (!attr) return false;
        CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &value);
        if (!number) return false;
        const AXError err = AXUIElementSetAttributeValue(ref, (__bridge CFStringRef)attr, number);
        CFRelease(number);
        return axFailureOf(err) == AXFailure::none;
    }
}

void MacAccessibility::setMessagingTimeout(const AXRef& element, double seconds) {
    AXUIElementRef ref = refOf(element);
    const auto timeout = messagingTimeoutOf(seconds);
    if (!ref || !timeout) return;
    // A failure leaves the system's own time-out in place, which only makes calls slower.
    AXUIElementSetMessagingTimeout(ref, *timeout);
}

bool MacAccessibility::equal(const AXRef& a, const AXRef& b) const {
    AXUIElementRef x = refOf(a), y = refOf(b);
    return x && y && CFEqual(x, y);
}

} // namespace scribbet::mac
