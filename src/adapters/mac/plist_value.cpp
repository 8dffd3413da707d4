#include "adapters/mac/plist_value.hpp"

#include <limits>
#include <utility>

namespace scribbet::mac {

using nlohmann::json;

PlistValue PlistValue::ofBool(bool b) {
    PlistValue v;
    v.kind = Kind::boolean;
    v.boolean = b;
    return v;
}

PlistValue PlistValue::ofInteger(std::int64_t i) {
    PlistValue v;
    v.kind = Kind::integer;
    v.integer = i;
    return v;
}

PlistValue PlistValue::ofReal(double r) {
    PlistValue v;
    v.kind = Kind::real;
    v.real = r;
    return v;
}

PlistValue PlistValue::ofString(std::string s) {
    PlistValue v;
    v.kind = Kind::string;
    v.text = std::move(s);
    return v;
}

namespace {
PlistValue unsignedOf(std::uint64_t u) {
    if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return PlistValue::ofInteger(static_cast<std::int64_t>(u));
    }
    return PlistValue::ofReal(static_cast<double>(u));
}

std::optional<PlistValue> containerFromJSON(const json& value) {
    PlistValue out;
    if (value.is_array()) {
        out.kind = PlistValue::Kind::array;
        for (const auto& item : value) {
            auto p = plistFromJSON(item);
            if (!p) return std::nullopt;
            out.items.push_back(std::move(*p));
        }
        return out;
    }
    out.kind = PlistValue::Kind::dictionary;
    for (const auto& [key, member] : value.items()) {
        if (member.is_null()) continue;
        auto p = plistFromJSON(member);
        if (!p) return std::nullopt;
        out.members.emplace(key, std::move(*p));
    }
    return out;
}
} // namespace

std::optional<PlistValue> plistFromJSON(const json& value) {
    switch (value.type()) {
    case json::value_t::boolean:
        return PlistValue::ofBool(value.get<bool>());
    case json::value_t::number_integer:
        return PlistValue::ofInteger(value.get<std::int64_t>());
    case json::value_t::number_unsigned:
        return unsignedOf(value.get<std::uint64_t>());
    case json::value_t::number_float:
        return PlistValue::ofReal(value.get<double>());
    case json::value_t::string:
        return PlistValue::ofString(value.get<std::string>());
    case json::value_t::array:
    case json::value_t::object:
        return containerFromJSON(value);
    default: // null, binary, discarded
        return std::nullopt;
    }
}

std::optional<json> jsonFromPlist(const PlistValue& value) {
    switch (value.kind) {
    case PlistValue::Kind::boolean:
        return json(value.boolean);
    case PlistValue::Kind::integer:
        return json(value.integer);
    case PlistValue::Kind::real:
        return json(value.real);
    case PlistValue::Kind::string:
        return json(value.text);
    case PlistValue::Kind::array: {
        json out = json::array();
        for (const auto& item : value.items) {
            if (auto j = jsonFromPlist(item)) out.push_back(std::move(*j));
        }
        return out;
    }
    case PlistValue::Kind::dictionary: {
        json out = json::object();
        for (const auto& [key, member] : value.members) {
            if (auto j = jsonFromPlist(member)) out[key] = std::move(*j);
        }
        return out;
    }
    case PlistValue::Kind::other:
        break;
    }
    return std::nullopt;
}

} // namespace scribbet::mac
