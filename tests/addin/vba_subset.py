"""A small interpreter for the part of VBA that the add-in's pure helpers are written in, so
that their logic (numbers, Base64, the path parser, the contract-case patterns, the colour
and argument checks) runs here, where PowerPoint does not. It knows only what those modules
use: typed Dim, ReDim [Preserve], Const, user-defined Types, If blocks and one-line Ifs, For,
Do/Loop, Select Case, Exit, ByRef and ByVal arguments, calls across modules, On Error GoTo
a label at a procedure's top level, and VBA's own text and number functions that the modules
call. Procedures are parsed when first run, so code that talks to PowerPoint is never read;
reaching a name it does not know raises VbUnknown."""
import math
import re
import sys
from pathlib import Path


class VbError(Exception):
    def __init__(self, number, description=""):
        super().__init__(f"VBA error {number}: {description}")
        self.number = number
        self.description = description


class VbUnknown(Exception):
    pass


# ---------------------------------------------------------------------------------------
# Values

def banker(x):
    """VBA's rounding to a whole number (half to even), as CLng and integer types do."""
    f = math.floor(x)
    d = x - f
    if d > 0.5 or (d == 0.5 and f % 2 == 1):
        return int(f) + 1
    return int(f)


def num(v):
    if isinstance(v, bool):
        return -1 if v else 0
    if isinstance(v, (int, float)):
        return v
    if isinstance(v, str):
        try:
            return float(v)
        except ValueError:
            raise VbError(13, "Type mismatch")
    raise VbError(13, f"Type mismatch: {v!r}")


def text(v):
    if isinstance(v, str):
        return v
    if isinstance(v, bool):
        return "True" if v else "False"
    if isinstance(v, int) or (isinstance(v, float) and v.is_integer() and abs(v) < 1e15):
        return str(int(v))
    return repr(v)


def truth(v):
    return bool(num(v)) if not isinstance(v, bool) else v


class Array:
    def __init__(self, kind, bounds, types):
        self.kind, self.types = kind, types
        self.bounds = list(bounds)
        self.items = {}

    def allocated(self):
        return self.bounds is not None and len(self.bounds) > 0

    def index(self, idx):
        if not self.allocated() or len(idx) != len(self.bounds):
            raise VbError(9, "Subscript out of range")
        key = tuple(banker(num(i)) for i in idx)
        for k, (lo, hi) in zip(key, self.bounds):
            if not lo <= k <= hi:
                raise VbError(9, "Subscript out of range")
        return key

    def get(self, idx):
        key = self.index(idx)
        if key not in self.items:
            self.items[key] = default(self.kind, self.types)
        return self.items[key]

    def set(self, idx, value):
        self.items[self.index(idx)] = coerce(self.kind, value, self.types)

    def copy(self):
        a = Array(self.kind, self.bounds, self.types)
        a.items = {k: copy_value(v) for k, v in self.items.items()}
        return a


class Record(dict):
    pass


class Object(dict):
    """An object reference (a pretend PowerPoint object, a Collection): its members by name, never
    copied on assignment the way a user-defined type's value is."""


class Method:
    """A member that runs when called: `fn(args)` with the evaluated arguments."""

    def __init__(self, fn):
        self.fn = fn

    def get(self, args):
        return self.fn(args)


def collection(items=()):
    """VBA's Collection: For Each walks `items`, Add appends."""
    c = Object()
    c.items = list(items)
    c["Add"] = Method(lambda args: c.items.append(args[0]))
    return c


def copy_value(v):
    if isinstance(v, Array):
        return v.copy()
    if isinstance(v, Record):
        r = Record({k: copy_value(x) for k, x in v.items()})
        r.kinds = v.kinds
        return r
    return v


def default(kind, types):
    k = (kind or "Variant").lower()
    if k in ("long", "integer", "byte"):
        return 0
    if k in ("double", "single"):
        return 0.0
    if k == "string":
        return ""
    if k == "boolean":
        return False
    if k in types:
        r = Record()
        r.kinds = types[k]
        for name, (mkind, is_array) in types[k].items():
            r[name] = Array(mkind, [], types) if is_array else default(mkind, types)
        return r
    return 0


def coerce(kind, value, types):
    k = (kind or "Variant").lower()
    if isinstance(value, (Array, Record)):
        if k == "string" and isinstance(value, Array):  # a Byte array read as UTF-16
            data = bytes(value.items.get((i,), 0) for i in range(value.bounds[0][0], value.bounds[0][1] + 1))
            return data.decode("utf-16-le")
        return copy_value(value)
    if k in ("long", "integer", "byte"):
        v = banker(num(value))
        limits = {"long": 2 ** 31, "integer": 2 ** 15, "byte": 256}
        if (k == "byte" and not 0 <= v < 256) or (k != "byte" and not -limits[k] <= v < limits[k]):
            raise VbError(6, "Overflow")
        return v
    if k in ("double", "single"):
        return float(num(value))
    if k == "string":
        return text(value)
    if k == "boolean":
        return truth(value)
    return value


# ---------------------------------------------------------------------------------------
# Tokens and expressions

TOKEN = re.compile(r'\s*(?:(?P<str>"(?:[^"]|"")*")|(?P<hex>&H[0-9A-Fa-f]+&?)|'
                   r'(?P<num>(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?[#&!]?)|(?P<id>[A-Za-z_]\w*\$?)|'
                   r'(?P<op><>|<=|>=|:=|[-+*/\\^&=<>(),.]))')


def tokenize(s):
    out, i = [], 0
    while i < len(s):
        if s[i:].strip() == "":
            break
        m = TOKEN.match(s, i)
        if not m:
            raise VbUnknown(f"cannot read {s[i:]!r}")
        i = m.end()
        kind = m.lastgroup
        v = m.group(kind)
        if kind == "str":
            out.append(("str", v[1:-1].replace('""', '"')))
        elif kind == "hex":
            out.append(("num", int(v[2:].rstrip("&"), 16) if not v.endswith("&") else int(v[2:-1], 16)))
            if not v.endswith("&"):
                n = out[-1][1]
                if n > 0x7FFF and n <= 0xFFFF:  # a 4-digit &H literal is an Integer
                    out[-1] = ("num", n - 0x10000)
        elif kind == "num":
            body = v.rstrip("#&!")
            out.append(("num", float(body) if ("." in body or "e" in body.lower() or v.endswith("#")) else int(body)))
        elif kind == "id":
            out.append(("id", v))
        else:
            out.append(("op", v))
    return out


class Parser:
    """Expressions into nested tuples."""
    BINARY = [({"Or"}, 1), ({"Xor"}, 1), ({"And"}, 2), ({"=", "<>", "<", ">", "<=", ">=", "Is", "Like"}, 4),
              ({"&"}, 5), ({"+", "-"}, 6), ({"Mod"}, 7), ({"\\"}, 8), ({"*", "/"}, 9), ({"^"}, 11)]

    def __init__(self, tokens):
        self.t, self.i = tokens, 0

    def peek(self, k=0):
        return self.t[self.i + k] if self.i + k < len(self.t) else (None, None)

    def is_(self, value, k=0):
        tok = self.peek(k)
        return tok[0] in ("op", "id") and isinstance(tok[1], str) and tok[1].lower() == value.lower()

    def take(self, value=None):
        tok = self.peek()
        if value is not None and not self.is_(value):
            raise VbUnknown(f"expected {value}, found {tok}")
        self.i += 1
        return tok

    def done(self):
        return self.i >= len(self.t)

    def expr(self, level=0):
        if level == 3:  # Not sits between And and the comparisons
            if self.is_("Not"):
                self.take()
                return ("not", self.expr(3))
            return self.expr(4)
        if level >= len(self.BINARY) + 1 or level > 11:
            return self.unary()
        ops = next((o for o, p in self.BINARY if p == level), None)
        if ops is None:
            return self.expr(level + 1)
        left = self.expr(level + 1)
        while any(self.is_(o) for o in ops):
            op = self.take()[1]
            right = self.expr(level + 1)
            left = ("bin", op.lower() if op[0].isalpha() else op, left, right)
        return left

    def unary(self):
        if self.is_("-"):
            self.take()
            return ("neg", self.unary())
        if self.is_("+"):
            self.take()
            return self.unary()
        return self.postfix()

    def postfix(self):
        tok = self.take()
        if tok[0] in ("num", "str"):
            node = ("lit", tok[1])
        elif tok == ("op", "("):
            node = self.expr()
            self.take(")")
            return node
        elif tok[0] == "id":
            node = ("name", tok[1])
        else:
            raise VbUnknown(f"unexpected {tok}")
        while True:
            if self.is_("("):
                self.take()
                args = []
                while not self.is_(")"):
                    args.append(self.expr())
                    if self.is_(","):
                        self.take()
                self.take(")")
                node = ("call", node, args)
            elif self.is_("."):
                self.take()
                node = ("member", node, self.take()[1])
            else:
                return node

    def args_until_end(self):
        args = []
        while not self.done():
            args.append(self.expr())
            if self.is_(","):
                self.take()
        return args


def parse_expr(s):
    p = Parser(tokenize(s))
    node = p.expr()
    if not p.done():
        raise VbUnknown(f"left over in {s!r}: {p.t[p.i:]}")
    return node


# ---------------------------------------------------------------------------------------
# Source into procedures and statements

def code_lines(source):
    """Logical lines: comments dropped (outside strings), continuations joined."""
    out, buf = [], ""
    for raw in source.replace("\r\n", "\n").split("\n"):
        line, in_s = [], False
        for c in raw:
            if c == '"':
                in_s = not in_s
            if c == "'" and not in_s:
                break
            line.append(c)
        line = "".join(line).rstrip()
        if line.endswith(" _"):
            buf += line[:-2] + " "
            continue
        out.append((buf + line).strip())
        buf = ""
    return [l for l in out if l]


def split_statements(line):
    """'Case "M": ok = MoveTo()' -> two statements (colons outside strings)."""
    parts, cur, in_s = [], "", False
    for i, c in enumerate(line):
        if c == '"':
            in_s = not in_s
        if c == ":" and not in_s and (i + 1 == len(line) or line[i + 1] == " ") and not re.fullmatch(r"\w+", cur.strip()):
            parts.append(cur.strip())
            cur = ""
            continue
        cur += c
    parts.append(cur.strip())
    return [p for p in parts if p]


class Procedure:
    def __init__(self, module, name, kind, params, returns, lines):
        self.module, self.name, self.kind, self.returns, self.lines = module, name, kind, returns, lines
        self.params = []
        for piece in split_top(params):
            m = re.match(r"(Optional\s+)?(ByVal\s+|ByRef\s+)?(\w+)(\(\))?(?:\s+As\s+(\w+))?(?:\s*=\s*(.*))?$", piece.strip())
            self.params.append({"optional": bool(m.group(1)), "byval": bool(m.group(2) and "ByVal" in m.group(2)),
                                "name": m.group(3), "array": bool(m.group(4)), "kind": m.group(5),
                                "default": m.group(6)})
        self.body = None


def split_top(s):
    parts, depth, cur, in_s = [], 0, "", False
    for c in s:
        if c == '"':
            in_s = not in_s
        if not in_s:
            depth += c == "("
            depth -= c == ")"
            if c == "," and depth == 0:
                parts.append(cur)
                cur = ""
                continue
        cur += c
    if cur.strip():
        parts.append(cur)
    return parts


def parse_block(lines, i, stop):
    """Statements from lines[i] until a line matching `stop`; returns (statements, i)."""
    out = []
    while i < len(lines):
        line = lines[i]
        if stop and re.match(stop, line, re.I):
            return out, i
        i += 1
        if re.fullmatch(r"\w+:", line):
            out.append(("label", line[:-1]))
            continue
        # Conditional compilation (#If Mac Then) reads like an If whose names are the VM's
        # constants: a test sets "mac" to run the Mac's branch.
        m = re.match(r"(#?)If\s+(.*)\s+Then$", line)
        if m:
            branches, cond, hash_ = [], m.group(2), re.escape(m.group(1))
            while True:
                body, i = parse_block(lines, i, rf"({hash_}ElseIf\s|{hash_}Else$|{hash_}End If$)")
                branches.append((cond, body))
                end = lines[i].lstrip("#")
                i += 1
                if end.startswith("ElseIf"):
                    cond = re.match(r"ElseIf\s+(.*)\s+Then$", end).group(1)
                elif end == "Else":
                    cond = None
                else:
                    break
            out.append(("if", [(parse_expr(c) if c else None, b) for c, b in branches]))
            continue
        m = re.match(r"If\s+(.*?)\s+Then\s+(.*)$", line)
        if m:
            then, _, other = m.group(2).partition(" Else ")
            out.append(("if", [(parse_expr(m.group(1)), simple(then))] + ([(None, simple(other))] if other else [])))
            continue
        m = re.match(r"For Each\s+(\w+)\s+In\s+(.*)$", line)
        if m:
            body, i = parse_block(lines, i, r"Next\b")
            i += 1
            out.append(("foreach", m.group(1), parse_expr(m.group(2)), body))
            continue
        m = re.match(r"For\s+(\w+)\s*=\s*(.*?)\s+To\s+(.*?)(?:\s+Step\s+(.*))?$", line)
        if m:
            body, i = parse_block(lines, i, r"Next\b")
            i += 1
            out.append(("for", m.group(1), parse_expr(m.group(2)), parse_expr(m.group(3)),
                        parse_expr(m.group(4)) if m.group(4) else ("lit", 1), body))
            continue
        m = re.match(r"Do(?:\s+(While|Until)\s+(.*))?$", line)
        if m:
            body, i = parse_block(lines, i, r"Loop\b")
            end = re.match(r"Loop(?:\s+(While|Until)\s+(.*))?$", lines[i])
            i += 1
            out.append(("do", m.group(1), parse_expr(m.group(2)) if m.group(2) else None,
                        end.group(1), parse_expr(end.group(2)) if end.group(2) else None, body))
            continue
        m = re.match(r"Select Case\s+(.*)$", line)
        if m:
            cases, j = [], i
            while not lines[j].startswith("End Select"):
                parts = split_statements(lines[j])
                head = parts[0]
                rest = parts[1:]
                body, j = parse_block(lines, j + 1, r"(Case\b|End Select$)")
                body = [s for r in rest for s in simple(r)] + body
                if head == "Case Else":
                    cases.append((None, body))
                else:
                    cases.append(([parse_expr(x) for x in split_top(head[5:])], body))
            i = j + 1
            out.append(("select", parse_expr(m.group(1)), cases))
            continue
        for st in split_statements(line):
            out.extend(simple(st))
    return out, i


def simple(st):
    m = re.match(r"Exit\s+(Function|Sub|For|Do)$", st)
    if m:
        return [("exit", m.group(1).lower())]
    if re.match(r"(Dim|Const|Static)\s", st):
        return [("dim", st)]
    m = re.match(r"ReDim\s+(Preserve\s+)?(.*)$", st)
    if m:
        return [("redim", bool(m.group(1)), [parse_redim(p) for p in split_top(m.group(2))])]
    m = re.match(r"On Error (GoTo (\w+)|Resume Next)$", st)
    if m:
        return [("onerror", m.group(2) or "next")]
    m = re.match(r"Resume\s+(\w+)$", st)
    if m:
        return [("resume", m.group(1))]
    m = re.match(r"Set\s+(\w+)\s*=\s*New Collection$", st)
    if m:
        return [("newcollection", m.group(1))]
    m = re.match(r"(?:Set\s+)?([\w.()$ ,+\-*\"]+?)\s*=\s*(.*)$", st)
    if m and not st.startswith("If "):
        try:
            return [("let", parse_expr(m.group(1)), parse_expr(m.group(2)))]
        except VbUnknown:
            pass
    m = re.match(r"(?:Call\s+)?([\w.]+\$?)(?:\s+(.*))?$", st)
    if m:
        p = Parser(tokenize(m.group(2) or ""))
        target = parse_expr(m.group(1))
        return [("callst", target, p.args_until_end())]
    raise VbUnknown(f"statement {st!r}")


def parse_redim(piece):
    m = re.match(r"\s*([\w.]+)\((.*)\)(?:\s+As\s+(\w+))?\s*$", piece)
    bounds = []
    for b in split_top(m.group(2)):
        lo, sep, hi = b.partition(" To ")
        bounds.append((parse_expr(lo), parse_expr(hi)) if sep else (("lit", 0), parse_expr(lo)))
    return parse_expr(m.group(1)), bounds, m.group(3)


# ---------------------------------------------------------------------------------------
# Running

class Exit(Exception):
    def __init__(self, what):
        self.what = what


class Ref:
    """Where a ByRef argument lives."""
    def __init__(self, get, set_):
        self.get, self.set = get, set_


class Frame:
    def __init__(self, module, proc):
        self.module, self.proc = module, proc
        self.vars, self.kinds = {}, {}


class Module:
    def __init__(self, vm, path):
        self.vm, self.name = vm, path.stem
        self.vars, self.kinds, self.procs, self.types = {}, {}, {}, {}
        lines = code_lines(path.read_text(encoding="ascii"))
        i = 0
        while i < len(lines):
            line = lines[i]
            m = re.match(r"(?:(Public|Private)\s+)?(Function|Sub)\s+(\w+)\s*\((.*?)\)\s*(?:As\s+(\w+))?$", line)
            if m:
                j = i + 1
                while not re.match(rf"End {m.group(2)}$", lines[j]):
                    j += 1
                self.procs[m.group(3).lower()] = Procedure(self, m.group(3), m.group(2), m.group(4), m.group(5),
                                                           lines[i + 1:j])
                i = j + 1
                continue
            m = re.match(r"(?:Public |Private )?Type (\w+)$", line)
            if m:
                members, i = {}, i + 1
                while lines[i] != "End Type":
                    mm = re.match(r"(\w+)(\(\))?\s+As\s+(\w+)", lines[i])
                    members[mm.group(1)] = (mm.group(3), bool(mm.group(2)))
                    i += 1
                vm.types[m.group(1).lower()] = members
                i += 1
                continue
            m = re.match(r"(?:Public|Private|Dim)\s+(?:(Const)\s+)?(.*)$", line)
            if m and not line.startswith("Option") and not line.startswith("Attribute"):
                self.declare(self.vars, self.kinds, m.group(2), bool(m.group(1)), None)
            i += 1

    def declare(self, store, kinds, body, const, frame):
        for piece in split_top(body):
            m = re.match(r"\s*(\w+)(\((.*)\))?(?:\s+As\s+(New\s+)?(\w+))?(?:\s*=\s*(.*))?$", piece)
            name, kind = m.group(1).lower(), m.group(5)
            kinds[name] = kind
            if const:
                store[name] = coerce(kind, self.vm.eval(parse_expr(m.group(6)), frame or self), self.vm.types) \
                    if kind else self.vm.eval(parse_expr(m.group(6)), frame or self)
            elif m.group(2) is not None:
                bounds = []
                for b in split_top(m.group(3)):
                    lo, sep, hi = b.partition(" To ")
                    ev = lambda e: banker(num(self.vm.eval(parse_expr(e), frame or self)))
                    bounds.append((ev(lo), ev(hi)) if sep else (0, ev(lo)))
                store[name] = Array(kind, bounds, self.vm.types)
            else:
                store[name] = default(kind, self.vm.types)


class VM:
    def __init__(self, folder):
        self.types = {}
        self.constants = {"vbtab": "\t", "vblf": "\n", "vbcr": "\r", "vbcrlf": "\r\n", "vbbinarycompare": 0,
                          "vbtextcompare": 1, "true": True, "false": False, "mac": False}
        self.modules = {}
        for path in sorted(Path(folder).glob("SCBT_*.bas")):
            self.modules[path.stem.lower()] = Module(self, path)

    def run(self, module, proc, *args):
        """Runs a procedure with plain values; ByRef arguments given as [value] lists come back
        changed in place."""
        p = self.modules[module.lower()].procs[proc.lower()]
        refs = []
        for a in args:
            if isinstance(a, list):
                cell = a
                refs.append(Ref(lambda c=cell: c[0], lambda v, c=cell: c.__setitem__(0, v)))
            else:
                refs.append(a)
        return self.invoke(p, refs)

    def invoke(self, p, args):
        if p.body is None:
            p.body, _ = parse_block(p.lines, 0, None)
        f = Frame(p.module, p)
        byref = {}
        for i, param in enumerate(p.params):
            name = param["name"].lower()
            f.kinds[name] = param["kind"]
            if i < len(args):
                a = args[i]
                if isinstance(a, Ref) and not param["byval"]:
                    byref[name] = a
                    continue
                value = a.get() if isinstance(a, Ref) else a
            elif param["optional"]:
                value = self.eval(parse_expr(param["default"]), f) if param["default"] else default(param["kind"], self.types)
            else:
                raise VbError(449, f"Argument not optional: {p.name}")
            f.vars[name] = copy_value(value) if param["array"] or isinstance(value, (Array, Record)) else \
                coerce(param["kind"], value, self.types)
        f.byref = byref
        if p.kind == "Function":
            f.vars[p.name.lower()] = default(p.returns, self.types)
            f.kinds[p.name.lower()] = p.returns
        f.handler = None
        self.exec_top(p.body, f)
        return f.vars.get(p.name.lower()) if p.kind == "Function" else None

    def exec_top(self, body, f):
        start = 0
        while True:
            try:
                self.exec_block(body[start:], f)
                return
            except Exit as e:
                if e.what in ("function", "sub"):
                    return
                raise
            except VbError:
                if f.handler in (None, "0"):
                    raise
                if f.handler == "next":
                    raise VbUnknown("On Error Resume Next around a failing statement is not modelled")
                target = f.handler
                f.handler = None
                self.constants["err"] = Record(Number=sys.exc_info()[1].number,
                                               Description=sys.exc_info()[1].description)
                start = next(i for i, s in enumerate(body) if s == ("label", target)) + 1
            except ResumeTo as r:
                start = next(i for i, s in enumerate(body) if s == ("label", r.label)) + 1

    def exec_block(self, body, f):
        for st in body:
            self.exec(st, f)

    def exec(self, st, f):
        kind = st[0]
        if kind == "label":
            return
        if kind == "if":
            for cond, block in st[1]:
                if cond is None or truth(self.eval(cond, f)):
                    self.exec_block(block, f)
                    return
        elif kind == "for":
            _, var, lo, hi, step = st[:5]
            lo, hi, step = num(self.eval(lo, f)), num(self.eval(hi, f)), num(self.eval(step, f))
            ref = self.ref(("name", var), f)
            ref.set(lo)
            try:
                while (ref.get() <= hi) if step > 0 else (ref.get() >= hi):
                    self.exec_block(st[5], f)
                    ref.set(ref.get() + step)
            except Exit as e:
                if e.what != "for":
                    raise
        elif kind == "foreach":
            ref = self.ref(("name", st[1]), f)
            try:
                for item in list(self.eval(st[2], f).items):
                    ref.set(item)
                    self.exec_block(st[3], f)
            except Exit as e:
                if e.what != "for":
                    raise
        elif kind == "newcollection":
            self.ref(("name", st[1]), f).set(collection())
        elif kind == "do":
            _, pre, precond, post, postcond, block = st
            try:
                while True:
                    if pre and truth(self.eval(precond, f)) != (pre == "While"):
                        break
                    self.exec_block(block, f)
                    if post and truth(self.eval(postcond, f)) != (post == "While"):
                        break
            except Exit as e:
                if e.what != "do":
                    raise
        elif kind == "select":
            value = self.eval(st[1], f)
            for options, block in st[2]:
                if options is None or any(self.compare("=", value, self.eval(o, f)) for o in options):
                    self.exec_block(block, f)
                    return
        elif kind == "exit":
            raise Exit(st[1])
        elif kind == "dim":
            m = re.match(r"(Dim|Const|Static)\s+(.*)$", st[1])
            f.module.declare(f.vars, f.kinds, m.group(2), m.group(1) == "Const", f)
        elif kind == "redim":
            for target, bounds, _ in st[2]:
                ref = self.ref(target, f)
                old = ref.get()
                new_bounds = [(banker(num(self.eval(a, f))), banker(num(self.eval(b, f)))) for a, b in bounds]
                arr = Array(old.kind, new_bounds, self.types)
                if st[1]:
                    arr.items = {k: v for k, v in old.items.items()
                                 if all(lo <= i <= hi for i, (lo, hi) in zip(k, new_bounds))}
                ref.set_array(arr) if hasattr(ref, "set_array") else ref.set(arr)
        elif kind == "onerror":
            f.handler = st[1] if st[1] != "0" else None
        elif kind == "resume":
            raise ResumeTo(st[1])
        elif kind == "let":
            self.ref(st[1], f).set(self.eval(st[2], f))
        elif kind == "callst":
            self.call(st[1], st[2], f)
        else:
            raise VbUnknown(kind)

    # -- names and references

    def lookup(self, name, f):
        low = name.lower()
        if isinstance(f, Frame):
            if low in getattr(f, "byref", {}):
                return "byref", f.byref[low]
            if low in f.vars:
                return "frame", f
            module = f.module
        else:
            module = f
        if low in module.vars:
            return "module", module
        for m in self.modules.values():
            if low in m.vars and m is not module:
                return "module", m
        return None, None

    def ref(self, node, f):
        if node[0] == "name":
            where, owner = self.lookup(node[1], f)
            low = node[1].lower()
            if where == "byref":
                r = owner
                return Ref(r.get, r.set)
            if where is None:
                raise VbUnknown(f"assignment to undeclared {node[1]}")
            kinds = owner.kinds
            store = owner.vars

            def set_(v):
                if isinstance(v, Array) and isinstance(store.get(low), Array):  # an array variable
                    store[low] = v.copy()
                else:
                    store[low] = coerce(kinds.get(low), v, self.types)
            return Ref(lambda: store[low], set_)
        if node[0] == "call":  # an array element
            base = self.ref(node[1], f)
            arr = base.get()
            if not isinstance(arr, Array):
                raise VbUnknown(f"{node} is not an array")
            idx = [self.eval(a, f) for a in node[2]]
            r = Ref(lambda: base.get().get(idx), lambda v: base.get().set(idx, v))
            return r
        if node[0] == "member":
            base = self.ref(node[1], f)
            rec = base.get()
            name = next(k for k in rec if k.lower() == node[2].lower())
            if isinstance(rec, Object):  # an object's property: PowerPoint's to check
                return Ref(lambda: rec[name], lambda v: rec.__setitem__(name, v))
            mkind, is_array = rec.kinds[name]

            def set_(v, rec=rec, name=name):
                rec[name] = copy_value(v) if is_array else coerce(mkind, v, self.types)
            return Ref(lambda: base.get()[name], set_)
        raise VbUnknown(f"not assignable: {node}")

    def procedure(self, node, f):
        module = f.module if isinstance(f, Frame) else f
        if node[0] == "name":
            low = node[1].lower()
            if low in module.procs:
                return module.procs[low]
            for m in self.modules.values():
                p = m.procs.get(low)
                if p and not p.lines[:0] and m is not module:
                    return p
        if node[0] == "member" and node[1][0] == "name" and node[1][1].lower() in self.modules:
            return self.modules[node[1][1].lower()].procs.get(node[2].lower())
        return None

    def call(self, target, args, f):
        p = self.procedure(target, f)
        if p is not None:
            passed = []
            for a in args:
                try:
                    passed.append(self.ref(a, f) if a[0] in ("name", "member") or
                                  (a[0] == "call" and self.procedure(a[1], f) is None and
                                   a[1][0] == "name" and a[1][1].lower() not in BUILTINS and
                                   isinstance(self.safe_get(a[1], f), Array)) else self.eval(a, f))
                except VbUnknown:
                    passed.append(self.eval(a, f))
            return self.invoke(p, passed)
        if target[0] == "name" and target[1].lower() in BUILTINS:
            return BUILTINS[target[1].lower()](self, [self.eval(a, f) for a in args])
        if target[0] == "member" and not (target[1][0] == "name" and target[1][1].lower() in self.modules):
            rec = self.eval(target[1], f)  # an object's method, called as a statement
            member = rec[next(k for k in rec if k.lower() == target[2].lower())]
            if isinstance(member, Method):
                return member.get([self.eval(a, f) for a in args])
        raise VbUnknown(f"no procedure {target}")

    def safe_get(self, node, f):
        where, owner = self.lookup(node[1], f)
        if where == "byref":
            return owner.get()
        if where is None:
            return None
        return owner.vars[node[1].lower()]

    # -- expressions

    def eval(self, node, f):
        kind = node[0]
        if kind == "lit":
            return node[1]
        if kind == "name":
            low = node[1].lower()
            where, owner = self.lookup(node[1], f)
            if where == "byref":
                return owner.get()
            if where:
                return owner.vars[low]
            if low in self.constants:
                return self.constants[low]
            if self.procedure(node, f) is not None or low in BUILTINS:
                return self.call(node, [], f)
            raise VbUnknown(f"unknown name {node[1]}")
        if kind == "call":
            base = node[1]
            if base[0] == "name":
                where, owner = self.lookup(base[1], f)
                if where:
                    arr = owner.get() if where == "byref" else owner.vars[base[1].lower()]
                    if isinstance(arr, Array):
                        return arr.get([self.eval(a, f) for a in node[2]])
            if base[0] == "member" and base[1][0] != "name" or (base[0] == "member" and base[1][1].lower() not in self.modules):
                owner = self.eval(base[1], f)
                rec = owner[next(k for k in owner if k.lower() == base[2].lower())]
                return rec.get([self.eval(a, f) for a in node[2]])
            return self.call(base, node[2], f)
        if kind == "member":
            if node[1][0] == "name" and node[1][1].lower() in self.modules:
                return self.call(node, [], f)
            rec = self.eval(node[1], f)
            value = rec[next(k for k in rec if k.lower() == node[2].lower())]
            return value.get([]) if isinstance(value, Method) else value  # a method called without ()
        if kind == "neg":
            return -num(self.eval(node[1], f))
        if kind == "not":
            v = self.eval(node[1], f)
            return (not v) if isinstance(v, bool) else ~banker(num(v))
        if kind == "bin":
            return self.binary(node[1], self.eval(node[2], f), self.eval(node[3], f))
        raise VbUnknown(kind)

    def compare(self, op, a, b):
        if isinstance(a, str) and isinstance(b, str):
            pass
        elif isinstance(a, str) or isinstance(b, str):
            a, b = text(a), text(b)
        else:
            a, b = num(a), num(b)
        return {"=": a == b, "<>": a != b, "<": a < b, ">": a > b, "<=": a <= b, ">=": a >= b}[op]

    def binary(self, op, a, b):
        if op in ("=", "<>", "<", ">", "<=", ">="):
            return self.compare(op, a, b)
        if op == "&":
            return text(a) + text(b)
        if op in ("and", "or", "xor"):
            if isinstance(a, bool) and isinstance(b, bool):
                return {"and": a and b, "or": a or b, "xor": a != b}[op]
            x, y = banker(num(a)), banker(num(b))
            return {"and": x & y, "or": x | y, "xor": x ^ y}[op]
        x, y = num(a), num(b)
        if op == "+":
            return x + y
        if op == "-":
            return x - y
        if op == "*":
            return x * y
        if op == "/":
            if y == 0:
                raise VbError(11, "Division by zero")
            return x / y
        if op == "\\":
            x, y = banker(x), banker(y)
            if y == 0:
                raise VbError(11, "Division by zero")
            q = abs(x) // abs(y)
            return q if (x >= 0) == (y > 0) else -q
        if op == "mod":
            x, y = banker(x), banker(y)
            return int(math.fmod(x, y))
        if op == "^":
            return x ** y
        raise VbUnknown(op)


class ResumeTo(Exception):
    def __init__(self, label):
        self.label = label


# ---------------------------------------------------------------------------------------
# VBA's own functions

def vb_str(v):
    v = num(v)
    if float(v).is_integer() and abs(v) < 1e15:
        s = str(int(v))
    else:
        s = f"{v:.15g}"
        if "e" in s:
            mant, exp = s.split("e")
            s = f"{mant}E{'+' if int(exp) >= 0 else '-'}{abs(int(exp)):02d}"
        s = s.replace("0.", ".", 1) if s.startswith(("0.", "-0.")) else s
    return s if s.startswith("-") else " " + s


def vb_val(s):
    m = re.match(r"\s*[+-]?(\d+\.?\d*|\.\d+)([eEdD][+-]?\d+)?", s)
    if not m:
        return 0
    v = float(m.group(0).replace("d", "e").replace("D", "e"))
    if math.isinf(v):
        raise VbError(6, "Overflow")
    return v


def vb_mid(s, start, length=None):
    start = banker(num(start))
    if start < 1:
        raise VbError(5, "Invalid procedure call")
    return s[start - 1:] if length is None else s[start - 1:start - 1 + banker(num(length))]


def vb_instr(args):
    if isinstance(args[0], str):
        args = [1] + args
    start, s, find = banker(num(args[0])), text(args[1]), text(args[2])
    if start < 1:
        raise VbError(5, "Invalid procedure call")
    if len(args) > 3 and num(args[3]) == 1:
        s, find = s.lower(), find.lower()
    return s.find(find, start - 1) + 1 if start - 1 <= len(s) else 0


def vb_replace(args):
    s, find, repl = text(args[0]), text(args[1]), text(args[2])
    return s.replace(find, repl) if find else s


def vb_split(args):
    s, sep = text(args[0]), text(args[1]) if len(args) > 1 else " "
    parts = s.split(sep) if s else []
    a = Array("String", [(0, len(parts) - 1)] if parts else [(0, -1)], {})
    for i, p in enumerate(parts):
        a.items[(i,)] = p
    return a


def vb_bound(which):
    def f(vm, args):
        arr = args[0]
        if not arr.allocated():
            raise VbError(9, "Subscript out of range")
        dim = banker(num(args[1])) - 1 if len(args) > 1 else 0
        return arr.bounds[dim][which]
    return f


BUILTINS = {
    "mid": lambda vm, a: vb_mid(text(a[0]), *a[1:]), "mid$": lambda vm, a: vb_mid(text(a[0]), *a[1:]),
    "left$": lambda vm, a: text(a[0])[:max(0, banker(num(a[1])))], "left": lambda vm, a: text(a[0])[:banker(num(a[1]))],
    "right$": lambda vm, a: text(a[0])[len(text(a[0])) - min(len(text(a[0])), banker(num(a[1]))):],
    "len": lambda vm, a: len(text(a[0])), "instr": lambda vm, a: vb_instr(a),
    "ascw": lambda vm, a: ord(text(a[0])[0]), "chrw": lambda vm, a: chr(banker(num(a[0])) & 0xFFFF),
    "chr$": lambda vm, a: chr(banker(num(a[0]))), "str$": lambda vm, a: vb_str(a[0]), "str": lambda vm, a: vb_str(a[0]),
    "trim$": lambda vm, a: text(a[0]).strip(" "), "int": lambda vm, a: math.floor(num(a[0])),
    "abs": lambda vm, a: abs(num(a[0])), "val": lambda vm, a: vb_val(text(a[0])),
    "clng": lambda vm, a: coerce("Long", a[0], {}), "hex$": lambda vm, a: format(banker(num(a[0])) & 0xFFFFFFFF, "X"),
    "ucase$": lambda vm, a: text(a[0]).upper(), "lcase$": lambda vm, a: text(a[0]).lower(),
    "replace": lambda vm, a: vb_replace(a), "split": lambda vm, a: vb_split(a),
    "rgb": lambda vm, a: banker(num(a[0])) + banker(num(a[1])) * 256 + banker(num(a[2])) * 65536,
    "strcomp": lambda vm, a: (text(a[0]) > text(a[1])) - (text(a[0]) < text(a[1])),
    "lbound": vb_bound(0), "ubound": vb_bound(1),
}
