#include "adapters/mac/script_value.hpp"

#include <cmath>
#include <cstdint>

#include "adapters/mac/web_errors.hpp"

namespace scribbet::mac {

using nlohmann::json;

ScriptValue ScriptValue::null() { return {}; }

ScriptValue ScriptValue::ofText(std::u16string t) {
    ScriptValue v;
    v.kind = Kind::text;
    v.text = std::move(t);
    return v;
}

ScriptValue ScriptValue::ofNumber(double d) {
    ScriptValue v;
    v.kind = Kind::number;
    v.number = d;
    return v;
}

ScriptValue ScriptValue::ofBoolean(bool b) {
    ScriptValue v;
    v.kind = Kind::boolean;
    v.boolean = b;
    return v;
}

ScriptValue ScriptValue::array(std::vector<ScriptValue> items) {
    ScriptValue v;
    v.kind = Kind::array;
    v.items = std::move(items);
    return v;
}

ScriptValue ScriptValue::dictionary(std::vector<std::pair<std::u16string, ScriptValue>> members) {
    ScriptValue v;
    v.kind = Kind::dictionary;
    for (auto& [key, value] : members) {
        v.keys.push_back(std::move(key));
        v.items.push_back(std::move(value));
    }
    return v;
}

ScriptValue ScriptValue::ofKind(Kind k) {
    ScriptValue v;
    v.kind = k;
    return v;
}

bool ScriptWalk::take(int depth) {
    if (stopped_) return false;
    ++values_;
    if (depth > maxDepth) return false;
    if (values_ > maxValues) stopped_ = true;
    return !stopped_;
}

namespace {
constexpr char32_t replacement = 0xFFFD;

void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

json number(double d) {
    // 2^53: beyond it a double no longer holds every whole number, and -0 is no integer.
    constexpr double exact = 9007199254740992.0;
    if (std::isfinite(d) && std::trunc(d) == d && std::abs(d) <= exact && !(d == 0 && std::signbit(d))) {
        return static_cast<std::int64_t>(d);
    }
    return d;
}

// Walks the description; `stopped` turns true at the first value where the glue's walk stopped.
// Past the depth every value is null, whatever the glue made of it: the glue only stops within it.
json convert(const ScriptValue& v, int depth, bool& stopped) {
    using Kind = ScriptValue::Kind;
    if (stopped || depth > ScriptWalk::maxDepth) return json();
    switch (v.kind) {
    case Kind::text: return utf8Of(v.text);
    case Kind::number: return number(v.number);
    case Kind::boolean: return v.boolean;
    case Kind::array: {
        json out = json::array();
        for (const auto& item : v.items) out.push_back(convert(item, depth + 1, stopped));
        return out;
    }
    case Kind::dictionary: {
        json out = json::object();
        for (std::size_t i = 0; i < v.items.size(); ++i) {
            // A description the glue got wrong (fewer keys than values) loses the values, not its memory.
            if (i < v.keys.size()) out[utf8Of(v.keys[i])] = convert(v.items[i], depth + 1, stopped);
        }
        return out;
    }
    case Kind::cut:
        stopped = true;
        return json();
    case Kind::null:
    case Kind::other: break;
    }
    return json();
}
} // namespace

std::string utf8Of(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (isHigh(u) && i + 1 < units.size() && isLow(units[i + 1])) {
            append(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            append(out, isHigh(u) || isLow(u) ? replacement : static_cast<char32_t>(u));
        }
    }
    return out;
}

json jsonOf(const ScriptValue& value) {
    bool stopped = false;
    json out = convert(value, 0, stopped);
    return stopped ? json() : out;
}

EvalResult evalResultOf(const ScriptValue* value, const ScriptError* error) {
    using Kind = ScriptValue::Kind;
    if (error) {
        if (web_errors::isUnreturnableResult(error->domain, error->code)) return {};
        return {{}, error->description.empty() ? "The script could not be run." : error->description};
    }
    if (!value) return {};
    if (value->kind == Kind::text) return {utf8Of(value->text), std::nullopt};
    if (value->kind != Kind::array && value->kind != Kind::dictionary) return {};
    json j = jsonOf(*value);
    if (j.is_array() || j.is_object()) return {std::move(j), std::nullopt};
    return {};
}

} // namespace scribbet::mac
