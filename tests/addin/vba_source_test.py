#!/usr/bin/env python3
"""The add-in's VBA modules (addin/powerpoint/*.bas), read as PowerPoint's VBA editor would import and
compile them. Nothing on Linux runs VBA, so this is where a module that would not import, a
block left open, an undeclared name, a macro with the wrong signature, a refusal that is not
a sentence or one that says other words than the stand-in's shows before it reaches a Mac."""
import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
ADDIN = ROOT / "addin/powerpoint"

# The macros Scribbet runs, with how many text arguments each takes.
MACROS = {"SCBT_Geom": 0, "SCBT_Where": 0, "SCBT_Zoom": 1, "SCBT_Version": 0, "SCBT_Slide": 1,
          "SCBT_Theme": 0, "SCBT_Insert": 6, "SCBT_LinkQuery": 1, "SCBT_Features": 0}
# Arguments a newer Scribbet adds, which an older one leaves out: Optional Variants (IsMissing
# tells only a Variant left out).
OPTIONAL_ARGUMENTS = {"SCBT_Insert": 2}

# VBA's own functions the modules call (anything else called must be declared somewhere).
BUILTINS = {n.lower() for n in """
    Mid Mid$ Left Left$ Right Right$ Len InStr AscW ChrW Chr Chr$ Str Str$ Trim Trim$ Int Abs Val CLng
    Hex Hex$ UCase UCase$ LCase LCase$ Replace Split Array RGB Environ Environ$ LBound UBound StrComp
    LOF FreeFile IIf Rnd Timer Round MsgBox AppleScriptTask GrantAccessToMultipleFiles IsMissing
""".split()}

KEYWORDS = {n.lower() for n in """
    If Then Else ElseIf End Function Sub For Each Next Do Loop While Wend Until With Select Case Dim
    ReDim Preserve Private Public Const As Set Exit Call Not And Or Xor Mod Is Like New Nothing True
    False ByVal ByRef Optional Type On Error GoTo Resume Step To Open Close Get Put Binary Access Read
    Write Randomize Kill Option Explicit Attribute Me In String Long Double Integer Boolean Byte Variant
    Object Collection Single Date
""".split()}


def modules():
    return sorted(ADDIN.glob("SCBT_*.bas"))


def text_of(path):
    return path.read_bytes().decode("ascii").replace("\r\n", "\n")


def code_of(line):
    """The line without its comment, and with every string literal replaced by "" (so that
    nothing inside a text is taken for code)."""
    out, i, in_string = [], 0, False
    while i < len(line):
        c = line[i]
        if in_string:
            if c == '"':
                if i + 1 < len(line) and line[i + 1] == '"':
                    i += 2
                    continue
                in_string = False
                out.append('"')
        elif c == '"':
            in_string = True
            out.append('"')
        elif c == "'":
            break
        else:
            out.append(c)
        i += 1
    return "".join(out).rstrip()


def literals(line):
    """The string literals of a line, decoded ("" is one quote)."""
    return [m.replace('""', '"') for m in re.findall(r'"((?:[^"]|"")*)"', line.split("'")[0] if "'" not in
                                                    line else comment_free(line))]


def comment_free(line):
    """The line up to its comment (a quote outside any string literal)."""
    in_string = False
    for i, c in enumerate(line):
        if c == '"':
            in_string = not in_string
        elif c == "'" and not in_string:
            return line[:i]
    return line


def logical_lines(text):
    """(line number, code) for each logical line: continuations joined, comments and string
    contents removed, statements separated by ": " split apart, labels left out."""
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        number, parts = i + 1, []
        while True:
            code = code_of(lines[i])
            i += 1
            if code.endswith(" _"):
                parts.append(code[:-2])
                continue
            parts.append(code)
            break
        joined = " ".join(p.strip() for p in parts).strip()
        if not joined or re.fullmatch(r"\w+:", joined):
            continue
        for statement in re.split(r":\s+(?=\S)", joined) if re.match(r"Case\b", joined) else [joined]:
            yield number, statement.strip()


def procedures(text):
    """{name: (kind, scope, params text, return type, [(line, statement), ...])}."""
    found, current = {}, None
    for number, st in logical_lines(text):
        m = re.match(r"(?:(Public|Private)\s+)?(Function|Sub)\s+(\w+)\s*\((.*?)\)\s*(?:As\s+(\w+))?$", st)
        if m:
            current = m.group(3)
            found[current] = (m.group(2), m.group(1) or "Public", m.group(4), m.group(5), [])
            continue
        if re.match(r"End\s+(Function|Sub)$", st):
            current = None
        elif current:
            found[current][4].append((number, st))
    return found


def module_level(text):
    """The statements outside every procedure and Type."""
    inside = False
    for number, st in logical_lines(text):
        if re.match(r"(?:(Public|Private)\s+)?(Function|Sub|Type)\s+\w+", st):
            inside = True
        elif re.match(r"End\s+(Function|Sub|Type)$", st):
            inside = False
        elif not inside:
            yield number, st


def declared_names(statement):
    """Names a Dim, ReDim, Const or module-level Private/Public declaration introduces."""
    m = re.match(r"(?:Private\s+Const|Public\s+Const|Dim|Private|Public|Const|Static)\s+(.*)$", statement)
    if not m or re.match(r"(?:Private|Public)\s+(Function|Sub|Type)\b", statement):
        return []
    body = re.sub(r"\([^()]*\)", "", m.group(1))
    return [re.match(r"\s*(\w+)", piece).group(1) for piece in body.split(",") if re.match(r"\s*\w", piece)]


def param_names(params):
    names = []
    for piece in re.sub(r"\([^()]*\)", "", params).split(","):
        m = re.match(r"\s*(?:Optional\s+)?(?:ByVal\s+|ByRef\s+)?(\w+)", piece)
        if m and piece.strip():
            names.append(m.group(1))
    return names


def type_names(text):
    return re.findall(r"^(?:Public |Private )?Type (\w+)", text, re.M)


class ModulesImportIntoTheVbaEditor(unittest.TestCase):
    def test_the_modules_are_there(self):
        names = {p.stem for p in modules()}
        self.assertTrue({"SCBT_Pen", "SCBT_Base64", "SCBT_SelfTest"} <= names, names)

    def test_each_module_names_itself_and_is_explicit(self):
        for path in modules():
            lines = text_of(path).split("\n")
            self.assertEqual(lines[0], f'Attribute VB_Name = "{path.stem}"', path.name)
            first_code = next(l for l in lines[1:] if l.strip() and not l.startswith("'"))
            self.assertEqual(first_code, "Option Explicit", path.name)

    def test_crlf_line_ends_ascii_and_short_lines(self):
        for path in modules():
            raw = path.read_bytes()
            self.assertTrue(raw.endswith(b"\r\n"), path.name)
            self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"), f"{path.name}: a line end that is not CRLF")
            self.assertEqual(raw.count(b"\r"), raw.count(b"\r\n"), f"{path.name}: a lone CR")
            # The Mac's VBA editor imports in the system's legacy encoding: ASCII is the same in all.
            self.assertTrue(all(b < 128 for b in raw), f"{path.name}: a character outside ASCII")
            for n, line in enumerate(text_of(path).split("\n"), 1):
                self.assertLessEqual(len(line), 1023, f"{path.name}:{n}: longer than VBA takes")
                self.assertFalse(line.endswith(" ") and not line.endswith(" _"), f"{path.name}:{n}: trailing blank")

    def test_nothing_the_mac_lacks_or_the_locale_bends(self):
        forbidden = {r"\bDeclare\b": "a Windows API declaration", r"\bCreateObject\b": "ActiveX",
                     r"\bGetObject\b": "ActiveX", r"Scripting\.": "the Scripting runtime",
                     r"FileSystemObject": "the Scripting runtime", r"\bMacScript\b": "the deprecated MacScript",
                     r"\bCStr\s*\(": "CStr, which writes numbers in the locale's form",
                     r"\bCDbl\s*\(": "CDbl, which reads numbers in the locale's form",
                     r"\bFormat\$?\s*\(": "Format, which follows the locale", r"\bSendKeys\b": "SendKeys"}
        for path in modules():
            for number, st in logical_lines(text_of(path)):
                for pattern, what in forbidden.items():
                    self.assertIsNone(re.search(pattern, st), f"{path.name}:{number}: {what}: {st}")


class TheCodeCompiles(unittest.TestCase):
    """What the VBA compiler would refuse: blocks that do not close, names used but never
    declared under Option Explicit, one name given twice in a module, calls to nothing."""

    OPENERS = [(r"(?:(?:Public|Private)\s+)?Function\s+\w+", "Function"), (r"(?:(?:Public|Private)\s+)?Sub\s+\w+", "Sub"),
               (r"(?:(?:Public|Private)\s+)?Type\s+\w+$", "Type"), (r"Select\s+Case\b", "Select"),
               (r"For\b", "For"), (r"Do\b", "Do"), (r"With\b", "With"), (r"While\b", "While"), (r"#If\b.*Then$", "#If")]
    CLOSERS = [(r"End\s+Function$", "Function"), (r"End\s+Sub$", "Sub"), (r"End\s+Type$", "Type"),
               (r"End\s+Select$", "Select"), (r"Next(\s+\w+)?$", "For"), (r"Loop\b", "Do"), (r"End\s+With$", "With"),
               (r"Wend$", "While"), (r"End\s+If$", "If"), (r"#End\s+If$", "#If")]

    def test_blocks_open_and_close_in_order(self):
        for path in modules():
            stack = []
            for number, st in logical_lines(text_of(path)):
                where = f"{path.name}:{number}: {st}"
                if re.match(r"If\b.*\bThen$", st):
                    stack.append(("If", number))
                    continue
                if re.match(r"(ElseIf\b.*\bThen|Else)$", st):
                    self.assertTrue(stack and stack[-1][0] == "If", f"{where}: not inside an If block")
                    continue
                if re.match(r"#(Else|ElseIf)\b", st):
                    self.assertTrue(stack and stack[-1][0] == "#If", where)
                    continue
                if re.match(r"Case\b", st):
                    self.assertTrue(stack and stack[-1][0] == "Select", f"{where}: a Case outside Select")
                    continue
                closer = next((kind for pattern, kind in self.CLOSERS if re.match(pattern, st)), None)
                if closer:
                    self.assertTrue(stack, f"{where}: closes a block that is not open")
                    self.assertEqual(stack[-1][0], closer, f"{where}: closes {closer} inside {stack[-1]}")
                    stack.pop()
                    continue
                if re.match(r"(Public\s+|Private\s+)?(Function|Sub)\b", st) or re.match(r"(Public\s+|Private\s+)?Type\s+\w+$", st):
                    self.assertFalse(stack, f"{where}: a procedure inside {stack}")
                opener = next((kind for pattern, kind in self.OPENERS if re.match(pattern, st)), None)
                if opener and not re.match(r"(Private|Public)\s+Const\b", st):
                    stack.append((opener, number))
            self.assertEqual(stack, [], f"{path.name}: blocks left open")

    def test_no_name_is_given_twice_in_a_module(self):
        # VBA names are case-blind: a constant and a macro of the same name do not compile.
        for path in modules():
            text = text_of(path)
            names = [n for _, st in module_level(text) for n in declared_names(st)]
            names += list(procedures(text)) + type_names(text)
            lowered = [n.lower() for n in names]
            twice = {n for n in names if lowered.count(n.lower()) > 1}
            self.assertFalse(twice, f"{path.name}: declared more than once: {twice}")

    def test_every_assigned_name_is_declared(self):
        everywhere = set()
        for path in modules():
            everywhere |= {n.lower() for n in procedures(text_of(path))}
        for path in modules():
            text = text_of(path)
            module_names = {n.lower() for _, st in module_level(text) for n in declared_names(st)}
            for name, (_, _, params, _, body) in procedures(text).items():
                local = {n.lower() for n in param_names(params)} | {name.lower()}
                for _, st in body:
                    local |= {n.lower() for n in declared_names(st)}
                known = local | module_names
                for number, st in body:
                    m = (re.match(r"(?:Set\s+)?(\w+)(?:\([^=]*\)|\.\w+)*\s*=", st)
                         or re.match(r"For\s+(?:Each\s+)?(\w+)\b", st) or re.match(r"ReDim\s+(?:Preserve\s+)?(\w+)", st))
                    if m and not re.match(r"(If|ElseIf|Case|Do|Loop)\b", st):
                        self.assertIn(m.group(1).lower(), known, f"{path.name}:{number}: {st}")

    def test_every_call_reaches_a_procedure(self):
        public = {}
        for path in modules():
            public[path.stem] = {n for n, p in procedures(text_of(path)).items() if p[1] == "Public"}
            public[path.stem] |= set(type_names(text_of(path)))
        for path in modules():
            text = text_of(path)
            own = {n.lower() for n in procedures(text)}
            module_names = {n.lower() for _, st in module_level(text) for n in declared_names(st)}
            for name, (_, _, params, _, body) in procedures(text).items():
                local = {n.lower() for n in param_names(params)} | {name.lower()}
                for _, st in body:
                    local |= {n.lower() for n in declared_names(st)}
                for number, st in body:
                    for module, member in re.findall(r"\b(SCBT_\w+)\.(\w+)", st):
                        self.assertIn(module, public, f"{path.name}:{number}: no module {module}")
                        self.assertIn(member, public[module], f"{path.name}:{number}: {module} has no public {member}")
                    for called in re.findall(r"(?<![.\w])(\w+\$?)\(", st):
                        low = called.lower()
                        if low in BUILTINS or low in KEYWORDS or low in own or low in local or low in module_names:
                            continue
                        self.fail(f"{path.name}:{number}: calls {called}, which nothing declares: {st}")
                    # A statement that calls a procedure of this module without parentheses.
                    m = re.match(r"(\w+)(?:\s+[^=].*)?$", st)
                    if m and m.group(1).lower() not in KEYWORDS | BUILTINS and not re.match(r"\w+\s*=", st):
                        first = m.group(1).lower()
                        self.assertTrue(first in own or first in local, f"{path.name}:{number}: {st}")


class TheMacrosAreWhatScribbetCalls(unittest.TestCase):
    def test_each_macro_is_a_public_function_of_texts(self):
        procs = procedures(text_of(ADDIN / "SCBT_Pen.bas"))
        for macro, count in MACROS.items():
            self.assertIn(macro, procs)
            kind, scope, params, returns, _ = procs[macro]
            self.assertEqual((kind, scope, returns), ("Function", "Public", "String"), macro)
            pieces = [p.strip() for p in params.split(",") if p.strip()]
            optional = OPTIONAL_ARGUMENTS.get(macro, 0)
            self.assertEqual(len(pieces), count + optional, f"{macro}({params})")
            for p in pieces[:count]:
                # Apple events hand every argument over as text, and all of them.
                self.assertRegex(p, r"^ByVal \w+ As String$", macro)
            for p in pieces[count:]:
                self.assertRegex(p, r"^Optional ByVal \w+ As Variant$", macro)

    def test_the_self_test_runs_every_macro(self):
        body = " ".join(st for _, st in procedures(text_of(ADDIN / "SCBT_SelfTest.bas"))["RunCall"][4])
        for macro in MACROS:
            self.assertIn(f"SCBT_Pen.{macro}(", body)

    def test_the_version_is_one_stampable_line(self):
        hits = [(p.name, line) for p in modules() for line in text_of(p).split("\n") if "_VERSION As String" in line]
        self.assertEqual(len(hits), 1, hits)
        name, line = hits[0]
        self.assertEqual(name, "SCBT_Pen.bas")
        self.assertRegex(line, r'^Private Const ADDIN_VERSION As String = "\d+\.\d+\.\d+"$')
        # The source carries Scribbet's version; packaging restamps it when it moves on.
        project = re.search(r"project\(Scribbet VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
        self.assertIn(f'"{project}"', line)


class RefusalsAreTheStandInsSentences(unittest.TestCase):
    SENTENCE_SOURCES = ("Refuse", "Bad", "FindView", "FindSlide", "FindReplaced", "Parse", "CommandError")

    def refusal_expressions(self):
        for path in modules():
            text = text_of(path)
            raw_lines = text.split("\n")
            for number, st in logical_lines(text):
                raw = comment_free(raw_lines[number - 1])
                for source in self.SENTENCE_SOURCES:
                    m = re.match(rf".*\b{source}\((.*)\)$", raw.strip())
                    if not m and source != "Refuse":  # Refuse = "ERR|" & sentence is the one maker
                        m = re.match(rf"\s*{source} = (.*)$", raw)
                    if m and '"' in m.group(1) and m.group(1).strip() != '""':
                        yield path.name, number, m.group(1)

    def test_every_refusal_is_one_sentence(self):
        seen = 0
        for name, number, expression in self.refusal_expressions():
            texts = literals(expression)
            seen += 1
            self.assertTrue(texts[0][:1].isupper(), f"{name}:{number}: {expression}")
            self.assertRegex(texts[-1], r"[.?!]$", f"{name}:{number}: does not end as a sentence")
            self.assertFalse(any("|" in t or "\t" in t for t in texts), f"{name}:{number}")
        self.assertGreater(seen, 20)

    def test_err_answers_are_made_in_one_place(self):
        for path in modules():
            for number, line in enumerate(text_of(path).split("\n"), 1):
                if '"ERR|' in comment_free(line):
                    # Reading an answer's start (the ribbon reads the geometry answer) makes none.
                    reads = re.search(r'Left\$?\(\w+, 4\) = "ERR\|"', line) is not None
                    ok = ("Refuse = \"ERR|\" & sentence" in line or path.stem == "SCBT_SelfTest" or reads)
                    self.assertTrue(ok, f"{path.name}:{number}: {line}")

    def test_the_stand_ins_sentences_word_for_word(self):
        vba = [t for p in ("SCBT_Pen.bas", "SCBT_Path.bas") for line in text_of(ADDIN / p).split("\n")
               for t in literals(line)]
        wanted = []
        macros_cpp = (ROOT / "standin/macros.cpp").read_text()
        for line in macros_cpp.split("\n"):
            if "err(" in line or "plan.error" in line:
                wanted += cpp_literals(line)
        # Sentences that several macros answer are named once (the view's refusals).
        named = re.findall(r'constexpr const char\* \w+ =\s*("(?:[^"\\]|\\.)*");', macros_cpp)
        self.assertGreaterEqual(len(named), 2)
        wanted += [t for n in named for t in cpp_literals(n)]
        path_cpp = (ROOT / "standin/path_text.cpp").read_text()
        wanted += [t for t in cpp_literals(path_cpp) if re.match(r"[A-Z][a-z]", t) and " " in t]
        wanted = [w for w in wanted if len(w) > 3]
        self.assertGreater(len(wanted), 20)
        for fragment in wanted:
            self.assertTrue(any(fragment in t for t in vba), f"the stand-in says {fragment!r}; the add-in does not")


def cpp_literals(text):
    return [m.replace('\\"', '"') for m in re.findall(r'"((?:[^"\\]|\\.)*)"', text)]


class TheCasesAreOnesTheSelfTestKnows(unittest.TestCase):
    """The contract cases file is read by the stand-in's tests and by the self-test; what the
    self-test does not know it must at least skip by name."""

    @unittest.skipUnless((ADDIN.parent / "contract.cases").exists(), "no contract.cases in this tree yet")
    def test_records_and_macros(self):
        self_test = text_of(ADDIN / "SCBT_SelfTest.bas")
        for number, line in enumerate((ADDIN.parent / "contract.cases").read_text(encoding="utf-8").split("\n"), 1):
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            self.assertIn(fields[0], {"case", "given", "call", "answer", "exactly", "span"}, f"line {number}")
            if fields[0] == "call":
                self.assertIn(fields[1], MACROS, f"line {number}")
                self.assertIn(f'"{fields[1]}"', self_test)


if __name__ == "__main__":
    unittest.main()
