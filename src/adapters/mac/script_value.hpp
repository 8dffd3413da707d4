#pragma once
// An Objective-C value from the page, described in plain C++: what WebKit hands over as a
// script message's body or as an evaluation's result (NSNull, NSString, NSNumber, the
// boolean NSNumber, NSArray, NSDictionary, or something else such as NSDate). The glue walks
// the object and fills this in; everything after that (texts to UTF-8, numbers to JSON, the
// port's EvalResult) happens here, where it is tested.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "ports/layer_ui.hpp"

namespace scribbet::mac {

struct ScriptValue {
    enum class Kind {
        null,       // nil or NSNull
        text,       // NSString
        number,     // NSNumber that is not a boolean
        boolean,    // the boolean NSNumber (kCFBooleanTrue/False)
        array,      // NSArray
        dictionary, // NSDictionary
        other,      // anything else the body may hold (NSDate, say)
        cut,        // not read: too deep, or the walk stopped here (too many values, a cyclic value)
    };

    Kind kind = Kind::null;
    // NSString keeps UTF-16 code units and may hold a lone surrogate; they go over as they are.
    std::u16string text;
    double number = 0;
    bool boolean = false;
    // An array's items; a dictionary's values, each named by the key of the same place.
    std::vector<ScriptValue> items;
    std::vector<std::u16string> keys;

    static ScriptValue null();
    static ScriptValue ofText(std::u16string t);
    static ScriptValue ofNumber(double d);
    static ScriptValue ofBoolean(bool b);
    static ScriptValue array(std::vector<ScriptValue> items);
    static ScriptValue dictionary(std::vector<std::pair<std::u16string, ScriptValue>> members);
    static ScriptValue ofKind(Kind k);
};

// How far the glue walks an object. A message body may be cyclic (an array that holds
// itself), so the walk has a depth and a count. A value deeper than the depth is not read and
// becomes null where it stands, and the walk goes on with its siblings; past the count the walk
// stops, takes nothing more, and the whole value reads as null.
class ScriptWalk {
public:
    static constexpr int maxDepth = 64;
    static constexpr long maxValues = 100'000;

    // Whether one more value at `depth` (the top value is at 0) may be read. A value refused
    // for its depth counts too, so a wide cyclic value cannot make the refusals endless; the
    // walk itself only stops at a value within the depth, which is how a stop is told from a
    // value cut for its depth.
    bool take(int depth);
    bool stopped() const { return stopped_; }

private:
    long values_ = 0;
    bool stopped_ = false;
};

// What NSError says about a failed evaluation, as the glue read it.
struct ScriptError {
    std::string domain;
    long code = 0;
    std::string description; // localizedDescription
};

// UTF-16 code units as UTF-8; a lone surrogate becomes U+FFFD, so the text is always valid.
std::string utf8Of(std::u16string_view units);

// The value as JSON: whole numbers within a double's exact range as integers (as a JSON reader
// would give them), other numbers as they are (infinities and NaN included), objects with
// their members in the order given (the last of repeated keys wins), anything else as null.
// A value deeper than the walk's depth (cut by the glue or not) is null in its place; a value
// in which the walk stopped is null as a whole, so a truncated array never reads as real data.
nlohmann::json jsonOf(const ScriptValue& value);

// A script message's body for the layer.
inline nlohmann::json messageBodyOf(const ScriptValue& body) { return jsonOf(body); }

// An evaluation's outcome for the layer: a text, an array or object as JSON, nothing for any
// other value, or the error. A value that only could not come back is no error.
EvalResult evalResultOf(const ScriptValue* value, const ScriptError* error);

} // namespace scribbet::mac
