#pragma once
// The preferences speak JSON; the user-defaults store keeps property lists. PlistValue is a
// property list in plain C++ (what the glue builds from, or reads into, NSNumber, NSString,
// NSArray and NSDictionary), and the two conversions here are the only place the shapes
// meet, so both directions are tested without a Mac.
//
// What a property list cannot hold: JSON null. A null preference means "no value" (the key
// is removed); a null member of an object is left out, as a missing key reads the same to
// every reader. A null inside an array has no such reading (leaving it out would move the
// items after it), so such a value is not stored at all.
// Numbers keep their kind: a JSON integer is stored as an integer number, a real as a real
// (3.0 stays a real), so a value reads back as it was written. An unsigned integer too large
// for a signed 64-bit one is stored as a real, the nearest the store can keep.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace scribbet::mac {

struct PlistValue {
    enum class Kind { boolean, integer, real, string, array, dictionary, other };
    Kind kind = Kind::other; // other: data, dates and anything else JSON has no word for
    bool boolean = false;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;
    std::vector<PlistValue> items;
    std::map<std::string, PlistValue> members;

    static PlistValue ofBool(bool b);
    static PlistValue ofInteger(std::int64_t i);
    static PlistValue ofReal(double r);
    static PlistValue ofString(std::string s);
};

// None when the value cannot be stored (null, or an array holding a null anywhere below).
std::optional<PlistValue> plistFromJSON(const nlohmann::json& value);

// None for a value JSON cannot show (`other`), at the top; below it such members and items
// are left out, so one odd entry written by another tool does not hide the rest.
std::optional<nlohmann::json> jsonFromPlist(const PlistValue& value);

} // namespace scribbet::mac
