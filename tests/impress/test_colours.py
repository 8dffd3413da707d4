"""Colour texts and Impress's whole-percent transparency, without soffice."""

import unittest

import _paths  # noqa: F401
from scribbet_impress import colours
from scribbet_impress.colours import Paint


class ParseTest(unittest.TestCase):
    def test_the_agreed_forms_in_any_case(self):
        self.assertEqual(colours.parse("#a0b0C0"), Paint(colours.RGB, 0xA0B0C0, 255))
        self.assertEqual(colours.parse("#FF000080"), Paint(colours.RGB, 0xFF0000, 0x80))
        self.assertEqual(colours.parse("Theme:12"), Paint(colours.THEME, theme=12))
        self.assertEqual(colours.parse("theme:05"), Paint(colours.THEME, theme=5))
        self.assertEqual(colours.parse("NONE"), Paint(colours.NONE))

    def test_anything_else_is_refused(self):
        for bad in ["", "#12345", "#GGGGGG", "#1234567", "theme:0", "theme:13", "theme:",
                    "theme:+5", "theme:-1", "red", " #FFFFFF", "#FFFFFF00FF", "theme:٥"]:
            with self.subTest(bad=bad):
                self.assertIsNone(colours.parse(bad))


class ShownTest(unittest.TestCase):
    def test_opacity_bytes_become_whole_percents_of_transparency(self):
        for opacity, percent in [(255, 0), (0, 100), (0x80, 50), (0x40, 75), (0x7F, 50),
                                 (1, 100), (3, 99), (254, 0), (252, 1)]:
            with self.subTest(opacity=opacity):
                self.assertEqual(colours.transparence(opacity), percent)

    def test_each_percent_is_the_nearest_and_no_byte_is_a_tie(self):
        for opacity in range(256):
            exact = 100 - opacity * 100 / 255
            self.assertLess(abs(colours.transparence(opacity) - exact), 0.5, opacity)

    def test_theme_paints_show_the_theme_colour_and_tie_to_its_slot(self):
        paint = colours.parse("theme:5")
        self.assertEqual(paint.colour(colours.DEFAULT_THEME), 0x4472C4)
        self.assertEqual(paint.theme_index(), 4)
        self.assertEqual(paint.transparence(), 0)
        self.assertEqual(colours.parse("#123456").theme_index(), -1)

    def test_hex_colours_are_capitals(self):
        self.assertEqual(colours.hex_colour(0x0563C1), "#0563C1")
        self.assertEqual(colours.hex_colour(0), "#000000")


if __name__ == "__main__":
    unittest.main()
