#include "adapters/mac/mac_script_runner.hpp"

#import <Carbon/Carbon.h>
#import <Foundation/Foundation.h>

#include "adapters/mac/ns_utf8.h"
#include "adapters/mac/script_result.hpp"

static_assert(scribbet::mac::ae::typeTrue == typeTrue && scribbet::mac::ae::typeFalse == typeFalse);
static_assert(scribbet::mac::ae::typeBoolean == typeBoolean && scribbet::mac::ae::typeNull == typeNull);
static_assert(scribbet::mac::ae::typeUnicodeText == typeUnicodeText && scribbet::mac::ae::typeUTF8Text == typeUTF8Text);
static_assert(scribbet::mac::ae::typeUTF16ExternalRepresentation == typeUTF16ExternalRepresentation);
static_assert(scribbet::mac::ae::typeChar == typeChar && scribbet::mac::ae::typeStyledText == typeStyledText);
static_assert(scribbet::mac::ae::typeIntlText == typeIntlText);

namespace scribbet::mac {

namespace {
ScriptResultReading readingOf(NSAppleEventDescriptor* result) {
    ScriptResultReading reading;
    reading.type = result.descriptorType;
    // -booleanValue coerces, so it is read only where the type is the one-byte Boolean.
    if (reading.type == typeBoolean) reading.booleanValue = result.booleanValue;
    if (isTextType(reading.type)) reading.text = utf8(result.stringValue);
    return reading;
}
} // namespace

std::optional<ScriptResult> MacScriptRunner::run(const std::string& source) {
    @autoreleasepool {
        NSString* text = nsUtf8(source);
        if (!text) return std::nullopt; // not UTF-8: it could never compile as written
        NSAppleScript* script = [[NSAppleScript alloc] initWithSource:text];
        if (!script) return std::nullopt;
        // The error dictionary is not read: the add-in check swallows every script error.
        NSDictionary* error = nil;
        NSAppleEventDescriptor* result = [script executeAndReturnError:&error];
        if (!result) return std::nullopt;
        return scriptResultOf(readingOf(result));
    }
}

} // namespace scribbet::mac
