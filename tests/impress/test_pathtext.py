"""The drawing's path text and the macros' number texts, without soffice."""

import unittest

import _paths  # noqa: F401
from scribbet_impress import pathtext
from scribbet_impress.pathtext import Segment, Subpath


class ParseTest(unittest.TestCase):
    def test_lines_curves_and_closed_parts_become_one_subpath_each(self):
        got = pathtext.parse("M 0 0 L 10 0 L 10 10 Z M 20 20 L 30 25 M 40 40 C 40 50 50 50 50 40")
        self.assertEqual(got, [
            Subpath((0, 0), [Segment((10, 0)), Segment((10, 10))], True),
            Subpath((20, 20), [Segment((30, 25))]),
            Subpath((40, 40), [Segment((50, 40), (40, 50), (50, 50))]),
        ])

    def test_svg_separators_and_run_together_numbers(self):
        self.assertEqual(pathtext.parse("M10,20L110,70 110,120"),
                         [Subpath((10, 20), [Segment((110, 70)), Segment((110, 120))])])
        self.assertEqual(pathtext.parse("M10-5L.5.5"),
                         [Subpath((10, -5), [Segment((0.5, 0.5))])])
        # further pairs after M are lines, and exponents read
        self.assertEqual(pathtext.parse("M 1e1 2E0 3 4"),
                         [Subpath((10, 2), [Segment((3, 4))])])

    def test_every_fault_has_its_sentence(self):
        cases = {
            "": "There is nothing to place: the drawing is empty.",
            "   ": "There is nothing to place: the drawing is empty.",
            "M NaN 0 L 10 10": "The drawing has a number missing.",
            "M 0 0 L 10": "The drawing has a number missing.",
            "M 0 0 C 1 1 2 2": "The drawing has a number missing.",
            "M 0 0 L 1e999 10": "The drawing has a coordinate too far from the slide.",
            "M 0 0 L 1000001 10": "The drawing has a coordinate too far from the slide.",
            "M 0 0 L 1e-999 10": "The drawing has a coordinate too far from the slide.",
            "M 0 0 L . 10": "The drawing has a number that cannot be read.",
            "M 0 0 L 1e 10": "The drawing has a number that cannot be read.",
            "M 0 0 Q 5 5 10 10": 'The drawing uses the path command "Q", but only absolute '
                                 'M, L, C and Z are understood.',
            "m 0 0 l 10 10": 'The drawing uses the path command "m", but only absolute '
                             'M, L, C and Z are understood.',
            "M 0 0 L 10 10 extra": 'The drawing uses the path command "e", but only absolute '
                                   'M, L, C and Z are understood.',
            "M 1 2 M 3 4": "A part of the drawing has no lines or curves.",
            "M 0 0 L 10 10 M 3 4": "A part of the drawing has no lines or curves.",
            "M 0 0 L 10 10 #": 'The drawing has an unexpected character "#".',
            "M 0 0 L 10 10 Z 5": "The drawing has numbers after Z.",
            "M 0 0 L 10 10 Z L 20 20": "A part of the drawing after Z must begin with M.",
            "L 10 10": "The drawing must begin with M, not L.",
            "M 0 0 L 10 10,": "The drawing has a comma where a number should be.",
            "M 0 0 L 10 10,Z": "The drawing has a comma where a number should be.",
        }
        for text, sentence in cases.items():
            with self.subTest(text=text):
                with self.assertRaises(pathtext.PathError) as caught:
                    pathtext.parse(text)
                self.assertEqual(str(caught.exception), sentence)


class BoundsTest(unittest.TestCase):
    def test_a_curve_is_measured_by_its_extent_not_its_control_points(self):
        curve = pathtext.parse("M 40 40 C 40 50 50 50 50 40")
        self.assertEqual(pathtext.bounds(curve), (40, 40, 10, 7.5))

    def test_lines_by_their_points(self):
        self.assertEqual(pathtext.bounds(pathtext.parse("M 10 20 L 110 70 L 60 120 Z")),
                         (10, 20, 100, 100))


class NumberTextTest(unittest.TestCase):
    def test_answers_carry_three_decimals_at_most_and_never_minus_zero(self):
        for value, text in [(10, "10"), (7.5, "7.5"), (1 / 3, "0.333"), (2 / 3, "0.667"),
                            (-0.0001, "0"), (-2.5, "-2.5"), (1e6, "1000000")]:
            with self.subTest(value=value):
                self.assertEqual(pathtext.num(value), text)

    def test_lengths_in_hundredths_of_a_mm_read_back_as_the_points_that_made_them(self):
        for points in [0, 10, 20, 70, 110, 960, 540, 0.5, 12.25, 1584, -98, 793.7]:
            with self.subTest(points=points):
                self.assertEqual(pathtext.points_of(pathtext.hmm(points)), points)
        self.assertEqual(pathtext.points_of(1), 0.03)
        for length in range(-3000, 40000, 7):  # whatever Impress holds reads back as itself
            self.assertEqual(pathtext.hmm(pathtext.points_of(length)), length)

    def test_whole_numbers_take_a_minus_and_ascii_digits_only(self):
        self.assertEqual(pathtext.read_whole("257"), 257)
        self.assertEqual(pathtext.read_whole("-1"), -1)
        for bad in ["", "+1", "1.0", " 1", "1e3", "٣", "abc", "12.5"]:
            with self.subTest(bad=bad):
                self.assertIsNone(pathtext.read_whole(bad))

    def test_widths_are_finite_decimals(self):
        for text, value in [("1", 1), ("2.5", 2.5), (".5", 0.5), ("5.", 5), ("+1e3", 1000),
                            ("0", 0), ("-0", 0)]:
            with self.subTest(text=text):
                self.assertEqual(pathtext.read_finite(text), value)
        for bad in ["", "NaN", "inf", "-inf", "1e999", "1e-999", "abc", "1,5", "0x10", "1_0"]:
            with self.subTest(bad=bad):
                self.assertIsNone(pathtext.read_finite(bad))


if __name__ == "__main__":
    unittest.main()
