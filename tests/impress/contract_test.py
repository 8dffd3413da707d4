"""Every case of addin/contract.cases, run against the real Impress through its extension.

Each case starts from the default state (the `given` request's "reset"), sets the givens
Impress can show in one `given` request, then makes its calls over the extension's socket and
checks each `answer` and `span` line by the README's pattern rules. The answers name their
program, so "PowerPoint" in a pattern stands for Impress here.

What is left out, and why:
- every `exactly` line: it is the stand-in's own answer, numbers from its model of a window
  (its frame, toolbars and pane), which Impress's real window does not share; the case's
  `answer` and `span` lines say what every host must answer;
- a case with a given Impress cannot show (scroll, split, units, screens, theme, the add-in's
  version, the link helper's): reported as skipped with the key;
- a zoom Impress cannot show exactly: its zoom is a whole Impress percent and the contract's is
  that x 96/72, so 50, 75 and 150 have no Impress step (reported as skipped with the zoom).

    /usr/bin/python3 -m unittest contract_test          (in tests/impress; starts soffice)
    SCRIBBET_CONTRACT_ONLY=name,name ...                 (runs only those cases)

The pattern matcher and the case reader are tested first, without soffice.
"""

import os
import re
import sys
import unittest

import _paths

sys.path.insert(0, os.path.join(_paths.ROOT, "scripts", "impress"))

CASES = os.path.join(_paths.ROOT, "addin", "contract.cases")
PROGRAM = "Impress"
UNSHOWABLE = ("scroll", "split", "units", "screens", "theme", "addin.version", "second", "focus")
CALL_LIMIT_MS = 30000


# -- reading the cases -------------------------------------------------------------------------

def unescape(field):
    """\\t, \\n and \\\\ resolved in one left-to-right pass; any other backslash is itself."""
    out, i = [], 0
    while i < len(field):
        pair = field[i:i + 2]
        if pair in ("\\t", "\\n", "\\\\"):
            out.append({"\\t": "\t", "\\n": "\n", "\\\\": "\\"}[pair])
            i += 2
        else:
            out.append(field[i])
            i += 1
    return "".join(out)


class Case:
    def __init__(self, name, line):
        self.name, self.line = name, line
        self.givens = {}
        self.steps = []  # [line, macro, raw args, [(line, kind, fields)]]


def read_cases(text):
    """The cases of a contract text, in order."""
    cases = []
    for number, raw in enumerate(text.split("\n"), 1):
        if not raw or raw.startswith("#"):
            continue
        fields = raw.split("\t")
        kind, rest = fields[0], fields[1:]
        if kind == "case":
            cases.append(Case(unescape(rest[0]), number))
        elif kind == "given":
            cases[-1].givens[unescape(rest[0])] = unescape(rest[1])
        elif kind == "call":
            cases[-1].steps.append([number, unescape(rest[0]), rest[1:], []])
        elif kind in ("answer", "span"):
            cases[-1].steps[-1][3].append((number, kind, rest))
        elif kind != "exactly":
            raise ValueError("line %d: unknown record %r" % (number, kind))
    return cases


# -- patterns ----------------------------------------------------------------------------------

_NAME = re.compile(r"\{([A-Za-z0-9_]+)\}")
_RUN_STOPS = "|\t\n"


def tokens(pattern):
    """The pattern as ("text", c), ("star",) and ("bind", NAME) tokens, read once."""
    out, i = [], 0
    while i < len(pattern):
        c, pair = pattern[i], pattern[i:i + 2]
        if pair in ("\\*", "\\t", "\\n", "\\\\"):
            out.append(("text", {"\\*": "*", "\\t": "\t", "\\n": "\n", "\\\\": "\\"}[pair]))
            i += 2
            continue
        m = _NAME.match(pattern, i)
        if m:
            out.append(("bind", m.group(1)))
            i = m.end()
        elif c == "*":
            out.append(("star",))
            i += 1
        else:
            out.append(("text", c))
            i += 1
    return out


def match(pattern, text, bound):
    """The new bindings when text matches pattern (given those bound), else None. Runs are
    tried shortest first and give way to longer ones."""
    toks = tokens(pattern)

    def walk(t, i, new):
        if t == len(toks):
            return new if i == len(text) else None
        tok = toks[t]
        if tok[0] == "text":
            return walk(t + 1, i + 1, new) if text[i:i + 1] == tok[1] else None
        name = tok[1] if tok[0] == "bind" else None
        known = bound.get(name, new.get(name)) if name else None
        if known is not None:
            return walk(t + 1, i + len(known), new) if text.startswith(known, i) else None
        j = i
        while True:
            got = walk(t + 1, j, dict(new, **{name: text[i:j]}) if name else new)
            if got is not None:
                return got
            if j >= len(text) or text[j] in _RUN_STOPS:
                return None
            j += 1

    return walk(0, 0, {})


def substitute(field, bound):
    """A call argument with its escapes resolved and {NAME} replaced; KeyError when unbound."""
    out, i = [], 0
    while i < len(field):
        pair = field[i:i + 2]
        if pair in ("\\t", "\\n", "\\\\"):
            out.append({"\\t": "\t", "\\n": "\n", "\\\\": "\\"}[pair])
            i += 2
            continue
        m = _NAME.match(field, i)
        if m:
            out.append(bound[m.group(1)])
            i = m.end()
        else:
            out.append(field[i])
            i += 1
    return "".join(out)


def skip_reason(case):
    """The given that keeps the case from running in Impress, or None."""
    for key, value in case.givens.items():
        if key in UNSHOWABLE or key.startswith("link."):
            return key
        if key == "zoom":
            try:
                impress_percent = float(value) * 72 / 96
            except ValueError:
                return key
            if impress_percent != int(impress_percent):
                return "zoom %s (Impress %s %%)" % (value, impress_percent)
    return None


# -- running them ------------------------------------------------------------------------------

def run_case(case, client):
    """None when the case passes, else the sentence naming the failing line."""
    givens = dict(case.givens)
    answer = client.given(dict({"reset": True}, **givens))
    if not answer.get("ok"):
        return "line %d: the givens could not be set: %s" % (case.line, answer.get("msg"))
    bound = {}
    for line, macro, raw_args, checks in case.steps:
        try:
            args = [substitute(a, bound) for a in raw_args]
        except KeyError as e:
            return "line %d: %s is not bound" % (line, e)
        reply = client.macro(macro, args)
        if reply.get("errn") != 0:
            return "line %d: %s answered %r" % (line, macro, reply)
        got = reply["direct"]
        for check_line, kind, fields in checks:
            if kind == "answer":
                pattern = fields[0].replace("PowerPoint", PROGRAM)
                new = match(pattern, got, bound)
                if new is None:
                    return "line %d: %s answered %r, not %r" % (check_line, macro,
                                                               _short(got), pattern)
                bound.update(new)
            else:
                problem = _span(bound, fields)
                if problem:
                    return "line %d: %s" % (check_line, problem)
    return None


def _span(bound, fields):
    try:
        a = float(bound[fields[0].strip("{}")])
        b = float(bound[fields[1].strip("{}")])
        want = float(fields[2])
    except (KeyError, ValueError) as e:
        return "span %s cannot be read (%s)" % ("\t".join(fields), e)
    if abs((b - a) - want) > 0.5:
        return "span %s to %s is %g, not %g" % (fields[0], fields[1], b - a, want)
    return None


def _short(text):
    return text if len(text) < 300 else text[:300] + "..."


class MatcherTest(unittest.TestCase):
    """The rules the whole contract run rests on: a matcher that passed anything would pass
    every case."""

    def test_stars_and_bindings(self):
        self.assertEqual(match("OK|*.*", "OK|1.2.3", {}), {})
        self.assertEqual(match("OK|{A}|{B}", "OK|12|7", {}), {"A": "12", "B": "7"})
        self.assertIsNone(match("OK|*", "OK|a|b", {}))  # a run never crosses a |
        self.assertIsNone(match("OK|{A}\\t1", "OK|x\ty\t1", {}))
        self.assertIsNone(match("OK|1", "OK|12", {}))

    def test_a_bound_name_matches_only_its_text(self):
        self.assertEqual(match("{A}|{A}", "5|5", {}), {"A": "5"})
        self.assertIsNone(match("{A}|{A}", "5|6", {}))
        self.assertIsNone(match("OK|{P}", "OK|abc", {"P": "abd"}))

    def test_escapes_and_lone_braces(self):
        self.assertEqual(match("OK|1\\n0\\t*", "OK|1\n0\tname", {}), {})
        self.assertEqual(match("a\\*b", "a*b", {}), {})
        self.assertIsNone(match("a\\*b", "axb", {}))
        self.assertEqual(match("{x y}", "{x y}", {}), {})

    def test_arguments_take_bound_texts(self):
        self.assertEqual(substitute("{A},{B}", {"A": "2", "B": "3"}), "2,3")
        with self.assertRaises(KeyError):
            substitute("{C}", {})

    def test_the_contract_reads_whole(self):
        with open(CASES, encoding="utf-8") as f:
            cases = read_cases(f.read())
        self.assertGreater(len(cases), 50)
        self.assertEqual(len({c.name for c in cases}), len(cases))
        for case in cases:
            self.assertTrue(case.steps, case.name)
        zooms = {c.name: skip_reason(c) for c in cases if "zoom" in c.givens}
        self.assertIsNone(zooms["geometry-at-100"])
        self.assertIsNotNone(zooms["geometry-at-75"])


class ImpressContractTest(unittest.TestCase):
    """The whole contract against one soffice, its document reset before every case."""

    @classmethod
    def setUpClass(cls):
        import session  # scripts/impress/session.py, the fixture
        cls.session = session.shared()

    def test_every_case(self):
        client = Client(self.session)
        with open(CASES, encoding="utf-8") as f:
            cases = read_cases(f.read())
        only = [n for n in os.environ.get("SCRIBBET_CONTRACT_ONLY", "").split(",") if n]
        failures, skipped, passed = [], [], 0
        for case in cases:
            if only and case.name not in only:
                continue
            reason = skip_reason(case)
            if reason:
                skipped.append("%s (%s)" % (case.name, reason))
                continue
            problem = run_case(case, client)
            if problem:
                failures.append("case %s, %s" % (case.name, problem))
            else:
                passed += 1
        sys.stderr.write("\ncontract: %d passed, %d skipped, %d failed\n  skipped: %s\n" % (
            passed, len(skipped), len(failures), "; ".join(skipped)))
        self.assertFalse(failures, "\n" + "\n".join(failures))


class Client:
    """Requests over the fixture's socket connection."""

    def __init__(self, session):
        self.session = session

    def given(self, values):
        return self.session.request({"op": "given", "values": values, "limit": 60000},
                                    timeout=90)

    def macro(self, name, args):
        return self.session.request({"op": "macro", "name": "SCBT_Pen." + name, "args": args,
                                     "limit": CALL_LIMIT_MS}, timeout=CALL_LIMIT_MS / 1000 + 5)


if __name__ == "__main__":
    unittest.main()
