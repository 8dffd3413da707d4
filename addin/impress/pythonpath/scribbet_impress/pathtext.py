"""The drawing's path text, and the number texts of the macros' arguments and answers.

The drawing page hands a placing over as SVG path data in slide points (origin at the slide's
top-left corner) with the absolute commands M, L, C and Z only. Each subpath begins with M and
becomes one freeform: its lines as line segments, each C as one cubic segment. The text is
read whole or not at all: any fault gives one sentence for the user and no subpaths, so the
slide is never touched by half a drawing. The words are the ones Scribbet's other hosts use.

Numbers go out as Scribbet reads them everywhere: at most three decimals, no trailing zeros,
never "-0", always a point, whatever the locale says. Lengths come back from Impress in
1/100 mm and are told as the shortest number of points that Impress keeps as that length.
"""

import math
import re

# Far beyond any slide; Impress would take shapes this far out, but nobody drew them.
MAX_COORDINATE = 1e6

_SPACE = " \t\n\r\f"
_BLANK = " \t\r\n"  # what is trimmed around an argument


class Segment:
    """One line (c1 and c2 None) or cubic from the previous point to `to`; points are (x, y)."""

    __slots__ = ("c1", "c2", "to")

    def __init__(self, to, c1=None, c2=None):
        self.to, self.c1, self.c2 = to, c1, c2

    @property
    def cubic(self):
        return self.c1 is not None

    def __eq__(self, other):
        return (self.to, self.c1, self.c2) == (other.to, other.c1, other.c2)

    def __repr__(self):
        return "Segment(%r, %r, %r)" % (self.to, self.c1, self.c2)


class Subpath:
    """A start point, its segments, and whether Z closed it."""

    __slots__ = ("start", "segments", "closed")

    def __init__(self, start, segments=None, closed=False):
        self.start, self.segments, self.closed = start, list(segments or []), closed

    def __eq__(self, other):
        return (self.start, self.segments, self.closed) == (
            other.start, other.segments, other.closed)

    def __repr__(self):
        return "Subpath(%r, %r, %r)" % (self.start, self.segments, self.closed)


class PathError(Exception):
    """A fault in the path text; its message is the sentence for the user."""


class _Reader:
    """Walks the text by SVG's path grammar: numbers may run together where a sign or a second
    decimal point starts the next one ("10-5", "1.5.5"), and one comma may stand between two
    numbers (a comma must be followed by another number)."""

    def __init__(self, text):
        self.text = text
        self.i = 0
        self.comma = False

    def _skip(self):
        n = len(self.text)
        while self.i < n and self.text[self.i] in _SPACE:
            self.i += 1

    def at_end(self):
        self._skip()
        return self.i >= len(self.text)

    def take(self):
        c = self.text[self.i]
        self.i += 1
        return c

    def number_ahead(self):
        self._skip()
        return self.i < len(self.text) and self.text[self.i] in "0123456789.+-"

    def number(self):
        if not self.number_ahead():
            raise PathError("The drawing has a number missing.")
        t, n, start = self.text, len(self.text), self.i
        if t[self.i] in "+-":
            self.i += 1
        digits = nonzero = 0
        for part in (0, 1):
            if part == 1:
                if self.i >= n or t[self.i] != ".":
                    break
                self.i += 1
            while self.i < n and "0" <= t[self.i] <= "9":
                digits += 1
                nonzero += t[self.i] != "0"
                self.i += 1
        if digits == 0:
            raise PathError("The drawing has a number that cannot be read.")
        if self.i < n and t[self.i] in "eE":
            j = self.i + 1
            if j < n and t[j] in "+-":
                j += 1
            if j >= n or not "0" <= t[j] <= "9":
                raise PathError("The drawing has a number that cannot be read.")
            while j < n and "0" <= t[j] <= "9":
                j += 1
            self.i = j
        value = float(t[start:self.i])
        # A value that overflows, or that underflows to nothing although it has digits, is
        # out of a double's range either way.
        if (not math.isfinite(value) or abs(value) > MAX_COORDINATE
                or (value == 0 and nonzero)):
            raise PathError("The drawing has a coordinate too far from the slide.")
        self._skip()
        self.comma = self.i < n and t[self.i] == ","
        if self.comma:
            self.i += 1
        return value + 0.0  # no -0.0

    def point(self):
        x = self.number()
        return (x, self.number())


def _command_error(c):
    if c.isascii() and c.isalpha():
        return ('The drawing uses the path command "%s", but only absolute M, L, C and Z are '
                'understood.' % c)
    return 'The drawing has an unexpected character "%s".' % c


class _Builder:
    """Reads the commands one by one; `current` is the subpath being built, none before the
    first M and after a Z (a new part must begin with M)."""

    def __init__(self, text):
        self.r = _Reader(text)
        self.done = []
        self.current = None
        self.after_close = False

    def run(self):
        r = self.r
        if r.at_end():
            raise PathError("There is nothing to place: the drawing is empty.")
        while not r.at_end():
            if r.comma:
                raise PathError("The drawing has a comma where a number should be.")
            c = r.take()
            step = {"M": self.move, "L": self.line, "C": self.curve, "Z": self.close}.get(c)
            if step is None:
                raise PathError(_command_error(c))
            step()
        if r.comma:
            raise PathError("The drawing has a comma where a number should be.")
        self.finish()
        return self.done

    def finish(self):
        if self.current is None:
            return
        if not self.current.segments:
            raise PathError("A part of the drawing has no lines or curves.")
        self.done.append(self.current)
        self.current = None

    def move(self):
        self.finish()
        self.current = Subpath(self.r.point())
        self.after_close = False
        while self.r.number_ahead():  # further pairs after M are lines, as in SVG
            self.current.segments.append(Segment(self.r.point()))

    def need_open(self, command):
        if self.current is not None and not self.after_close:
            return
        if self.after_close:
            raise PathError("A part of the drawing after Z must begin with M.")
        raise PathError("The drawing must begin with M, not %s." % command)

    def line(self):
        self.need_open("L")
        self.current.segments.append(Segment(self.r.point()))
        while self.r.number_ahead():
            self.current.segments.append(Segment(self.r.point()))

    def curve(self):
        self.need_open("C")
        while True:
            c1 = self.r.point()
            c2 = self.r.point()
            self.current.segments.append(Segment(self.r.point(), c1, c2))
            if not self.r.number_ahead():
                break

    def close(self):
        self.need_open("Z")
        if self.r.number_ahead():
            raise PathError("The drawing has numbers after Z.")
        self.current.closed = True
        self.after_close = True


def parse(text):
    """The subpaths of `text`; raises PathError with the user's sentence for any fault."""
    return _Builder(text).run()


def is_blank(text, also=""):
    """True when text has nothing but blanks (and the characters in `also`)."""
    return all(c in _SPACE + also for c in text)


def trim(text):
    """The argument without the blanks Scribbet allows around it."""
    return text.strip(_BLANK)


def _turning_values(p0, p1, p2, p3):
    """One coordinate's values along a cubic where it turns, for t strictly inside (0, 1)."""
    a = -p0 + 3 * p1 - 3 * p2 + p3
    b = 2 * (p0 - 2 * p1 + p2)
    c = p1 - p0
    ts = []
    if abs(a) < 1e-12:
        if abs(b) > 1e-12:
            ts.append(-c / b)
    else:
        d = b * b - 4 * a * c
        if d >= 0:
            ts += [(-b + math.sqrt(d)) / (2 * a), (-b - math.sqrt(d)) / (2 * a)]
    out = []
    for t in ts:
        if 0 < t < 1:
            u = 1 - t
            out.append(u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3)
    return out


def bounds(subpaths):
    """(left, top, width, height) of the drawn outline: curves by their true extent, not by
    their control points, as a freeform's frame is reported. None for no points."""
    xs, ys = [], []
    for s in subpaths:
        prev = s.start
        xs.append(prev[0])
        ys.append(prev[1])
        for seg in s.segments:
            xs.append(seg.to[0])
            ys.append(seg.to[1])
            if seg.cubic:
                xs += _turning_values(prev[0], seg.c1[0], seg.c2[0], seg.to[0])
                ys += _turning_values(prev[1], seg.c1[1], seg.c2[1], seg.to[1])
            prev = seg.to
    if not xs:
        return None
    return (min(xs), min(ys), max(xs) - min(xs), max(ys) - min(ys))


HMM_PER_POINT = 2540 / 72  # Impress keeps lengths in 1/100 mm


def hmm(points):
    """Points as the nearest whole 1/100 mm."""
    return int(round(points * HMM_PER_POINT))


def points_of(length):
    """The shortest number of points (at most three decimals) that Impress keeps as exactly
    `length` 1/100 mm: a shape drawn from 10 pt is at 353, which reads back as 10, not as
    10.006. Sizes are told as differences of edges read this way."""
    for decimals in range(4):
        value = round(length / HMM_PER_POINT, decimals)
        if hmm(value) == length:
            return value + 0.0
    return length / HMM_PER_POINT


def num(value):
    """A number as the answers carry it, as the stand-in writes them: "%.3f" without trailing
    zeros or a trailing point, never "-0"."""
    text = ("%.3f" % value).rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


_WHOLE = re.compile(r"-?[0-9]+\Z")
_DECIMAL = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?\Z")


def read_whole(text):
    """An integer written as an optional "-" and ASCII digits, nothing else; else None."""
    return int(text) if _WHOLE.match(text) else None


def read_finite(text):
    """A finite decimal in the usual text form with an optional sign; else None (also for
    "inf", "nan" and values beyond a double's range either way)."""
    if not _DECIMAL.match(text):
        return None
    value = float(text)
    if not math.isfinite(value) or (value == 0 and re.search(r"[1-9]", text.split("e")[0]
                                                              .split("E")[0])):
        return None
    return value + 0.0
