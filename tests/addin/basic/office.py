"""A headless LibreOffice of the test's own with the add-in's VBA modules loaded, as they are
written, into a Basic library in VBA mode; its procedures are called through the script
provider. Run with the system's Python (/usr/bin/python3), which has LibreOffice's uno.

soffice.bin is started directly (not through the soffice script and oosplash), in its own
process group and told by the kernel to die with this process, so that no soffice outlives a
test, even one killed by CTest's timeout."""
import ctypes
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

import uno

ROOT = Path(__file__).resolve().parents[3]
MODULES = ROOT / "addin/powerpoint"
LIBRARY = "Scribbet"
PROGRAM = Path(os.path.realpath("/usr/bin/soffice")).parent / "soffice.bin"
WRAPPERS = "ScbtTry"
SIMPLE_TYPES = {"string", "long", "double", "boolean", "variant", "byte", "integer"}
RESTART = 81  # soffice.bin's exit status after it made a new profile and wants to start again


class BasicError(Exception):
    """A Basic run-time error that reached the test."""


def basic_source(text):
    """A module's text as LibreOffice Basic takes it: VBA mode switched on, the VB_ attribute
    lines (which only VBA's import reads) left out. Nothing else changes."""
    lines = text.replace("\r\n", "\n").split("\n")
    return "\n".join(["Option VBASupport 1"] + [line for line in lines if not line.startswith("Attribute VB_")])


def _numbers(value):
    """Python's whole numbers as Doubles: a small one handed over as it is arrives in a ByVal
    Long parameter as 0 (pyuno gives it UNO's smallest integer type that holds it)."""
    if isinstance(value, bool) or not isinstance(value, (int, tuple, list)):
        return value
    if isinstance(value, int):
        return float(value)
    return tuple(_numbers(v) for v in value)


def die_with_parent():
    """For a child process: the kernel kills it when this process ends, however it ends."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Library:
    """A Basic library of the office's (VBA mode), its procedures called by "Module.Proc"."""

    def __init__(self, office, name, paths):
        self.office, self.name = office, name
        self.basic = office.libraries.createLibrary(name)
        self.modules, self.scripts = {}, {}
        for path in paths:
            text = basic_source(path.read_text(encoding="utf-8"))
            self.basic.insertByName(path.stem, text)
            self.modules[path.stem] = text
        self._wrap_all()

    def invoke(self, name, *args):
        """(result, {argument index: value it was given back}) of Module.Proc called with args.
        A Basic error the procedure does not handle itself raises BasicError: through the
        script provider it would give an empty answer, which could pass for a real one."""
        if name not in self.wrapped:
            raise BasicError("%s: no such procedure, or one whose parameters UNO cannot carry" % name)
        script = self.scripts.get(name)
        if script is None:
            script = self.office.provider.getScript(
                "vnd.sun.star.script:%s.%s.%s?language=Basic&location=application"
                % (self.name, WRAPPERS, self.wrapped[name]))
            self.scripts[name] = script
        answer, indices, values = script.invoke(tuple(_numbers(a) for a in args), (), ())
        if not isinstance(answer, tuple):
            # The wrapper did not run at all: Basic compiles a library whole, and one module
            # it cannot read (a VBA word it keeps, say) leaves every procedure answering nothing.
            raise BasicError("%s: nothing ran; a module of the library %s does not compile in LibreOffice Basic"
                             % (name, self.name))
        problem, *result = answer
        if problem:
            raise BasicError("%s: %s" % (name, problem))
        return (result[0] if result else None), dict(zip(indices, values))

    def _wrap_all(self):
        """One module of wrappers, made once: adding a module later compiles the library again
        and so forgets every module's variables (the self-test's bound names among them). Each
        wrapper has its procedure's own parameter list and calls it with them, so that the
        arguments are converted as the procedure declares them and what it gives back through
        a ByRef parameter comes back too; it answers Array("", result) or Array(the error)."""
        lines = ["Option VBASupport 1", "Option Explicit"]
        self.wrapped = {}
        for module, text in self.modules.items():
            if re.search(r"(?im)^option classmodule", text):
                continue
            for found in re.finditer(r"(?im)^[ \t]*(?:public |private )?(sub|function) (\w+)\(((?:[^()\n]|\(\))*)\)",
                                     text.replace(" _\n", " ")):
                kind, proc, params = found.group(1).lower(), found.group(2), found.group(3).strip()
                if any(t.lower() not in SIMPLE_TYPES for t in re.findall(r"(?i)\bas (\w+)", params)):
                    continue  # a record or an object of PowerPoint's: tested through ScbtChecks
                params = [p.strip() for p in params.split(",")] if params else []
                names = [re.sub(r"(?i)^(optional |byval |byref )*", "", p).split()[0].rstrip("()") for p in params]
                optional = [p.lower().startswith("optional") for p in params]
                wrapper = "T_%s_%s" % (module, proc)
                # A missing optional argument is left out of the call (Basic will not pass one on).
                own = [("Optional %s As Variant" % n) if o else p for p, n, o in zip(params, names, optional)]
                lines += ["Public Function %s(%s) As Variant" % (wrapper, ", ".join(own)), "    On Error GoTo Failed"]
                first_optional = optional.index(True) if True in optional else len(names)
                for given in range(len(names), first_optional - 1, -1):
                    target = "%s.%s(%s)" % (module, proc, ", ".join(names[:given]))
                    call = ("Call %s: %s = Array(\"\")" % (target, wrapper) if kind == "sub" else
                            "%s = Array(\"\", %s)" % (wrapper, target))
                    if given > first_optional:
                        lines += ["    If Not IsMissing(%s) Then" % names[given - 1], "        " + call,
                                  "        Exit Function", "    End If"]
                    else:
                        lines += ["    " + call]
                lines += ["    Exit Function",
                          "Failed:",
                          "    %s = Array(Err.Description & \" (error \" & Err.Number & \")\")" % wrapper,
                          "End Function"]
                self.wrapped["%s.%s" % (module, proc)] = wrapper
        self.basic.insertByName(WRAPPERS, "\n".join(lines))

    def call(self, name, *args):
        return self.invoke(name, *args)[0]


class Office:
    """The soffice process, with the add-in's library (Office.library(), or call and invoke
    straight on the Office) and any others the test loads into it."""

    def __init__(self, extra_modules=()):
        self.dir = tempfile.mkdtemp(prefix="scribbet-basic-")
        self.pipe = "scribbet_basic_%d_%s" % (os.getpid(), os.path.basename(self.dir))
        self.proc = None
        try:
            self._connect()
            smgr = self.ctx.ServiceManager
            self.libraries = smgr.createInstanceWithContext(
                "com.sun.star.script.ApplicationScriptLibraryContainer", self.ctx)
            self.provider = smgr.createInstanceWithContext(
                "com.sun.star.script.provider.MasterScriptProviderFactory", self.ctx).createScriptProvider("")
            self.main = self.library(LIBRARY, MODULES, extra_modules)
        except BaseException:
            self.stop()
            raise

    def _start(self):
        self.proc = subprocess.Popen(
            [str(PROGRAM), "-env:UserInstallation=file://" + self.dir + "/profile", "--headless", "--invisible",
             "--norestore", "--nologo", "--nodefault", "--accept=pipe,name=%s;urp;" % self.pipe],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True, preexec_fn=die_with_parent)

    def _connect(self):
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        self._start()
        deadline = time.monotonic() + 60
        while True:
            try:
                self.ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe)
                return
            except Exception:  # noqa: BLE001 - not listening yet
                status = self.proc.poll()
                if status == RESTART:
                    self._start()
                elif status is not None or time.monotonic() > deadline:
                    raise RuntimeError("soffice did not start (exit status %s)" % status)
                time.sleep(0.1)

    def library(self, name, modules, extra_modules=()):
        """A new Basic library `name` of the .bas files in the folder `modules` and of
        `extra_modules`. (LibreOffice Basic reads no #If: both branches of one run.)"""
        return Library(self, name, [Path(p) for p in sorted(Path(modules).glob("*.bas"))] +
                       [Path(p) for p in extra_modules])

    def invoke(self, name, *args):
        return self.main.invoke(name, *args)

    def call(self, name, *args):
        return self.main.call(name, *args)

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except OSError:
                pass
            self.proc.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)
