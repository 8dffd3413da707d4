#include "adapters/mac/script_result.hpp"

namespace scribbet::mac {

bool isTextType(FourCharCode type) {
    switch (type) {
    case ae::typeUnicodeText:
    case ae::typeUTF8Text:
    case ae::typeUTF16ExternalRepresentation:
    case ae::typeChar:
    case ae::typeStyledText:
    case ae::typeIntlText:
        return true;
    default:
        return false;
    }
}

ScriptResult scriptResultOf(const ScriptResultReading& reading) {
    switch (reading.type) {
    case ae::typeTrue:
        return ScriptResult{true};
    case ae::typeFalse:
        return ScriptResult{false};
    case ae::typeBoolean:
        return ScriptResult{reading.booleanValue};
    default:
        break;
    }
    // A text type whose string could not be had is no text either.
    if (isTextType(reading.type) && reading.text) return ScriptResult{*reading.text};
    return ScriptResult{};
}

} // namespace scribbet::mac
