"""The geometry answer's text, built from view facts; plain Python, tested without soffice.

The numbers are written as the desktop stand-in writes them (three decimals, trailing zeros
and a trailing point dropped, never "-0"), so Scribbet reads Impress's answers exactly as it
reads every other host's.
"""

import math

NOT_NORMAL = "Impress's window is not in Normal view: choose View > Normal to draw on a slide."
NO_WINDOW = "Impress has no window showing a presentation."
POINTS_PER_100TH_MM = 72 / 2540


def num(value):
    """A number as the geometry answer writes it: "%.3f" without trailing zeros."""
    text = "%.3f" % value
    text = text.rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def round_half_away(value):
    """Rounds like C's round(): halves away from zero (Python's round() goes to even)."""
    return math.floor(value + 0.5) if value >= 0 else -math.floor(-value + 0.5)


def problem(facts):
    """The sentence for a view that cannot be drawn on, or None for a Normal view."""
    if facts.get("doc") is None:
        return NO_WINDOW
    if facts.get("view") != "normal" or facts.get("slide") is None:
        return NOT_NORMAL
    return None


def answer_fields(facts):
    """The fields after "OK|": slide W|H|left|top|right|bottom|zoom|window X|Y|W|H|id|fit|split|
    presentation (the document's key, see Host.presentation_key).

    The slide's rectangle and the window are in global screen points, which on Linux are the
    X screen's pixels. The zoom is the screen points per slide point as a whole percent (the
    unit every host's answer uses), not Impress's own percentage.
    """
    x, y, w, h = facts["slide"]
    wx, wy, ww, wh = facts["window"]
    fields = [num(facts["slideW"]), num(facts["slideH"]), num(x), num(y), num(x + w),
              num(y + h), num(round_half_away(facts["scale"] * 100)), num(wx), num(wy),
              num(ww), num(wh), str(int(facts["slideId"])), "1" if facts["fit"] else "0",
              num(facts.get("split", 100)), one_field(facts.get("presentation") or "")]
    return "|".join(fields)


def one_field(text):
    """text as one field of the answer: "%", "|", TAB, CR and LF written as %25, %7C, %09,
    %0D and %0A, as PowerPoint's add-in writes its presentations' names."""
    for plain, written in (("%", "%25"), ("|", "%7C"), ("\t", "%09"), ("\r", "%0D"), ("\n", "%0A")):
        text = text.replace(plain, written)
    return text


def geometry_answer(facts):
    """SCBT_Geom's whole answer for these facts: "OK|..." or "ERR|sentence"."""
    sentence = problem(facts)
    if sentence:
        return "ERR|" + sentence
    return "OK|" + answer_fields(facts)


def slide_on_screen(pane, visible, page_size, zoom=None):
    """The slide's rectangle and the scale, from the pane and the controller's VisibleArea.

    pane is the edit view's (x, y, w, h) in screen pixels; visible is VisibleArea's
    (x, y, w, h) in 1/100 mm of the page (whose top left corner is 0, 0); page_size is the
    page's (w, h) in 1/100 mm; zoom is Impress's zoom percent when known. Returns
    ((x, y, w, h), pixels per point) or None when the view shows nothing (a pane or area of
    no size).

    VisibleArea is the pane's size turned into whole 1/100 mm, so the ratio of the two is off
    by up to half a unit in thousands: at 400 % that is most of a pixel across the slide.
    Impress draws at exactly zoom x its screen's whole dots per inch, so when the ratio names
    such a resolution (to a tenth of a dot) the exact scale is used.
    """
    px, py, pw, ph = pane
    vx, vy, vw, vh = visible
    if pw <= 0 or ph <= 0 or vw <= 0 or vh <= 0:
        return None
    sx = pw / vw
    sy = ph / vh
    if zoom:
        per_dpi = zoom / 100 / 2540
        dpi = round((sx + sy) / 2 / per_dpi)
        if dpi > 0 and abs(sx / per_dpi - dpi) < 0.1 and abs(sy / per_dpi - dpi) < 0.1:
            sx = sy = dpi * per_dpi
    rect = (px - vx * sx, py - vy * sy, page_size[0] * sx, page_size[1] * sy)
    return rect, (sx + sy) / 2 / POINTS_PER_100TH_MM


def points_of(hundredths):
    """A length kept in 1/100 mm as the shortest number of points that is kept as it.

    Impress keeps page sizes in 1/100 mm, which cannot hold 960 points exactly (33866.67);
    a 960-point slide is kept as 33867 and read back as 960.009 points. The shortest text
    that Impress would keep as the same length is the size the user gave, so that is the one
    answered.
    """
    exact = hundredths / 2540 * 72
    for decimals in range(4):
        candidate = round(exact, decimals)
        if round(candidate / 72 * 2540) == hundredths:
            return candidate
    return exact


def hundredths_of(points):
    """Points as Impress keeps them: whole 1/100 mm."""
    return int(round_half_away(points / 72 * 2540))
