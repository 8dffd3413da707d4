#!/usr/bin/env python3
"""Scribbet.app as the Mac build makes it: the link line names every framework the glue calls,
cmake/BundleLibraries.cmake copies what the program links into the bundle, points it there and
signs inside out, and scripts/mac/check-bundle.sh refuses a bundle that loads anything from
outside. Nothing here can run Apple's tools, so CMake's script runs for real against stand-ins
for otool, install_name_tool and codesign that answer from a table of made-up Mach-O files."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import textwrap
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
MAC_CMAKE = (ROOT / "cmake/MacBundle.cmake").read_text()

# A stand-in for otool: `-l` prints load commands as CMake's dependency reader expects them,
# `-L` the install names; both from $TABLE, keyed by file name. It answers what a file holds
# now: install_name_tool's stand-in writes its changes back into the table.
OTOOL = r'''#!/usr/bin/env python3
import json, os, sys
table = json.load(open(os.environ["TABLE"]))
flag, path = sys.argv[1], sys.argv[2]
entry = table[os.path.basename(path)]
print(path + ":")
if flag == "-l":
    n = 0
    for rpath in entry.get("rpaths", []):
        print(f"Load command {n}\n          cmd LC_RPATH\n      cmdsize 32\n         path {rpath} (offset 12)"); n += 1
    for name in entry["loads"]:
        print(f"Load command {n}\n          cmd LC_LOAD_DYLIB\n      cmdsize 56\n         name {name} (offset 24)"); n += 1
else:
    for name in ([entry["id"]] if "id" in entry else []) + entry["loads"]:
        print(f"\t{name} (compatibility version 1.0.0, current version 1.0.0)")
'''
INSTALL_NAME_TOOL = r'''#!/usr/bin/env python3
import json, os, sys
args, path = sys.argv[1:-1], sys.argv[-1]
with open(os.environ["CALLS"], "a") as f:
    f.write(json.dumps(["install_name_tool"] + sys.argv[1:]) + "\n")
table = json.load(open(os.environ["TABLE"]))
entry = table[os.path.basename(path)]
i = 0
while i < len(args):
    if args[i] == "-id":
        entry["id"] = args[i + 1]; i += 2
    elif args[i] == "-change":
        entry["loads"] = [args[i + 2] if n == args[i + 1] else n for n in entry["loads"]]; i += 3
    else:
        sys.exit("unknown option " + args[i])
json.dump(table, open(os.environ["TABLE"], "w"))
'''
RECORDER = r'''#!/usr/bin/env python3
import json, os, sys
with open(os.environ["CALLS"], "a") as f:
    f.write(json.dumps([os.path.basename(sys.argv[0])] + sys.argv[1:]) + "\n")
sys.exit(int(os.environ.get("FAIL_" + os.path.basename(sys.argv[0]).upper(), "0")))
'''


class Mac:
    """A made-up Mac in a temporary folder: Homebrew's libraries, a built bundle, the tools."""

    def __init__(self, tmp):
        self.tmp = Path(tmp)
        self.tools = self.tmp / "tools"
        self.tools.mkdir()
        for name, text in [("otool", OTOOL), ("install_name_tool", INSTALL_NAME_TOOL), ("codesign", RECORDER),
                           ("ditto", RECORDER)]:
            (self.tools / name).write_text(text)
            (self.tools / name).chmod(0o755)
        self.calls = self.tmp / "calls"
        self.calls.touch()
        self.table_file = self.tmp / "table.json"
        brew = self.tmp / "brew"
        # Homebrew's opt/ names are links into the Cellar, and its libraries are read-only.
        cellar = brew / "Cellar/uriparser/0.9.8/lib"
        cellar.mkdir(parents=True)
        (cellar / "liburiparser.1.dylib").write_bytes(b"uriparser code")
        (cellar / "liburiparser.1.dylib").chmod(0o444)
        (brew / "opt/uriparser").mkdir(parents=True)
        (brew / "opt/uriparser/lib").symlink_to(cellar)
        utf8 = brew / "opt/utf8proc/lib"
        utf8.mkdir(parents=True)
        (utf8 / "libutf8proc.3.dylib").write_bytes(b"utf8proc code")
        (utf8 / "libextra.1.dylib").write_bytes(b"extra code")
        self.uriparser = f"{brew}/opt/uriparser/lib/liburiparser.1.dylib"
        self.utf8proc = f"{utf8}/libutf8proc.3.dylib"
        self.app = self.tmp / "build/Scribbet.app"
        (self.app / "Contents/MacOS").mkdir(parents=True)
        self.exe = self.app / "Contents/MacOS/Scribbet"
        self.exe.write_bytes(b"program")
        self.table = {
            "Scribbet": {"loads": [self.uriparser, self.utf8proc, "/usr/lib/libc++.1.dylib",
                                   "/System/Library/Frameworks/AppKit.framework/Versions/C/AppKit"]},
            "liburiparser.1.dylib": {"id": self.uriparser, "loads": ["/usr/lib/libSystem.B.dylib"]},
            # utf8proc finds a library of its own through its run path, as some Homebrew libraries do.
            "libutf8proc.3.dylib": {"id": self.utf8proc, "rpaths": ["@loader_path"],
                                    "loads": ["@rpath/libextra.1.dylib", "/usr/lib/libSystem.B.dylib"]},
            "libextra.1.dylib": {"id": "@rpath/libextra.1.dylib", "loads": ["/usr/lib/libSystem.B.dylib"]},
        }
        self.save()

    def save(self):
        self.table_file.write_text(json.dumps(self.table))

    def env(self, **extra):
        return dict(os.environ, PATH=f"{self.tools}:{os.environ['PATH']}", TABLE=str(self.table_file),
                    CALLS=str(self.calls), **extra)

    def bundle(self, identity=None):
        args = ["cmake", f"-DAPP={self.app}", f"-DEXECUTABLE={self.exe}", "-DENTITLEMENTS=ents.plist",
                "-DCMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM=macos+macho",
                "-DCMAKE_GET_RUNTIME_DEPENDENCIES_TOOL=otool",
                f"-DCMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND={self.tools / 'otool'}"]
        if identity:
            args.append(f"-DIDENTITY={identity}")
        return subprocess.run(args + ["-P", str(ROOT / "cmake/BundleLibraries.cmake")], env=self.env(),
                              capture_output=True, text=True)

    def check(self, **extra):
        return subprocess.run([ROOT / "scripts/mac/check-bundle.sh", self.app, self.tmp / "Scribbet.zip"],
                              env=self.env(**extra), capture_output=True, text=True)

    def recorded(self, tool):
        return [c[1:] for c in map(json.loads, self.calls.read_text().splitlines()) if c[0] == tool]

    def loads(self, name):
        return json.loads(self.table_file.read_text())[name]


class TheLinkLineNamesWhatTheGlueCalls(unittest.TestCase):
    def test_every_framework_the_objective_c_sources_call_into_is_linked(self):
        line = re.search(r"target_link_libraries\(scribbet_app PRIVATE(.*?)\)", MAC_CMAKE, re.S).group(1)
        linked = set(re.findall(r'"-framework (\w+)"', line)) | set(re.findall(r"\bobjc\b", line))
        sources = list((ROOT / "src/adapters/mac").glob("*.mm")) + [ROOT / "src/main/mac_main.mm"]
        text = "\n".join(p.read_text() for p in sources)
        needs = {r"\bNS[A-Z]\w+": {"AppKit", "Foundation"}, r"\bCF[A-Z]\w+": {"CoreFoundation"},
                 r"\bAX[A-Z]\w+": {"ApplicationServices"}, r"\bCG[A-Z]\w+": {"CoreGraphics"},
                 r"\bWK[A-Z]\w+": {"WebKit"}, r"\bkAE\w+": {"Carbon"}}
        for pattern, frameworks in needs.items():
            if re.search(pattern, text):
                self.assertLessEqual(frameworks, linked, pattern)
        self.assertIn("objc", linked)  # the runtime Objective-C++ calls into, which Xcode links itself

    def test_the_bundle_is_made_whole_after_every_link_and_entitlements_keep_library_validation(self):
        post_build = re.search(r"add_custom_command\(TARGET scribbet_app POST_BUILD(.*?)VERBATIM\)", MAC_CMAKE, re.S)
        self.assertIn("cmake/BundleLibraries.cmake", post_build.group(1))
        self.assertNotRegex(MAC_CMAKE, r"COMMAND codesign")  # one place signs, inside out
        import plistlib
        with open(ROOT / "resources/mac/Scribbet.entitlements", "rb") as f:
            self.assertNotIn("com.apple.security.cs.disable-library-validation", plistlib.load(f))


class TheBundleHoldsWhatItLinks(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.mac = Mac(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()

    def test_libraries_are_copied_pointed_at_and_signed_before_the_bundle(self):
        (self.mac.app / "Contents/Frameworks").mkdir()
        (self.mac.app / "Contents/Frameworks/libold.dylib").write_bytes(b"left by an older build")
        done = self.mac.bundle()
        self.assertEqual(done.returncode, 0, done.stderr)
        frameworks = self.mac.app / "Contents/Frameworks"
        self.assertEqual(sorted(p.name for p in frameworks.iterdir()),
                         ["libextra.1.dylib", "liburiparser.1.dylib", "libutf8proc.3.dylib"])
        # The library itself, not Homebrew's link to it, and writable for install_name_tool.
        copy = frameworks / "liburiparser.1.dylib"
        self.assertFalse(copy.is_symlink())
        self.assertEqual(copy.read_bytes(), b"uriparser code")
        self.assertTrue(os.access(copy, os.W_OK))

        inside = "@executable_path/../Frameworks/"
        self.assertEqual(self.mac.loads("Scribbet")["loads"][:2],
                         [inside + "liburiparser.1.dylib", inside + "libutf8proc.3.dylib"])
        self.assertEqual(self.mac.loads("Scribbet")["loads"][2:], self.mac.table["Scribbet"]["loads"][2:])
        self.assertEqual(self.mac.loads("libutf8proc.3.dylib")["loads"][0], inside + "libextra.1.dylib")
        for name in ("liburiparser.1.dylib", "libutf8proc.3.dylib", "libextra.1.dylib"):
            self.assertEqual(self.mac.loads(name)["id"], inside + name)

        signed = self.mac.recorded("codesign")
        self.assertEqual(signed[-1][-1], str(self.mac.app))  # the bundle last, sealing the rest
        self.assertEqual(sorted(Path(c[-1]).name for c in signed[:-1]),
                         ["libextra.1.dylib", "liburiparser.1.dylib", "libutf8proc.3.dylib"])
        self.assertIn("--entitlements", signed[-1])
        self.assertTrue(all("--deep" not in c for c in signed))
        # Ad hoc: no Team ID, so no hardened runtime, whose library validation would refuse the copies.
        self.assertTrue(all(c[c.index("--sign") + 1] == "-" and "runtime" not in c for c in signed))

        checked = self.mac.check()
        self.assertEqual(checked.returncode, 0, checked.stderr)
        self.assertEqual(self.mac.recorded("codesign")[-1], ["--verify", "--deep", "--strict", "--verbose=2",
                                                             str(self.mac.app)])
        self.assertEqual(self.mac.recorded("ditto")[-1][-2:], [str(self.mac.app), str(self.mac.tmp / "Scribbet.zip")])

    def test_a_developer_id_signs_everything_with_the_hardened_runtime(self):
        identity = "Developer ID Application: Tarnwell (ABCDE12345)"
        done = self.mac.bundle(identity)
        self.assertEqual(done.returncode, 0, done.stderr)
        signed = self.mac.recorded("codesign")
        self.assertEqual(len(signed), 4)
        for call in signed:
            self.assertEqual(call[call.index("--sign") + 1], identity)
            self.assertEqual(call[call.index("--options") + 1], "runtime")

    def test_a_library_that_is_not_there_stops_the_build_with_its_name(self):
        os.remove(self.mac.utf8proc)
        done = self.mac.bundle()
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("libutf8proc.3.dylib", done.stderr)
        self.assertEqual(self.mac.recorded("codesign"), [])  # nothing half-made is signed

    def test_the_check_refuses_a_bundle_that_loads_from_outside(self):
        self.assertEqual(self.mac.bundle().returncode, 0)
        table = json.loads(self.mac.table_file.read_text())
        table["Scribbet"]["loads"].append("/opt/homebrew/lib/libcairo.2.dylib")
        self.mac.table_file.write_text(json.dumps(table))
        checked = self.mac.check()
        self.assertNotEqual(checked.returncode, 0)
        self.assertIn("loads /opt/homebrew/lib/libcairo.2.dylib, outside the bundle", checked.stderr)
        self.assertEqual(self.mac.recorded("ditto"), [])

        table["Scribbet"]["loads"][-1] = "@executable_path/../Frameworks/libgone.dylib"
        self.mac.table_file.write_text(json.dumps(table))
        checked = self.mac.check()
        self.assertNotEqual(checked.returncode, 0)
        self.assertIn("which the bundle does not hold", checked.stderr)

    def test_a_broken_signature_fails_the_check(self):
        self.assertEqual(self.mac.bundle().returncode, 0)
        checked = self.mac.check(FAIL_CODESIGN="1")
        self.assertNotEqual(checked.returncode, 0)
        self.assertEqual(self.mac.recorded("ditto"), [])


class TheWorkflowHandsOutTheCheckedApp(unittest.TestCase):
    def test_the_bundle_is_checked_after_the_build_and_its_zip_uploaded(self):
        import yaml
        steps = yaml.safe_load((ROOT / ".github/workflows/macos.yml").read_text())["jobs"]["build-and-test"]["steps"]
        runs = [s.get("run", "") for s in steps]
        build = runs.index("scripts/mac/run.sh --no-open")
        check = next(i for i, r in enumerate(runs) if r.startswith("scripts/mac/check-bundle.sh"))
        self.assertGreater(check, build)
        zip_path = runs[check].split()[-1]
        upload = next(s for s in steps[check:] if s.get("uses", "").startswith("actions/upload-artifact@"))
        self.assertEqual(upload["with"]["path"], zip_path)


if __name__ == "__main__":
    unittest.main()
