"""The geometry answer's text and the slide's placement, from facts (no soffice)."""

import unittest

import _paths  # noqa: F401
from scribbet_impress import geometry

FACTS = {"doc": "untitled:1", "view": "normal", "slide": [256.004, 289.004, 742.393, 417.591],
         "window": [80, 60, 1280, 820], "slideW": 960.0, "slideH": 540.0, "scale": 0.773318,
         "slideId": 256, "fit": True, "split": 100}


class NumberTest(unittest.TestCase):
    def test_written_as_the_stand_in_writes_them(self):
        cases = {960.0: "960", 0.5: "0.5", 1.23456: "1.235", -0.0001: "0", 0: "0",
                 -12.5: "-12.5", 1e-9: "0", 33.10: "33.1", 2213.1164: "2213.116"}
        for value, text in cases.items():
            with self.subTest(value=value):
                self.assertEqual(geometry.num(value), text)

    def test_halves_round_away_from_zero_like_c(self):
        self.assertEqual(geometry.round_half_away(77.5), 78)
        self.assertEqual(geometry.round_half_away(76.5), 77)
        self.assertEqual(geometry.round_half_away(-2.5), -3)

    def test_page_sizes_read_back_as_the_points_given(self):
        for points in [960, 540, 720, 72, 4032, 1920, 1080, 793.7, 446.46]:
            with self.subTest(points=points):
                self.assertEqual(geometry.points_of(geometry.hundredths_of(points)), points)
        self.assertEqual(geometry.points_of(28000), 793.7)


class AnswerTest(unittest.TestCase):
    def test_fields_in_order(self):
        self.assertEqual(geometry.geometry_answer(FACTS),
                         "OK|960|540|256.004|289.004|998.397|706.595|77|80|60|1280|820|256|1|100|")
        named = dict(FACTS, presentation="impress:7")
        self.assertEqual(geometry.geometry_answer(named).split("|")[15], "impress:7")

    def test_the_presentation_stays_one_field_of_one_line(self):
        named = dict(FACTS, presentation="a|b%c\td\re\nf")
        answer = geometry.geometry_answer(named)
        self.assertEqual(len(answer.split("|")), 16)
        self.assertEqual(answer.split("|")[15], "a%7Cb%25c%09d%0De%0Af")

    def test_sentences_for_views_that_cannot_be_drawn_on(self):
        self.assertEqual(geometry.geometry_answer({"doc": None}), "ERR|" + geometry.NO_WINDOW)
        other = dict(FACTS, view="other", slide=None)
        self.assertEqual(geometry.geometry_answer(other), "ERR|" + geometry.NOT_NORMAL)
        self.assertIn("Normal view", geometry.NOT_NORMAL)
        self.assertNotIn("PowerPoint", geometry.NOT_NORMAL + geometry.NO_WINDOW)


class PlacementTest(unittest.TestCase):
    def test_the_slide_follows_the_visible_area(self):
        # A 28 by 15.75 cm page; the pane shows from -2 cm, -1 cm at 0.04 px per 1/100 mm.
        rect, scale = geometry.slide_on_screen((100, 50, 1200, 800), (-2000, -1000, 30000, 20000),
                                               (28000, 15750))
        self.assertEqual(rect, (180.0, 90.0, 1120.0, 630.0))
        self.assertAlmostEqual(scale, 0.04 * 2540 / 72)

    def test_scrolled_past_the_left_edge_puts_the_slide_off_the_pane(self):
        rect, _ = geometry.slide_on_screen((0, 0, 1000, 500), (5000, 0, 10000, 5000),
                                           (28000, 15750))
        self.assertEqual(rect[0], -500.0)

    def test_a_known_zoom_gives_the_exact_scale_despite_rounded_areas(self):
        # 300 % at 96 dpi: 2541 px of pane are 22,410.4 hundredths; Impress's area reads a
        # little off, as the pane's rectangle and the area are measured apart.
        exact = 3 * 96 / 2540
        rect, scale = geometry.slide_on_screen((0, 0, 2541, 862), (-1000, -500, 22400, 7600),
                                               (33867, 19050), zoom=300)
        self.assertAlmostEqual(scale, 3 * 96 / 72)
        self.assertAlmostEqual(rect[2], 33867 * exact)
        self.assertAlmostEqual(rect[0], 1000 * exact)
        # Without the zoom the ratio is used, and is off by most of a pixel.
        rect, _ = geometry.slide_on_screen((0, 0, 2541, 862), (-1000, -500, 22400, 7600),
                                           (33867, 19050))
        self.assertGreater(abs(rect[2] - 33867 * exact), 0.3)

    def test_a_ratio_far_from_any_whole_resolution_is_kept(self):
        # A stale zoom (140 read while the pane shows 100 % at 96 dpi) names 68.57 dpi: no
        # whole resolution, so the pane's own ratio stays.
        rect, scale = geometry.slide_on_screen((0, 0, 1000, 500), (0, 0, 26458, 13229),
                                               (26458, 13229), zoom=140)
        self.assertAlmostEqual(rect[2], 1000, places=2)

    def test_an_empty_pane_places_nothing(self):
        self.assertIsNone(geometry.slide_on_screen((0, 0, 0, 10), (0, 0, 10, 10), (5, 5)))
        self.assertIsNone(geometry.slide_on_screen((0, 0, 10, 10), (0, 0, 0, 10), (5, 5)))


if __name__ == "__main__":
    unittest.main()
