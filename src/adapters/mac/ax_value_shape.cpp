#include "adapters/mac/ax_value_shape.hpp"

#include <cmath>
#include <limits>

namespace scribbet::mac {

AXFailure axFailureOf(int error) {
    switch (error) {
    case axErrorSuccess:
        return AXFailure::none;
    case axErrorAttributeUnsupported:
    case axErrorNoValue:
    case axErrorParameterizedAttributeUnsupported:
        return AXFailure::missing;
    case axErrorInvalidUIElement:
        return AXFailure::stale;
    case axErrorCannotComplete:
        return AXFailure::timedOut;
    case axErrorAPIDisabled:
        return AXFailure::denied;
    case axErrorNotImplemented:
        return AXFailure::unsupported;
    case axErrorIllegalArgument:
        return AXFailure::invalid;
    default:
        return AXFailure::other;
    }
}

namespace {
bool finite(double a, double b) { return std::isfinite(a) && std::isfinite(b); }

std::optional<AXValue> structOf(const AXRaw& raw) {
    if (!raw.axRead || !finite(raw.first, raw.second)) return std::nullopt;
    if (raw.axType == axValuePoint) return AXValue{AXPoint{raw.first, raw.second}};
    // A size below zero is no frame anyone can draw in; better absent than a rectangle
    // turned inside out.
    if (raw.axType == axValueSize && raw.first >= 0 && raw.second >= 0) return AXValue{AXSize{raw.first, raw.second}};
    return std::nullopt;
}

std::optional<AXValue> arrayOf(const AXRaw& raw) {
    // The lists the reader asks for (children, windows) hold elements; a list of something
    // else (say, of ranges) is not one of those, though an empty list still is.
    if (raw.elements.empty() && raw.others > 0) return std::nullopt;
    std::vector<AXRef> out;
    out.reserve(raw.elements.size());
    for (const auto& e : raw.elements) {
        if (e) out.push_back(e);
    }
    return AXValue{std::move(out)};
}
} // namespace

std::optional<AXValue> axValueOf(const AXRaw& raw) {
    switch (raw.kind) {
    case CFKind::number:
        if (!std::isfinite(raw.number)) return std::nullopt;
        return AXValue{raw.number};
    case CFKind::boolean:
        return AXValue{raw.boolean};
    case CFKind::string:
        if (!raw.text) return std::nullopt;
        return AXValue{*raw.text};
    case CFKind::axValue:
        return structOf(raw);
    case CFKind::element:
        if (!raw.element) return std::nullopt;
        return AXValue{raw.element};
    case CFKind::array:
        return arrayOf(raw);
    case CFKind::other:
        break;
    }
    return std::nullopt;
}

std::optional<float> messagingTimeoutOf(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    if (seconds > static_cast<double>(std::numeric_limits<float>::max())) return std::nullopt;
    return static_cast<float>(seconds);
}

bool settableNumber(double value) { return std::isfinite(value); }

} // namespace scribbet::mac
