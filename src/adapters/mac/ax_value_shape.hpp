#pragma once
// What an accessibility attribute's value means to the pane reader, in plain C++: the glue
// reads a CFTypeRef into an AXRaw (its type, its payload) and this turns it into the port's
// value, or none. Also the accessibility error numbers, written as numbers so this builds
// everywhere (the Objective-C++ glue ties each one to the SDK's constant).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ports/accessibility.hpp"

namespace scribbet::mac {

// AXValueType numbers (kAXValueCGPointType and friends).
inline constexpr int axValueIllegal = 0;
inline constexpr int axValuePoint = 1;
inline constexpr int axValueSize = 2;
inline constexpr int axValueRect = 3;
inline constexpr int axValueRange = 4;
inline constexpr int axValueError = 5;

// AXError numbers.
inline constexpr int axErrorSuccess = 0;
inline constexpr int axErrorFailure = -25200;
inline constexpr int axErrorIllegalArgument = -25201;
inline constexpr int axErrorInvalidUIElement = -25202;
inline constexpr int axErrorInvalidUIElementObserver = -25203;
inline constexpr int axErrorCannotComplete = -25204;
inline constexpr int axErrorAttributeUnsupported = -25205;
inline constexpr int axErrorActionUnsupported = -25206;
inline constexpr int axErrorNotificationUnsupported = -25207;
inline constexpr int axErrorNotImplemented = -25208;
inline constexpr int axErrorNotificationAlreadyRegistered = -25209;
inline constexpr int axErrorNotificationNotRegistered = -25210;
inline constexpr int axErrorAPIDisabled = -25211;
inline constexpr int axErrorNoValue = -25212;
inline constexpr int axErrorParameterizedAttributeUnsupported = -25213;
inline constexpr int axErrorNotEnoughPrecision = -25214;

// What a failed call means. The port only needs "it failed" (an attribute reads as missing,
// a set as not done); the kinds keep a stale element apart from a busy program when someone
// has to find out why the slide editor is not found.
enum class AXFailure {
    none,        // the call succeeded
    missing,     // the element has no such attribute, or no value for it now
    stale,       // the element is gone (its window closed, the program quit)
    timedOut,    // the program did not answer within the messaging time-out, or is busy
    denied,      // this process is not trusted for accessibility
    unsupported, // the program does not speak accessibility at all
    invalid,     // an argument the system refused (a value of the wrong type, say)
    other,       // any other number, known or not
};
AXFailure axFailureOf(int error);

// The CF types the glue tells apart.
enum class CFKind { number, boolean, string, axValue, element, array, other };

// One value as the glue read it: the kind and the payload that goes with it.
struct AXRaw {
    CFKind kind = CFKind::other;
    double number = 0;              // number: the CFNumber read as a double
    bool boolean = false;           // boolean
    std::optional<std::string> text; // string: none when it would not convert to UTF-8
    int axType = axValueIllegal;    // axValue: its AXValueType number
    bool axRead = false;            // axValue: whether AXValueGetValue gave the payload
    double first = 0, second = 0;   // axValue: x and y of a point, width and height of a size
    AXRef element;                  // element: the wrapped, retained element
    std::vector<AXRef> elements;    // array: the items that were elements, in order
    std::size_t others = 0;         // array: how many items were not elements
};

// The port's value for what was read; none when the port has no shape for it (a range, a
// rectangle, a date...) or when the payload is not a usable number.
std::optional<AXValue> axValueOf(const AXRaw& raw);

// The time-out to hand the system for a number of seconds; none when the number cannot be
// one (negative, not finite, beyond a float). Zero is kept: it puts the element back on the
// system-wide time-out.
std::optional<float> messagingTimeoutOf(double seconds);

// Whether a number may be written into an attribute: a scroll bar set to NaN or infinity
// would be left wherever the program puts such a value.
bool settableNumber(double value);

} // namespace scribbet::mac
