"""How a shape's outline or inside is coloured, in the texts the drawing page sends.

"#RRGGBB", "#RRGGBBAA" (the last pair is the opacity), "theme:N" for the N-th theme colour
(1-12, in the theme answer's order, so the shape follows a theme change) or "none", any case.

Impress keeps a colour's see-through share as a whole percent of transparency, so the opacity
byte is turned into one: transparency = 100 - round(AA x 100 / 255). No byte lands exactly
half-way between two percents (AA x 100 / 255 = k + 1/2 has no whole solution: 200 AA would
have to be an odd multiple of 255), so there is no tie to break.
"""

import re

NONE, RGB, THEME = "none", "rgb", "theme"

# The default Office theme, which the other hosts answer when a document brings none: dark 1,
# light 1, dark 2, light 2, accent 1-6, hyperlink, followed hyperlink.
DEFAULT_THEME = (0x000000, 0xFFFFFF, 0x44546A, 0xE7E6E6, 0x4472C4, 0xED7D31,
                 0xA5A5A5, 0xFFC000, 0x5B9BD5, 0x70AD47, 0x0563C1, 0x954F72)

_HEX = re.compile(r"#([0-9A-Fa-f]{6})([0-9A-Fa-f]{2})?\Z")
_THEME = re.compile(r"(?i:theme):(-?[0-9]+)\Z")


class Paint:
    """One parsed colour text: kind, rgb (0xRRGGBB), opacity (0-255) and theme (1-12)."""

    __slots__ = ("kind", "rgb", "opacity", "theme")

    def __init__(self, kind, rgb=0, opacity=255, theme=0):
        self.kind, self.rgb, self.opacity, self.theme = kind, rgb, opacity, theme

    def __eq__(self, other):
        return (self.kind, self.rgb, self.opacity, self.theme) == (
            other.kind, other.rgb, other.opacity, other.theme)

    def __repr__(self):
        return "Paint(%r, %#08x, %d, %d)" % (self.kind, self.rgb, self.opacity, self.theme)

    def colour(self, theme_colours):
        """The plain colour (0xRRGGBB) to show, a theme's through `theme_colours`."""
        if self.kind == THEME:
            return theme_colours[self.theme - 1]
        return self.rgb

    def transparence(self):
        """Impress's transparency percent (0 opaque .. 100 clear) for this paint."""
        return transparence(self.opacity) if self.kind == RGB else 0

    def theme_index(self):
        """The theme slot Impress ties a fill to (dark 1 is 0), or -1 for none."""
        return self.theme - 1 if self.kind == THEME else -1


def parse(text):
    """The Paint a trimmed colour text names, or None when it is not one of the forms."""
    if text.lower() == "none":
        return Paint(NONE)
    m = _THEME.match(text)
    if m:
        n = int(m.group(1))
        return Paint(THEME, theme=n) if 1 <= n <= 12 and text[6:].isascii() else None
    m = _HEX.match(text)
    if m:
        opacity = int(m.group(2), 16) if m.group(2) else 255
        return Paint(RGB, rgb=int(m.group(1), 16), opacity=opacity)
    return None


def transparence(opacity):
    """100 - round(opacity x 100 / 255), in whole numbers (no ties exist, see above)."""
    return 100 - (opacity * 200 + 255) // 510


def hex_colour(rgb):
    """"#RRGGBB" in capitals."""
    return "#%06X" % (rgb & 0xFFFFFF)
