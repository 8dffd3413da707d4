#include "adapters/mac/mac_preferences.hpp"

#import <Foundation/Foundation.h>

#include "adapters/mac/ns_utf8.h"
#include "adapters/mac/plist_value.hpp"

namespace scribbet::mac {

namespace {

PlistValue plistOf(id value);

PlistValue numberOf(NSNumber* n) {
    CFNumberRef cf = (__bridge CFNumberRef)n;
    // A flag is a CFBoolean, not a number: @YES must not come back as 1.
    if (CFGetTypeID(cf) == CFBooleanGetTypeID()) return PlistValue::ofBool(n.boolValue);
    if (CFNumberIsFloatType(cf)) return PlistValue::ofReal(n.doubleValue);
    return PlistValue::ofInteger(n.longLongValue);
}

PlistValue arrayOf(NSArray* list) {
    PlistValue out;
    out.kind = PlistValue::Kind::array;
    for (id item in list) out.items.push_back(plistOf(item));
    return out;
}

PlistValue dictionaryOf(NSDictionary* dict) {
    PlistValue out;
    out.kind = PlistValue::Kind::dictionary;
    for (id key in dict) {
        if (![key isKindOfClass:[NSString class]]) continue;
        if (auto text = utf8(key)) out.members.emplace(std::move(*text), plistOf(dict[key]));
    }
    return out;
}

PlistValue plistOf(id value) {
    if ([value isKindOfClass:[NSNumber class]]) return numberOf(value);
    if ([value isKindOfClass:[NSString class]]) {
        // The exact bytes, so a text with a NUL in it reads back whole rather than cut there.
        auto text = utf8(value);
        return text ? PlistValue::ofString(std::move(*text)) : PlistValue{};
    }
    if ([value isKindOfClass:[NSArray class]]) return arrayOf(value);
    if ([value isKindOfClass:[NSDictionary class]]) return dictionaryOf(value);
    return PlistValue{}; // dates, data: nothing JSON can say
}

id objectOf(const PlistValue& v);

id containerOf(const PlistValue& v) {
    if (v.kind == PlistValue::Kind::array) {
        NSMutableArray* list = [NSMutableArray arrayWithCapacity:v.items.size()];
        for (const auto& item : v.items) {
            id o = objectOf(item);
            if (!o) return nil;
            [list addObject:o];
        }
        return list;
    }
    NSMutableDictionary* dict = [NSMutableDictionary dictionaryWithCapacity:v.members.size()];
    for (const auto& [key, member] : v.members) {
        NSString* k = nsUtf8(key);
        id o = objectOf(member);
        if (!k || !o) return nil;
        dict[k] = o;
    }
    return dict;
}

// The property-list object for a value; nil when one part cannot be made (text that is not
// UTF-8), and then nothing of the value is stored.
id objectOf(const PlistValue& v) {
    switch (v.kind) {
    case PlistValue::Kind::boolean:
        return @(v.boolean);
    case PlistValue::Kind::integer:
        return @(static_cast<long long>(v.integer));
    case PlistValue::Kind::real:
        return @(v.real);
    case PlistValue::Kind::string:
        return nsUtf8(v.text); // every byte: a C-string copy would end the text at its first NUL
    case PlistValue::Kind::array:
    case PlistValue::Kind::dictionary:
        return containerOf(v);
    case PlistValue::Kind::other:
        break;
    }
    return nil;
}

} // namespace

std::optional<nlohmann::json> MacPreferences::get(const std::string& key) const {
    std::lock_guard lock(mutex_);
    @autoreleasepool {
        NSString* k = nsUtf8(key);
        if (!k) return std::nullopt;
        id value = [NSUserDefaults.standardUserDefaults objectForKey:k];
        if (!value) return std::nullopt;
        return jsonFromPlist(plistOf(value));
    }
}

void MacPreferences::set(const std::string& key, const nlohmann::json& value) {
    std::lock_guard lock(mutex_);
    @autoreleasepool {
        NSString* k = nsUtf8(key);
        if (!k) return;
        NSUserDefaults* defaults = NSUserDefaults.standardUserDefaults;
        if (value.is_null()) return [defaults removeObjectForKey:k];
        const auto plist = plistFromJSON(value);
        id object = plist ? objectOf(*plist) : nil;
        if (object) [defaults setObject:object forKey:k];
    }
}

} // namespace scribbet::mac
