"""The view facts against the screen's own pixels: a red box placed at known slide points must
be found where the facts say, to a pixel, at Fit, at 50 % and at 150 % scrolled with the mouse
wheel (real input, after which LibreOffice's own idea of its window's place changes).

Runs in soffice under Xvfb through the shared fixture; pixels come from the X server
(scripts/impress/xshot.py). A failure writes the screenshot to build/impress-artifacts/.
"""

import os
import sys
import time
import unittest

import _paths

sys.path.insert(0, os.path.join(_paths.ROOT, "scripts", "impress"))

BOX = (430, 230, 530, 310)  # slide points: left, top, right, bottom
ARTIFACTS = os.path.join(_paths.ROOT, "build", "impress-artifacts")


def red_box(shot, rect):
    """(left, top, right, bottom) of the red pixels inside rect (x, y, w, h), right and bottom
    exclusive; None when there are none."""
    x0, y0, w, h = rect
    xs, ys = [], []
    for y in range(max(y0, shot.y), min(y0 + h, shot.y + shot.height)):
        for x in range(max(x0, shot.x), min(x0 + w, shot.x + shot.width)):
            r, g, b = shot.pixel(x, y)
            if r > 200 and g < 80 and b < 80:
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


class ViewPixelsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import session
        import xshot
        cls.session = session.shared()
        cls.xshot = xshot

    def setUp(self):
        self.session.given(reset=True)
        answer = self.session.macro(
            "SCBT_Insert", "M %d %d L %d %d L %d %d L %d %d Z" % (
                BOX[0], BOX[1], BOX[2], BOX[1], BOX[2], BOX[3], BOX[0], BOX[3]),
            "none", "0", "#FF0000", "", "", limit=20000)
        self.assertTrue(answer["direct"].startswith("OK|1"), answer)

    def facts_after_drawing(self):
        """The facts once Impress has painted them: two equal readings 0.3 s apart."""
        last = None
        for _ in range(20):
            time.sleep(0.3)
            facts = self.session.view()
            if last is not None and facts["slide"] == last["slide"]:
                return facts
            last = facts
        return last

    def check(self, what):
        facts = self.facts_after_drawing()
        self.assertEqual(facts["view"], "normal", facts)
        shot = self.xshot.grab(self.session.display)
        found = red_box(shot, facts["pane"])
        x, y = facts["slide"][0], facts["slide"][1]
        scale = facts["scale"]
        want = (x + BOX[0] * scale, y + BOX[1] * scale, x + BOX[2] * scale,
                y + BOX[3] * scale)
        far = found is None or max(abs(a - b) for a, b in zip(found, want)) > 1.0
        if far:
            os.makedirs(ARTIFACTS, exist_ok=True)
            with open(os.path.join(ARTIFACTS, "view-%s.png" % what), "wb") as f:
                f.write(shot.png())
        self.assertFalse(far, "%s: red box at %r, the facts say %r (facts %r)" % (
            what, found, want, facts))
        # The answer Scribbet reads says the same as the facts.
        geom = self.session.macro("SCBT_Geom")["direct"].split("|")
        self.assertAlmostEqual(float(geom[3]), x, delta=0.01)
        self.assertAlmostEqual(float(geom[5]) - float(geom[3]), facts["slide"][2], delta=0.01)
        return facts

    def test_at_fit(self):
        facts = self.check("fit")
        self.assertTrue(facts["fit"])
        # At Fit the whole slide is inside the edit view.
        px, py, pw, ph = facts["pane"]
        sx, sy, sw, sh = facts["slide"]
        self.assertTrue(px <= sx and sx + sw <= px + pw and py <= sy and sy + sh <= py + ph)

    def test_at_50_percent(self):
        self.session.given(zoom="50")
        facts = self.check("50")
        self.assertFalse(facts["fit"])
        self.assertAlmostEqual(facts["scale"], 0.5, delta=0.01)

    def test_at_150_percent_scrolled_by_the_wheel(self):
        self.session.given(zoom="150")
        before = self.check("150")
        px, py, pw, ph = before["pane"]
        self.session.xdotool("mousemove", str(px + pw // 2), str(py + ph // 2))
        for button in ("5", "5"):  # two steps down the slide
            self.session.xdotool("click", button)
            time.sleep(0.2)
        after = self.check("150-scrolled")
        self.assertLess(after["slide"][1], before["slide"][1] - 10, "the wheel did not scroll")
        self.assertEqual(after["slideNumber"], 1)


if __name__ == "__main__":
    unittest.main()
