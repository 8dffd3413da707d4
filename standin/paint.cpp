#include "paint.hpp"

#include <cctype>

#include "app/whole_number.hpp"

namespace scribbet::standin {

Theme defaultTheme() {
    return {0x000000, 0xFFFFFF, 0x44546A, 0xE7E6E6, 0x4472C4, 0xED7D31,
            0xA5A5A5, 0xFFC000, 0x5B9BD5, 0x70AD47, 0x0563C1, 0x954F72};
}

namespace {
std::optional<std::uint32_t> hexDigits(std::string_view digits) {
    std::uint32_t value = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}
} // namespace

std::string hexColour(std::uint32_t rgb) {
    static const char* digits = "0123456789ABCDEF";
    std::string out = "#";
    for (int shift = 20; shift >= 0; shift -= 4) out.push_back(digits[(rgb >> shift) & 0xF]);
    return out;
}

std::optional<std::uint32_t> parseHexColour(std::string_view text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    return hexDigits(text.substr(1));
}

std::optional<Paint> Paint::parse(std::string_view text) {
    Paint p;
    if (equalsIgnoringCase(text, "none")) return p;
    if (text.size() > 6 && equalsIgnoringCase(text.substr(0, 6), "theme:")) {
        const auto digits = text.substr(6);
        const auto n = whole::integer<int>(digits);
        if (!n || *n < 1 || *n > 12) return std::nullopt;
        p.kind = Kind::theme;
        p.theme = *n;
        return p;
    }
    if (text.size() == 9 && text[0] == '#') {
        const auto rgba = hexDigits(text.substr(1));
        if (!rgba) return std::nullopt;
        p.kind = Kind::rgb;
        p.rgb = *rgba >> 8;
        p.opacity = static_cast<std::uint8_t>(*rgba & 0xFF);
        return p;
    }
    if (const auto rgb = parseHexColour(text)) {
        p.kind = Kind::rgb;
        p.rgb = *rgb;
        return p;
    }
    return std::nullopt;
}

std::string Paint::text() const {
    switch (kind) {
    case Kind::none:
        return "none";
    case Kind::theme:
        return "theme:" + std::to_string(theme);
    case Kind::rgb:
        break;
    }
    std::string out = hexColour(rgb);
    if (opacity != 255) out += hexColour(opacity).substr(5);
    return out;
}

Rgba Paint::resolve(const Theme& colours) const {
    auto channels = [](std::uint32_t rgb, double a) {
        return Rgba{((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, a};
    };
    switch (kind) {
    case Kind::none:
        return Rgba{0, 0, 0, 0};
    case Kind::theme:
        return channels(colours[static_cast<std::size_t>(theme - 1)], 1);
    case Kind::rgb:
        break;
    }
    return channels(rgb, opacity / 255.0);
}

} // namespace scribbet::standin
