#pragma once
// How a shape's outline or inside is coloured, in the texts the drawing page and the add-in
// agree on: "#RRGGBB", "#RRGGBBAA" (the last pair is opacity), "theme:N" for the N-th theme
// colour (1-12, so the shape follows a theme change), or "none".
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scribbet::standin {

// The twelve theme colours as 0xRRGGBB, in the program's order: dark 1, light 1, dark 2,
// light 2, accent 1-6, hyperlink, followed hyperlink.
using Theme = std::array<std::uint32_t, 12>;

// The colours of the program's default theme.
Theme defaultTheme();

struct Rgba {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1;
};

struct Paint {
    enum class Kind { none, rgb, theme };
    Kind kind = Kind::none;
    std::uint32_t rgb = 0; // 0xRRGGBB, for rgb
    std::uint8_t opacity = 255; // for rgb; kept as the text's byte so it reads back exactly
    int theme = 0;         // 1-12, for theme

    // None when the text is not one of the agreed forms.
    static std::optional<Paint> parse(std::string_view text);
    // The agreed text again; parse(text()) gives this paint back.
    std::string text() const;
    // The colour to draw with; transparent for none.
    Rgba resolve(const Theme& theme) const;

    bool operator==(const Paint&) const = default;
};

// "#RRGGBB" in capitals.
std::string hexColour(std::uint32_t rgb);
// Reads "#RRGGBB" (either case); none for anything else.
std::optional<std::uint32_t> parseHexColour(std::string_view text);

} // namespace scribbet::standin
