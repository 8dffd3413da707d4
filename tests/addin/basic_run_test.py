#!/usr/bin/python3
"""The add-in's VBA modules run as they are written in LibreOffice Basic (VBA mode), one
headless soffice per run (tests/addin/basic/office.py): numbers written and read with a
point, Base64, colours, the drawing's path text (against the stand-in's own parser), the
contract's patterns (against the stand-in's exact answers in contract.cases), the self-test's
reading of the cases, what the macros refuse before they reach PowerPoint, and what they do
with PowerPoint's objects, a pretend PowerPoint's (tests/addin/basic/pretend).

    /usr/bin/python3 tests/addin/basic_run_test.py [helpers|contract|macros|pretend]"""
import base64
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "basic"))
import office  # noqa: E402

ROOT = office.ROOT
OFFICE = None


def setUpModule():
    global OFFICE
    OFFICE = office.Office([Path(__file__).resolve().parent / "basic/ScbtChecks.bas"])


def tearDownModule():
    if OFFICE is not None:
        OFFICE.stop()


def run(name, *args):
    return OFFICE.call(name, *args)


def standin_num(v):
    """The stand-in's number text (standin/macros.cpp num): "%.3f", trailing zeros dropped."""
    s = ("%.3f" % v).rstrip("0").rstrip(".")
    return "0" if s == "-0" else s


class NumbersTravelWithAPoint(unittest.TestCase):
    def test_num_writes_what_the_stand_in_writes(self):
        rng = random.Random(7)
        values = [0, 1, -1, 0.5, -0.5, 2.25, 1e-4, -1e-4, 0.0005, -0.0005, 959.9996, 1234567.891, -80.125, 100.1,
                  # Ties as written, which a Double holds a little below or above: the exact value decides.
                  1.0005, 2.0005, 1.0015, 0.0015, 0.0025, 2.675, 1.2345, 123456789012.3455,
                  # Exact halves of a thousandth go to the even one, as printf does.
                  0.0625, 2.0625, 0.1875, -0.1875, 1023.9995117187500,
                  # Beyond fifteen digits, up to the largest Double, and the smallest.
                  1e15 + 0.5, 2.0 ** 53, 2.0 ** 53 + 2, 1e22, -1e300, 1.7976931348623157e308, 5e-324]
        values += [rng.uniform(-5000, 5000) for _ in range(300)] + [rng.randint(-9999, 9999) / 16 for _ in range(150)]
        values += [round(rng.uniform(-2000, 2000), 3) + s * 0.0005 for s in (1, -1) for _ in range(150)]
        values += [rng.randint(-10 ** 7, 10 ** 7) / 2000 for _ in range(200)]
        wrong = [(v, run("SCBT_Text.Num", float(v)), standin_num(v)) for v in values]
        wrong = [w for w in wrong if w[1] != w[2]]
        self.assertEqual(wrong, [])

    def test_read_decimal_takes_the_usual_forms_whole(self):
        for s, want in [("1", 1), ("-2.5", -2.5), ("+3", 3), (".5", 0.5), ("5.", 5), ("1e3", 1000), ("1E-2", 0.01),
                        ("0", 0), ("0.0e5", 0), ("1584", 1584), ("007", 7)]:
            ok, back = OFFICE.invoke("SCBT_Text.ReadDecimal", s, 0.0)
            self.assertEqual((ok, back[1]), (True, want), s)
        for s in ["", "abc", "1,5", "1.5.5", "nan", "NaN", "inf", "1e", "--1", " 1", "1 ", "1e999", "-1e999",
                  "1e-999", "0x10", "&H10", ".", "-", "1d5", "1e+"]:
            self.assertFalse(run("SCBT_Text.ReadDecimal", s, 0.0), s)

    def test_read_whole_takes_digits_and_a_minus_only(self):
        for s, want in [("12", 12), ("-3", -3), ("007", 7), ("8192", 8192)]:
            ok, back = OFFICE.invoke("SCBT_Text.ReadWhole", s, 0.0)
            self.assertEqual((ok, back[1]), (True, want), s)
        for s in ["+1", "1.0", "", "-", "1 ", " 1", "1e3", "12a", "--1", "1234567890123456789"]:
            self.assertFalse(run("SCBT_Text.ReadWhole", s, 0.0), s)

    def test_trim_and_hex(self):
        self.assertEqual(run("SCBT_Text.TrimBlank", " \t fit \r\n"), "fit")
        self.assertEqual(run("SCBT_Text.TrimBlank", "   "), "")
        self.assertEqual(run("SCBT_Text.HexColour", 0x31_7D_ED), "#ED7D31")  # red in the low byte
        self.assertEqual(run("SCBT_Text.HexColour", 0), "#000000")
        self.assertEqual(run("SCBT_Text.HexValue", "1f1F1f"), 0x1F1F1F)
        for bad in ["", "12345G", "123456789", " 1"]:
            self.assertEqual(run("SCBT_Text.HexValue", bad), -1, bad)
        self.assertEqual(run("SCBT_Text.OneField", "a|b\tc\r\nd"), "a/b c  d")


class Base64IsTheStandardOne(unittest.TestCase):
    def test_every_length_and_byte_from_any_lower_bound(self):
        rng = random.Random(3)
        for n in list(range(0, 12)) + [255, 256, 1000]:
            data = bytes(rng.randrange(256) for _ in range(n))
            for lower in (0, 1):
                self.assertEqual(run("ScbtChecks.Base64Of", tuple(data), lower, n), base64.b64encode(data).decode(), n)
        self.assertEqual(run("ScbtChecks.Base64Of", tuple(range(256)), 0, 256), base64.b64encode(bytes(range(256))).decode())
        # Only the first `count` bytes.
        self.assertEqual(run("ScbtChecks.Base64Of", (77, 97, 110, 33), 0, 3), "TWFu")

    def test_text_form(self):
        self.assertEqual(run("SCBT_Base64.EncodeText", "Man"), "TWFu")
        self.assertEqual(run("SCBT_Base64.EncodeText", ""), "")


def parse(text):
    got = run("ScbtChecks.PathParts", text)
    if isinstance(got, str):
        return got
    return [((x, y), [tuple(s) if s[0] else (False, s[5], s[6]) for s in segs], closed) for x, y, closed, segs in got]


class ThePathTextIsReadWholeOrNotAtAll(unittest.TestCase):
    def test_lines_curves_and_closed_parts(self):
        self.assertEqual(parse("M 1 2 L 3 4"), [((1, 2), [(False, 3, 4)], False)])
        self.assertEqual(parse("M0,0 L10,0 10,10 Z M 5 5 C 1 2 3 4 5 6"),
                         [((0, 0), [(False, 10, 0), (False, 10, 10)], True),
                          ((5, 5), [(True, 1, 2, 3, 4, 5, 6)], False)])
        self.assertEqual(parse("M 0 0 10-5 1.5.5"), [((0, 0), [(False, 10, -5), (False, 1.5, 0.5)], False)])
        self.assertEqual(parse(" M -1e2 +2.5E1 L .5 5. "), [((-100, 25), [(False, 0.5, 5)], False)])
        self.assertEqual(len(parse("M 0 0 L 1 1 M 2 2 L 3 3 M 4 4 L 5 5 Z")), 3)
        many = parse("M 0 0 " + " ".join(f"L {i} {i}" for i in range(1, 40)) + " M 7 7 L 8 8")
        self.assertEqual([len(p[1]) for p in many], [39, 1])  # the second part starts afresh
        self.assertEqual(many[0][1][-1], (False, 39, 39))

    def test_each_fault_has_the_stand_ins_sentence(self):
        faults = {
            "": "There is nothing to place: the drawing is empty.",
            "M 1 2 M 3 4": "A part of the drawing has no lines or curves.",
            "M 1": "The drawing has a number missing.",
            "M 1 2 L 3 -": "The drawing has a number that cannot be read.",
            "M 1 2 L 3 1e999": "The drawing has a coordinate too far from the slide.",
            "M 1 2 m 3 4": 'The drawing uses the path command "m", but only absolute M, L, C and Z are understood.',
            "M 1 2 L 3 4 #": 'The drawing has an unexpected character "#".',
            "L 1 2": "The drawing must begin with M, not L.",
            "M 1 2 L 3 4 Z L 5 6": "A part of the drawing after Z must begin with M.",
            "M 1 2 L 3 4 Z 5 6": "The drawing has numbers after Z.",
            "M 1 2 L 3 4,": "The drawing has a comma where a number should be.",
        }
        for text, sentence in faults.items():
            self.assertEqual(parse(text), sentence, text)

# The stand-in's own parser, built from its source for the comparison below.
PARSER_MAIN = r"""
#include "path_text.hpp"
#include <iostream>
#include <string>
using namespace scribbet::standin;
int main() {
    std::string line;
    std::cout.precision(17);
    while (std::getline(std::cin, line)) {
        std::string t;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') t += '\n', ++i;
            else t += line[i];
        }
        auto r = parsePath(t);
        if (!r.ok()) { std::cout << "ERR " << r.error << "\n"; continue; }
        std::cout << "OK";
        for (auto& s : r.subpaths) {
            std::cout << " [" << s.start.x << "," << s.start.y << (s.closed ? " Z" : "");
            for (auto& g : s.segments) {
                if (g.kind == Segment::Kind::cubic) std::cout << " C" << g.c1.x << "," << g.c1.y << "," << g.c2.x << "," << g.c2.y;
                std::cout << " " << g.to.x << "," << g.to.y;
            }
            std::cout << "]";
        }
        std::cout << "\n";
    }
}
"""



def parsed_line(result):
    if isinstance(result, str):
        return "ERR " + result
    g = lambda v: "%.17g" % v
    out = "OK"
    for x, y, closed, segs in result:
        out += f" [{g(x)},{g(y)}" + (" Z" if closed else "")
        for s in segs:
            if s[0]:
                out += " C" + ",".join(g(v) for v in s[1:5])
            out += f" {g(s[5])},{g(s[6])}"
        out += "]"
    return out


class TheAddInReadsPathsAsTheStandInDoes(unittest.TestCase):
    """Path texts, sound and broken, through the add-in's parser and the stand-in's (compiled
    from standin/path_text.cpp): the same parts or the same sentence."""

    def test_random_texts_agree(self):
        compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
        self.assertTrue(compiler, "a C++ compiler is needed to build the stand-in's parser")
        with tempfile.TemporaryDirectory() as tmp:
            main = Path(tmp) / "parse.cpp"
            main.write_text(PARSER_MAIN)
            exe = Path(tmp) / "parse"
            subprocess.run([compiler, "-std=c++20", "-O1", f"-I{ROOT / 'standin'}", f"-I{ROOT / 'src'}", str(main),
                            str(ROOT / "standin/path_text.cpp"), str(ROOT / "src/base/text.cpp"), "-lutf8proc",
                            "-o", str(exe)], check=True)
            rng = random.Random(11)
            atoms = ["M", "L", "C", "Z", "m", "l", "z", "Q", " ", " ", ",", "1", "2.5", "-3", "+4", ".5", "5.", "1e2",
                     "1e", "-", ".", "1.5.5", "10-5", "1e999", "2000000", "\t", "\\n", "#", "e", "0", "NaN", "x",
                     "L 1 2", "C 1 2 3 4 5 6", "Z M 0 0", "L 3,4"]
            texts = []
            for _ in range(1500):
                t = "M 1 2 " if rng.random() < 0.7 else ""
                t += "".join(rng.choice(atoms) + rng.choice(["", " "]) for _ in range(rng.randint(0, 14)))
                texts.append(t)
            want = subprocess.run([str(exe)], input="\n".join(texts) + "\n", capture_output=True, text=True,
                                  check=True).stdout.split("\n")
            got = run("ScbtChecks.PathPartsOfEach", tuple(t.replace("\\n", "\n") for t in texts))
            for text, result, line in zip(texts, got, want):
                self.assertEqual(parsed_line(result), line, repr(text))
            self.assertGreater(sum(line.startswith("OK") for line in want), 20)  # sound texts among them


def steps(*steps):
    """The answers of SCBT_SelfTest's pattern steps, run in one call (ScbtChecks.Steps), bound
    names forgotten first."""
    return list(run("ScbtChecks.Steps", (("forget",),) + steps))[1:]


class ContractPatterns(unittest.TestCase):
    def matches(self, pattern, answer):
        return steps(("match", pattern, answer))[0]

    def test_stars_stop_at_separators(self):
        self.assertTrue(self.matches("OK|*|*", "OK|960|540"))
        self.assertTrue(self.matches("OK|*", "OK|"))
        self.assertTrue(self.matches("OK|*.*", "OK|1.2.3"))
        self.assertFalse(self.matches("OK|*", "OK|960|540"))
        self.assertFalse(self.matches("OK|*", "OK|1\n0"))
        self.assertFalse(self.matches("OK|{n}", "OK|1\t0"))
        self.assertTrue(self.matches("OK|1\\n0\\t*", "OK|1\n0\tshape"))
        self.assertTrue(self.matches("a\\*b", "a*b"))
        self.assertFalse(self.matches("a\\*b", "axb"))
        self.assertTrue(self.matches("back\\\\slash", "back\\slash"))
        self.assertTrue(self.matches("back\\slash", "back\\slash"))  # a backslash before anything else is itself
        self.assertFalse(self.matches("OK|3", "OK|30"))

    def test_bindings_hold_are_reused_and_fill_arguments(self):
        self.assertEqual(steps(
            ("match", "OK|1\\n0\\t{name}\\t{id}\\t*", "OK|1\n0\tFreeform 3\t3\t10"),
            ("argument", "{id},{id} {name}\\t{ id}{a-b}{}"),
            ("match", "{id}", "3"), ("match", "{id}", "4"),
            ("match", "{x}|{x}", "7|7"), ("match", "{y}|{y}", "7|8"),
            ("argument", "a{y}"),  # a failed match binds nothing
            ("match", "{w}|{h}", "10.5|-2"), ("span", "{w}", "{h}", "-12"), ("span", "{w}", "{h}", "-13.5"),
            ("span", "{w}", "{nope}", "1"), ("span", "{name}", "{id}", "0")), [
            True, ("3,3 Freeform 3\t{ id}{a-b}{}", ""), True, False, True, False, ("", "{y} is used before it is bound"),
            True, "", "expected {h} - {w} to be -13.5, it is -12.5",
            "a span of {w} and {nope}, which are not both bound to numbers",
            "a span of {name} and {id}, which are not both bound to numbers"])

    def test_only_letters_digits_and_underscores_make_a_name(self):
        self.assertTrue(self.matches("{ a}|{a-b}|{}|{a", "{ a}|{a-b}|{}|{a"))
        self.assertFalse(self.matches("{ a}", "x"))
        self.assertFalse(self.matches("{a-b}", "x"))
        self.assertFalse(self.matches("{caf\u00e9}", "x"))
        self.assertEqual(steps(("match", "{A_9}|{\\t}", "x|{\t}"), ("argument", "{A_9}"), ("argument", "{a-b}")),
                         [True, ("x", ""), ("{a-b}", "")])  # an escape inside braces is one

    def test_every_exact_answer_in_the_cases_matches_its_pattern(self):
        """The stand-in's exact answers (the `exactly` lines) against the patterns before them,
        case by case with its names bound on the way, as the self-test matches PowerPoint's."""
        cases, pattern = [], None
        for number, line in enumerate((ROOT / "addin/contract.cases").read_text(encoding="utf-8").split("\n"), 1):
            fields = line.split("\t")
            if fields[0] == "case":
                cases.append((fields[1], []))
            elif fields[0] == "answer":
                pattern = fields[1]
            elif fields[0] == "exactly":
                cases[-1][1].append((number, pattern, fields[1]))
        checked = 0
        for name, lines in cases:
            if not lines:
                continue
            answers = [run("SCBT_SelfTest.Unescape", exact) for _, _, exact in lines]
            got = steps(*[("match", pattern, answer) for (_, pattern, _), answer in zip(lines, answers)])
            for (number, pattern, exact), ok in zip(lines, got):
                self.assertTrue(ok, f"line {number} (case {name}): {pattern!r} does not match {exact!r}")
                checked += 1
        self.assertGreater(checked, 50)


class StandIn:
    """A scribbet-standin of its own, in its default state, ended by its pid."""

    started = 0

    def __init__(self, program, folder):
        StandIn.started += 1  # a socket of its own: a killed one leaves its socket file behind
        self.program, self.socket = program, os.path.join(folder, "standin%d.sock" % StandIn.started)
        env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=folder, XDG_STATE_HOME=folder, XDG_DATA_HOME=folder,
                   XDG_CONFIG_HOME=folder)
        self.env = env
        self.proc = subprocess.Popen([program, "serve", "--socket", self.socket], env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                                     preexec_fn=office.die_with_parent)
        for _ in range(100):
            if os.path.exists(self.socket):
                return
            time.sleep(0.02)
        self.stop()
        raise RuntimeError("the stand-in did not start")

    def ctl(self, *args):
        done = subprocess.run([self.program, "ctl", "--socket", self.socket, *args], env=self.env,
                              capture_output=True, text=True, timeout=20)
        return done.returncode, done.stdout, done.stderr

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(10)


def contract_cases():
    """contract.cases as [(name, givens, [(call fields, [check fields])])]."""
    cases = []
    for line in (ROOT / "addin/contract.cases").read_text(encoding="utf-8").split("\n"):
        fields = line.split("\t")
        if fields[0] == "case":
            cases.append((fields[1], [], []))
        elif fields[0] == "given":
            cases[-1][1].append(fields[1:])
        elif fields[0] == "call":
            cases[-1][2].append((fields[1:], []))
        elif fields[0] in ("answer", "span"):
            cases[-1][2][-1][1].append(fields)
    return cases


class TheSelfTestHoldsTheStandInToTheCases(unittest.TestCase):
    """Every case of contract.cases run as the self-test runs it, with the stand-in answering
    for PowerPoint: the arguments filled from the names bound so far, each answer matched and
    each span checked by SCBT_SelfTest in LibreOffice Basic. The stand-in is held to the same
    cases by its own test, so a case failing here is the add-in's matcher reading a case
    otherwise."""

    def test_every_case_passes(self):
        program = os.environ.get("SCRIBBET_STANDIN_PROGRAM") or str(ROOT / "build/scribbet-standin")
        self.assertTrue(os.access(program, os.X_OK), f"the stand-in is not built at {program}")
        failed, checked = [], 0
        with tempfile.TemporaryDirectory() as folder:
            for name, givens, calls in contract_cases():
                standin = StandIn(program, folder)
                try:
                    problem, n = self.run_case(standin, givens, calls)
                finally:
                    standin.stop()
                checked += n
                if problem:
                    failed.append(f"case {name}: {problem}")
        self.assertEqual(failed, [])
        self.assertGreater(checked, 150)

    def run_case(self, standin, givens, calls):
        if givens:
            rc, _, err = standin.ctl("set", *[f"{key}={run('SCBT_SelfTest.Unescape', value)}" for key, value in givens])
            if rc != 0:
                return f"the stand-in refused the givens: {err.strip()}", 0
        done, checked = [], 0  # the matches so far that bind, replayed in each call: Basic forgets between calls
        for fields, checks in calls:
            arguments = steps(*done, *[("argument", raw) for raw in fields[1:]])[len(done):]
            for text, problem in arguments:
                if problem:
                    return f"{fields[0]}: {problem}", checked
            rc, out, err = standin.ctl("macro", fields[0], *[text for text, _ in arguments])
            if rc != 0:
                return f"{fields[0]} did not run: {err.strip()}", checked
            answer = out[:-1] if out.endswith("\n") else out
            new = [("match", check[1], answer) if check[0] == "answer" else ("span", *check[1:4]) for check in checks]
            results = steps(*done, *new)[len(done):]
            for check, result in zip(checks, results):
                checked += 1
                if result is not True and result != "":
                    return f"{fields[0]} answered {answer!r}; {check[0]} {check[1:]} gives {result!r}", checked
            done += [step for step in new if step[0] == "match" and "{" in step[1]]  # those that bind
        return "", checked


MATCHER_MAIN = r"""
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
namespace {
%s
}
int main() {
    // Lines "pattern TAB answer TAB argument", the pattern and the argument as a case holds them,
    // the answer with its TABs, line feeds and backslashes written as the cases write them:
    // whether the pattern matches, then the argument filled from its bindings.
    std::string line;
    auto plain = [](std::string_view s) {
        std::string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 't') out += '\t', ++i;
            else if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') out += '\n', ++i;
            else if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') out += '\\', ++i;
            else out += s[i];
        }
        return out;
    };
    while (std::getline(std::cin, line)) {
        const auto a = line.find('\t'), b = line.find('\t', a + 1);
        Bindings bound;
        const bool ok = matches(line.substr(0, a), plain(line.substr(a + 1, b - a - 1)), bound);
        std::string why;
        const auto arg = argument(line.substr(b + 1), bound, why);
        std::cout << (ok ? "1" : "0") << "\x1f" << (arg ? *arg : "") << "\x1f" << why << "\x1e";
    }
}
"""


def stand_in_matcher_source():
    """The pattern code of the stand-in's case runner (tests/standin/contract_cases_test.cpp):
    its escapes and names, and its patterns section up to the answer's display."""
    text = (ROOT / "tests/standin/contract_cases_test.cpp").read_text(encoding="utf-8")
    try:
        names = text[text.index("std::optional<char> escapeAt("):text.index("struct Parsed")]
        patterns = text[text.index("// ---- patterns ----"):text.index("std::string shown(")]
    except ValueError:
        raise AssertionError("the stand-in's case runner no longer has its pattern code where this test reads it")
    return names + patterns


class TheSelfTestMatchesAsTheStandInsCaseRunner(unittest.TestCase):
    """Thousands of patterns and answers through SCBT_SelfTest's matcher and the one the stand-in's
    test reads contract.cases with: the same verdict, the same names bound (seen through an
    argument filled from them)."""

    def test_random_patterns_agree(self):
        rng = random.Random(25)
        pattern_atoms = ["*", "{a}", "{b}", "{a_1}", "{ a}", "{a-b}", "{}", "{", "}", "\\*", "\\t", "\\n", "\\\\",
                         "\\x", "\\", "|", "x", "y", "1", ".", "\u00e9", "{a}{a}"]
        cases = []
        for _ in range(1500):
            pattern = "".join(rng.choice(pattern_atoms) for _ in range(rng.randint(0, 6)))
            answer = ""
            for atom in re.findall(r"\{\w+\}|\\.|.", pattern):  # an answer the pattern may well match
                if atom == "*" or re.fullmatch(r"\{\w+\}", atom):
                    answer += "".join(rng.choice("xy1.") for _ in range(rng.randint(0, 3)))
                elif atom.startswith("\\"):
                    answer += {"\\*": "*", "\\t": "\t", "\\n": "\n", "\\\\": "\\"}.get(atom, atom)
                else:
                    answer += atom
            if rng.random() < 0.3:
                answer += rng.choice(["", "x", "|", "\t", "\n", "{", "1"])
            argument = "".join(rng.choice(["{a}", "{b}", "{a_1}", "{ a}", "{c}", "-", "\\t", "{a-b}", "}"])
                               for _ in range(rng.randint(0, 3)))
            cases.append((pattern, answer, argument))
        compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
        self.assertTrue(compiler, "a C++ compiler is needed to build the stand-in's matcher")
        with tempfile.TemporaryDirectory() as tmp:
            main = Path(tmp) / "match.cpp"
            main.write_text(MATCHER_MAIN % stand_in_matcher_source(), encoding="utf-8")
            exe = Path(tmp) / "match"
            subprocess.run([compiler, "-std=c++20", "-O1", str(main), "-o", str(exe)], check=True)
            escape = lambda t: t.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")
            out = subprocess.run([str(exe)], input="".join(f"{p}\t{escape(a)}\t{g}\n" for p, a, g in cases),
                                 capture_output=True, encoding="utf-8", check=True).stdout.split("\x1e")
        want = [tuple(record.split("\x1f")) for record in out[:-1]]
        got = steps(*[step for p, a, g in cases for step in (("forget",), ("match", p, a), ("argument", g))])
        got = [(("1" if got[i + 1] else "0"), *got[i + 2]) for i in range(0, len(got), 3)]
        self.assertEqual(len(want), len(cases))
        for case, mine, theirs in zip(cases, got, want):
            self.assertEqual(mine, theirs, case)
        self.assertGreater(sum(w[0] == "1" for w in want), 300)  # matches among them, not only refusals


class TheSelfTestReadsTheCases(unittest.TestCase):
    def test_cases_it_cannot_set_up_are_skipped_by_name(self):
        text = ("# the add-in's contract\n\ncase\tscrolled\ngiven\tscroll\t0.5,0.25\ncall\tSCBT_Geom\nanswer\tOK|*\n"
                "case\tpixels\r\ngiven\tzoom\t75\r\ngiven\tunits\tpixels\r\ncall\tSCBT_Where\r\n"
                "case\tno window\ngiven\tview\tnone\ncall\tSCBT_Geom\nanswer\tERR|*.\n")
        self.assertEqual(run("SCBT_SelfTest.RunAll", text).split("\n"), [
            "OK|0 of 3 contract cases passed in PowerPoint, 0 failed and 3 were skipped.",
            "SKIPPED case scrolled: it sets scroll, which the self-test cannot set in PowerPoint.",
            "SKIPPED case pixels: it sets units, which the self-test cannot set in PowerPoint.",
            "SKIPPED case no window: it sets view none, which the self-test cannot set in PowerPoint."])

    def test_a_case_it_can_set_up_goes_on_to_powerpoint(self):
        # Here there is no PowerPoint: the case fails on its first line, naming what was missing.
        report = run("SCBT_SelfTest.RunAll", "case\tplain\ngiven\tview\tsorter\ncall\tSCBT_Version\nanswer\tOK|*\n")
        self.assertRegex(report, r"^ERR\|0 of 1 contract cases passed in PowerPoint, 1 failed and 0 were skipped\.\n"
                                 r"FAILED case plain, line 1: PowerPoint failed: .*Application")

    def test_the_given_keys_powerpoint_can_be_set_to(self):
        for key, value in [("window", "0,40,1200,800"), ("zoom", "75"), ("fit", "false"), ("slide", "2"),
                           ("slides", "5"), ("slideSize", "720,540"), ("view", "sorter"), ("view", "normal")]:
            self.assertTrue(run("SCBT_SelfTest.CanSet", key, value), key)
        for key, value in [("scroll", "0.5,0.25"), ("split", "70"), ("units", "pixels"), ("theme", "#000000"),
                           ("slides", '[{"id": 256}]'), ("fit", "yes"), ("window", "1,2,3"), ("link.upgrade", "soon"),
                           ("view", "none"), ("view", "Sorter"), ("view", "")]:
            self.assertFalse(run("SCBT_SelfTest.CanSet", key, value), (key, value))

    def test_escapes_in_other_fields(self):
        self.assertEqual(run("SCBT_SelfTest.Unescape", "a\\tb\\nc\\\\d\\x"), "a\tb\nc\\d\\x")


class TheMacrosCheckBeforeTheyTouchPowerPoint(unittest.TestCase):
    def assertWentOnToPowerPoint(self, answer, msg=None):
        # There is no PowerPoint here: past its own checks a macro answers what PowerPoint lacks.
        self.assertRegex(answer, r"^ERR\|(PowerPoint|There is no presentation)", msg)

    def test_colour_texts(self):
        self.assertEqual(run("ScbtChecks.PaintOf", "none"), (True, 0, 0, 255, 0))
        self.assertEqual(run("ScbtChecks.PaintOf", "NONE")[0], True)
        self.assertEqual(run("ScbtChecks.PaintOf", "#1F2E3D")[:4], (True, 1, 0x3D2E1F, 255))
        self.assertEqual(run("ScbtChecks.PaintOf", "#ff000080")[:4], (True, 1, 0x0000FF, 128))
        self.assertEqual(run("ScbtChecks.PaintOf", "Theme:12"), (True, 2, 0, 255, 12))
        for bad in ["#12345", "#GGGGGG", "theme:0", "theme:13", "theme:", "theme:-1", "theme: 5", "red", "",
                    "#1234567", "#12345G78"]:
            self.assertFalse(run("ScbtChecks.PaintOf", bad)[0], bad)

    def test_the_refusals_are_the_stand_ins(self):
        self.assertEqual(run("SCBT_Pen.SCBT_Zoom", "100"), 'ERR|The add-in cannot set the zoom to "100".')
        for width in ["0", "-1", "8193", "abc", "", "1.5", "+5"]:
            self.assertEqual(run("SCBT_Pen.SCBT_Slide", width),
                             "ERR|The picture width must be a whole number of pixels from 1 to 8192.", width)
        self.assertEqual(run("SCBT_Pen.SCBT_LinkQuery", "nope"), 'ERR|The add-in has no link called "nope".')
        self.assertEqual(run("SCBT_Pen.SCBT_LinkQuery", "Upgrade"), 'ERR|The add-in has no link called "Upgrade".')
        self.assertRegex(run("SCBT_Pen.SCBT_Version"), r"^OK\|\d+\.\d+\.\d+$")
        # A copy not packaged with the project's pages says so in a note, never an ERR.
        for link in ("upgrade", "support"):
            self.assertEqual(run("SCBT_Pen.SCBT_LinkQuery", link),
                             f"OK|soon|This copy of the add-in has no address for the {link} link yet.")
        self.assertWentOnToPowerPoint(run("SCBT_Pen.SCBT_Slide", "64"))
        self.assertWentOnToPowerPoint(run("SCBT_Pen.SCBT_Zoom", "fit"))

    def insert(self, path="M 0 0 L 10 10", stroke="#1F1F1F", width="1", fill="none", replace="", slide="", key=""):
        return run("SCBT_Pen.SCBT_Insert", path, stroke, width, fill, replace, slide, key)

    def test_insert_refuses_in_the_stand_ins_order_and_words(self):
        self.assertEqual(self.insert(path="M 1 2 M 3 4"), "ERR|A part of the drawing has no lines or curves.")
        self.assertEqual(self.insert(path=""), "ERR|There is nothing to place: the drawing is empty.")
        self.assertEqual(self.insert(path="M 1 2 %", stroke="red"), 'ERR|The drawing has an unexpected character "%".')
        self.assertEqual(self.insert(stroke="red", fill="blue"), 'ERR|The outline colour "red" is not one the add-in knows.')
        self.assertEqual(self.insert(stroke=" #12345 "), 'ERR|The outline colour " #12345 " is not one the add-in knows.')
        self.assertEqual(self.insert(fill="theme:13", width="x"), 'ERR|The fill colour "theme:13" is not one the add-in knows.')
        for width in ["1584.5", "-1", "NaN", "abc", "", "1e999", "inf"]:
            self.assertEqual(self.insert(width=width),
                             f'ERR|The line width "{width}" is not a number of points from 0 to 1584.', width)
        for args in [{}, {"width": "0"}, {"width": "1584"}, {"width": " 2.5 "}, {"stroke": "theme:1", "fill": "#FFFFFF80"},
                     {"path": " ", "replace": "5"}]:
            self.assertWentOnToPowerPoint(self.insert(**args), args)


PRETEND = sorted((Path(__file__).resolve().parent / "basic/pretend").glob("*.bas"))


class WithAPretendPowerPoint(unittest.TestCase):
    """The macros' dealings with PowerPoint's objects, which a pretend PowerPoint of Basic
    classes plays (tests/addin/basic/pretend): the shapes a placing removes, the refusals
    without a Normal view, the links opened through the ribbon helper."""

    @classmethod
    def setUpClass(cls):
        if not hasattr(WithAPretendPowerPoint, "pretend"):  # one library for every class below
            WithAPretendPowerPoint.pretend = OFFICE.library("ScribbetPretend", office.MODULES, PRETEND)

    def place_on(self, existing, *steps):
        return [tuple(step) for step in self.pretend.call("PretendPowerPoint.PlaceOn", existing, steps)]

    def answers_in(self, view_type, windows=1, slide=""):
        *answers, asked = self.pretend.call("PretendPowerPoint.AnswersIn", view_type, windows, slide)
        return answers, asked


class AReplacedShapeThatStaysIsNeverAnOk(WithAPretendPowerPoint):
    """The insert's last step: a refusal of the first removal leaves the slide as it was and
    answers ERR; one after others are gone keeps the drawing and names the kept shape."""

    def test_a_refusal_before_any_removal_leaves_the_slide_as_it_was(self):
        # The two new freeforms (101, 102) go again, and 6 is not touched.
        self.assertEqual(self.place_on("5r,6", ("M 0 0 L 10 10 M 20 20 L 30 30", "5,6")), [(
            "ERR|PowerPoint would not remove the shape with the identifier 5, so the slide is left as it was "
            "(The shape is in use by another author).", "5,6")])
        answer, ids = self.place_on("5r", ("", "5"))[0]
        self.assertRegex(answer, r"^ERR\|PowerPoint would not remove the shape with the identifier 5, ")
        self.assertEqual(ids, "5")

    def test_a_refusal_after_a_removal_keeps_the_drawing_and_names_the_kept_shape(self):
        self.assertEqual(self.place_on("5,6r,7,8r", ("M 0 0 L 10 10", "5,6,7,8"), ("", "101,6")), [
            ("OK|1\n0\tFreeform 101\t101\t1\t2\t3\t4\t0\t0\t0\nkept\t6\nkept\t8", "6,8,101"),
            ("OK|0\nkept\t6", "6,8")])

    def test_every_removal_done_answers_the_placed_lines_alone(self):
        self.assertEqual(self.place_on("5,6", ("M 0 0 L 10 10 Z", "5,6")),
                         [("OK|1\n0\tFreeform 101\t101\t1\t2\t3\t4\t0\t0\t0", "101")])


class TheMacrosRefuseWithoutANormalView(WithAPretendPowerPoint):
    """In the slide sorter or with no window, every macro that works on the slide showing
    answers the stand-in's sentence (standin/macros.cpp) before it touches the slide."""

    SORTER = "ERR|PowerPoint's window is not in Normal view: choose View > Normal to draw on a slide."
    NO_WINDOW = "ERR|PowerPoint has no window showing a presentation."

    def test_the_slide_sorter(self):
        self.assertEqual(self.answers_in(7), ([self.SORTER] * 7, ""))
        # A slide named by identifier needs no Normal view: the insert goes on to look for it.
        answers, asked = self.answers_in(7, slide="257")
        self.assertEqual(answers[:5], [self.SORTER] * 5)
        self.assertEqual(answers[5:], ["ERR|There is no slide with the identifier 257."] * 2)
        self.assertEqual(asked, ",257,257")

    def test_no_window(self):
        self.assertEqual(self.answers_in(9, windows=0), ([self.NO_WINDOW] * 7, ""))
        # Not even a slide named by identifier: which presentation it belongs to is the window's.
        self.assertEqual(self.answers_in(9, windows=0, slide="257"), ([self.NO_WINDOW] * 7, ""))

    def test_other_views_than_normal_are_refused_too(self):
        for view_type in [2, 3, 6, 10, 12]:  # slide master, notes page, outline, print preview, master thumbnails
            self.assertEqual(self.answers_in(view_type)[0][0], self.SORTER, view_type)
        # Normal view, the slide view and Normal view's thumbnail pane go on to the slide, which
        # this window does not show.
        for view_type in [1, 9, 11]:
            self.assertEqual(self.answers_in(view_type)[0][0], "ERR|There is no slide showing in PowerPoint's window.")


class AnArrowEndsInPowerPointsArrowhead(WithAPretendPowerPoint):
    """The eighth insert argument: "triangle" gives every freeform the placing makes PowerPoint's
    own triangle at its line's end, of the middle size; none (or no argument) leaves the line's
    end as PowerPoint makes it, and a value the add-in does not know is refused before the
    slide is looked for, in the stand-in's words."""

    def test_each_freeform_ends_in_the_triangle(self):
        answer, *ends = self.pretend.call("PretendPowerPoint.LineEnds", "M 0 0 L 10 10 M 20 20 L 30 30", True)
        self.assertRegex(answer, r"^OK\|2\n0\t")
        self.assertEqual([tuple(e) for e in ends], [(2, 2, 2), (2, 2, 2)])
        answer, *ends = self.pretend.call("PretendPowerPoint.LineEnds", "M 0 0 L 10 10", False)
        self.assertEqual([tuple(e) for e in ends], [(0, 0, 0)], "untouched without the arrowhead")

    def test_an_unknown_arrowhead_is_refused_before_the_slide(self):
        args = ("M 0 0 L 10 10", "#1F1F1F", "1", "none", "", "", "")
        self.assertEqual(run("SCBT_Pen.SCBT_Insert", *args, "arrow"), 'ERR|The arrowhead "arrow" is not one the add-in knows.')
        self.assertEqual(run("SCBT_Pen.SCBT_Insert", *args, " Triangle"), 'ERR|The arrowhead " Triangle" is not one the add-in knows.')
        # Known values go on to PowerPoint, which is not here.
        for head in ("triangle", "none", " triangle ", ""):
            self.assertRegex(run("SCBT_Pen.SCBT_Insert", *args, head), r"^ERR\|(PowerPoint|There is no presentation)", head)
        self.assertEqual(run("SCBT_Pen.SCBT_Features"), "OK|arrowhead")


class TheLinksLeadToTheProjectsPages(WithAPretendPowerPoint):
    """The page's "upgrade" and "support" links in a copy packaged with their pages: opened
    through the ribbon helper, a note naming the page when it cannot open it, and only a web
    page ever handed to it. (LibreOffice Basic reads no #If, so the Mac's branch runs here.)"""

    def packaged(self, name, **links):
        sys.path.insert(0, str(ROOT / "scripts/addin"))
        import package
        folder = Path(tempfile.mkdtemp(dir=OFFICE.dir))
        package.stamp_modules(office.MODULES, folder, "9.9.9", links)
        return package, folder, lambda: OFFICE.library(name, folder, PRETEND)

    def test_a_packaged_copy_opens_each_page_through_the_helper(self):
        package, _, load = self.packaged("ScribbetPackaged", support="https://example.org/help")
        library = load()
        upgrade = package.LINK_ADDRESSES["upgrade"]
        self.assertEqual(library.call("PretendPowerPoint.LinkAnswers", ("upgrade", "support"), False), (
            "OK|opened", "OK|opened",
            f"Scribbet.scpt|openLink|{upgrade}\nScribbet.scpt|openLink|https://example.org/help\n"))
        # When the helper cannot open it, the note names the page.
        self.assertEqual(library.call("PretendPowerPoint.LinkAnswers", ("upgrade", "support"), True)[:2], (
            f"OK|soon|Open {upgrade} in your browser.", "OK|soon|Open https://example.org/help in your browser."))

    def test_only_a_web_page_is_handed_to_the_helper(self):
        package, folder, load = self.packaged("ScribbetNotAPage")
        pen = folder / "SCBT_Pen.bas"
        pen.write_bytes(pen.read_bytes().replace(package.LINK_ADDRESSES["upgrade"].encode(),
                                                 b"file:///Applications/Calculator.app"))
        self.assertEqual(load().call("PretendPowerPoint.LinkAnswers", ("upgrade",), False),
                         ("OK|soon|This copy of the add-in has no address for the upgrade link yet.", ""))
        for address, web in [("https://a.example/x?y=1#z", True), ("HTTP://A.EXAMPLE", True), ("https://", False),
                             ("ftp://a.example", False), ("https://a b", False), ('https://a"b', False),
                             ("https://caf\u00e9.example", False), ("https://a\tb", False), ("", False),
                             ("javascript:alert(1)", False), ("x-apple.systempreferences:", False)]:
            self.assertEqual(run("SCBT_Pen.IsWebAddress", address), web, address)


GROUPS = {
    "helpers": [NumbersTravelWithAPoint, Base64IsTheStandardOne, ThePathTextIsReadWholeOrNotAtAll,
                TheAddInReadsPathsAsTheStandInDoes],
    "contract": [ContractPatterns, TheSelfTestMatchesAsTheStandInsCaseRunner, TheSelfTestReadsTheCases,
                 TheSelfTestHoldsTheStandInToTheCases],
    "macros": [TheMacrosCheckBeforeTheyTouchPowerPoint],
    "pretend": [AReplacedShapeThatStaysIsNeverAnOk, TheMacrosRefuseWithoutANormalView, TheLinksLeadToTheProjectsPages,
                AnArrowEndsInPowerPointsArrowhead],
}

if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] in GROUPS:
        suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(c) for c in GROUPS.pop(sys.argv[1]))
        result = unittest.TextTestRunner(verbosity=2).run(suite)  # setUpModule and tearDownModule too
        sys.exit(0 if result.wasSuccessful() else 1)
    unittest.main()
