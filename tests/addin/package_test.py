#!/usr/bin/env python3
"""The add-in's packaging (scripts/addin/package.py) and its ribbon (addin/powerpoint/customUI/customUI.xml with the
Subs of addin/powerpoint/SCBT_Ribbon.bas). Nothing here runs PowerPoint: the ribbon is checked as files, and the
packager on a presentation that pptxgenjs writes, as a program other than PowerPoint would save it.
Run one class: package_test.py RibbonPackaging (CTest runs each as AddinPackageTest.<class>)."""
import re
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PACKAGER = ROOT / "scripts/addin/package.py"
NPM_DIR = ROOT / "scripts/addin"
CUSTOM_UI = ROOT / "addin/powerpoint/customUI/customUI.xml"
RIBBON_BAS = ROOT / "addin/powerpoint/SCBT_Ribbon.bas"
CT = "{http://schemas.openxmlformats.org/package/2006/content-types}"
RELS = "{http://schemas.openxmlformats.org/package/2006/relationships}"
UI = "{http://schemas.microsoft.com/office/2006/01/customui}"
UI_2006 = "http://schemas.microsoft.com/office/2006/relationships/ui/extensibility"
UI_2007 = "http://schemas.microsoft.com/office/2007/relationships/ui/extensibility"
MAIN = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"
PRESENTATION = "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"
VERSION = re.search(r"project\(Scribbet VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)


def run(*args):
    return subprocess.run([sys.executable, str(PACKAGER), *map(str, args)], capture_output=True, text=True)


def parts(path):
    with zipfile.ZipFile(path) as z:
        return {i.filename: z.read(i) for i in z.infolist()}


def write_zip(path, items):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in items.items():
            z.writestr(name, data)


def rels_xml(*rels):
    body = "".join(f'<Relationship Id="{i}" Type="{t}" Target="{g}"/>' for i, t, g in rels)
    return f'<Relationships xmlns="{RELS[1:-1]}">{body}</Relationships>'


def small_package(main_type=PRESENTATION, extra_rels=(), extra_parts=None, overrides=""):
    """The least a PowerPoint file holds: content types, the root relationships and the main part."""
    items = {"[Content_Types].xml": f'<Types xmlns="{CT[1:-1]}"><Default Extension="rels" ContentType="application/'
                                    f'vnd.openxmlformats-package.relationships+xml"/><Override PartName="/ppt/'
                                    f'presentation.xml" ContentType="{main_type}"/>{overrides}</Types>',
             "_rels/.rels": rels_xml(("rId1", MAIN, "ppt/presentation.xml"), *extra_rels),
             "ppt/presentation.xml": "<p:presentation xmlns:p='urn:x'/>"}
    items.update(extra_parts or {})
    return items


class PackageChecks:
    def assertSoundPackage(self, path):
        with zipfile.ZipFile(path) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(z.infolist()[0].filename, "[Content_Types].xml")
        items = parts(path)
        types = ET.fromstring(items["[Content_Types].xml"])
        defaults = {d.get("Extension").lower(): d.get("ContentType") for d in types.iter(CT + "Default")}
        over = {o.get("PartName").lower(): o.get("ContentType") for o in types.iter(CT + "Override")}
        for name in items:
            if name.endswith("/") or name == "[Content_Types].xml":
                continue
            kind = over.get("/" + name.lower()) or defaults.get(name.rsplit(".", 1)[-1].lower())
            self.assertTrue(kind, f"{name} has no content type")
        self.assertEqual(over.get("/customui/customui.xml") or defaults.get("xml"), "application/xml")
        rels = list(ET.fromstring(items["_rels/.rels"]).iter(RELS + "Relationship"))
        ids = [r.get("Id") for r in rels]
        self.assertEqual(len(ids), len(set(ids)), "relationship ids must be unique")
        ui = [r.get("Target").lstrip("/") for r in rels if r.get("Type") == UI_2006]
        self.assertEqual(ui, ["customUI/customUI.xml"])
        self.assertEqual(items["customUI/customUI.xml"], CUSTOM_UI.read_bytes())
        return items, rels


class RibbonPackaging(unittest.TestCase, PackageChecks):
    """On an ordinary presentation: pptxgenjs from scripts/addin/, installed from its lock file."""

    @classmethod
    def setUpClass(cls):
        stamp, lock = NPM_DIR / "node_modules/.package-lock.json", NPM_DIR / "package-lock.json"
        if not stamp.exists() or lock.stat().st_mtime > stamp.stat().st_mtime:
            # Without npm or the network this fails the class: a skip would pass CI without the check.
            subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"], cwd=NPM_DIR, check=True)
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = Path(cls.tmp.name)
        cls.plain = cls.dir / "plain.pptx"
        subprocess.run(["node", str(ROOT / "tests/addin/make_presentation.mjs"), str(cls.plain)], check=True)
        cls.ribbon = cls.dir / "ribbon.pptx"
        done = run("ribbon", cls.plain, cls.ribbon)
        assert done.returncode == 0, done.stderr

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_the_copy_is_sound_and_keeps_every_other_part_byte_for_byte(self):
        before = parts(self.plain)
        after, rels = self.assertSoundPackage(self.ribbon)
        self.assertEqual(set(after), set(before) | {"customUI/customUI.xml"})
        for name, data in before.items():
            if name != "_rels/.rels":
                self.assertEqual(after[name], data, name)
        old = {(r.get("Id"), r.get("Type"), r.get("Target")) for r in ET.fromstring(before["_rels/.rels"])}
        self.assertEqual({(r.get("Id"), r.get("Type"), r.get("Target")) for r in rels if r.get("Type") != UI_2006}, old)

    def test_running_again_gives_the_same_package_and_in_place_works(self):
        again = self.dir / "again.pptx"
        self.assertEqual(run("ribbon", self.ribbon, again).returncode, 0)
        self.assertEqual(again.read_bytes(), self.ribbon.read_bytes())
        in_place = self.dir / "in-place.pptx"
        in_place.write_bytes(self.plain.read_bytes())
        self.assertEqual(run("ribbon", in_place, in_place).returncode, 0)
        self.assertEqual(in_place.read_bytes(), self.ribbon.read_bytes())

    def test_an_older_ribbon_is_replaced_with_its_part(self):
        items = parts(self.ribbon)
        rels = items["_rels/.rels"]
        items["_rels/.rels"] = rels.replace(b'Target="customUI/customUI.xml"', b'Target="/customUI/old.xml"')
        items["customUI/old.xml"] = b"<customUI xmlns='urn:old'/>"
        items["customUI/_rels/old.xml.rels"] = rels_xml().encode()
        del items["customUI/customUI.xml"]
        older, out = self.dir / "older.pptx", self.dir / "older-out.pptx"
        write_zip(older, items)
        self.assertEqual(run("ribbon", older, out).returncode, 0)
        after, _ = self.assertSoundPackage(out)
        self.assertNotIn("customUI/old.xml", after)
        self.assertNotIn("customUI/_rels/old.xml.rels", after)

    def test_a_changed_tab_replaces_the_part_and_keeps_the_relationship(self):
        items = parts(self.ribbon)
        items["customUI/customUI.xml"] = items["customUI/customUI.xml"].replace(b'label="Pen"', b'label="Old"')
        changed, out = self.dir / "changed.pptx", self.dir / "changed-out.pptx"
        write_zip(changed, items)
        self.assertEqual(run("ribbon", changed, out).returncode, 0)
        after, _ = self.assertSoundPackage(out)
        self.assertEqual(after["_rels/.rels"], items["_rels/.rels"])


class SmallPackages(unittest.TestCase, PackageChecks):
    """Handmade packages for what pptxgenjs does not write, and the files that are refused."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self.tmp.name)
        self.addCleanup(self.tmp.cleanup)

    def package(self, items, name="in.pptx"):
        path = self.dir / name
        write_zip(path, items)
        return path

    def assertRefused(self, source, pattern):
        out = self.dir / "out.pptx"
        done = run("ribbon", source, out)
        self.assertEqual(done.returncode, 1)
        self.assertRegex(done.stderr, r"^package: [^\n]+\.\n$")
        self.assertRegex(done.stderr, pattern)
        self.assertFalse(out.exists())
        self.assertEqual([p.name for p in self.dir.iterdir() if p.name.startswith(".")], [])

    def test_without_an_xml_default_the_tab_gets_an_override_and_a_taken_id_is_not_reused(self):
        taken = ("scribbetRibbon", "http://x/other", "docProps/app.xml")
        source = self.package(small_package(extra_rels=[taken], extra_parts={"docProps/app.xml": "<a/>"},
                                            overrides='<Override PartName="/docProps/app.xml" ContentType="x/y"/>'))
        out = self.dir / "out.pptx"
        done = run("ribbon", source, out)
        self.assertEqual(done.returncode, 0, done.stderr)
        _, rels = self.assertSoundPackage(out)
        self.assertIn(("scribbetRibbon", "http://x/other"), [(r.get("Id"), r.get("Type")) for r in rels])

    def test_what_is_not_a_powerpoint_package_is_refused(self):
        text = self.dir / "notes.pptx"
        text.write_text("not a zip")
        self.assertRefused(text, "not a PowerPoint file")
        self.assertRefused(self.dir / "missing.pptx", "does not exist")
        no_types = small_package()
        del no_types["[Content_Types].xml"]
        self.assertRefused(self.package(no_types), r"no \[Content_Types\]\.xml")
        word = "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"
        self.assertRefused(self.package(small_package(main_type=word)), "not a PowerPoint presentation")
        broken = small_package()
        broken["_rels/.rels"] = "<Relationships"
        self.assertRefused(self.package(broken), "not well-formed")

    def test_a_later_ribbon_that_would_hide_scribbets_is_refused(self):
        later = small_package(extra_rels=[("rIdUI", UI_2007, "customUI/customUI14.xml")],
                              extra_parts={"customUI/customUI14.xml": "<customUI/>"})
        self.assertRefused(self.package(later), "customUI14")

    def test_a_refused_file_leaves_an_existing_copy_alone(self):
        out = self.dir / "out.pptx"
        out.write_bytes(b"keep")
        bad = self.dir / "bad.pptx"
        bad.write_text("x")
        self.assertEqual(run("ribbon", bad, out).returncode, 1)
        self.assertEqual(out.read_bytes(), b"keep")


class RibbonMatchesCallbacks(unittest.TestCase):
    """The tab's buttons, the Subs they name, the tool each sends and the helper it goes through."""
    EXPECTED = {"Pen": "pen", "Highlighter": "highlighter", "Line": "shape:line", "Rectangle": "shape:rect",
                "Ellipse": "shape:ellipse", "Select": "select", "Edit points": "direct"}

    def setUp(self):
        self.ui = ET.parse(CUSTOM_UI).getroot()
        self.bas = RIBBON_BAS.read_bytes().decode("ascii")
        self.subs = dict(re.findall(r"Public Sub (\w+)\(control As IRibbonControl\)\r\n(.*?)End Sub", self.bas, re.S))

    def test_a_scribbet_tab_with_the_seven_buttons_each_on_its_own_sub(self):
        self.assertEqual(self.ui.tag, UI + "customUI")
        tabs = [t for t in self.ui.iter(UI + "tab") if t.get("label") == "Scribbet"]
        self.assertEqual(len(tabs), 1)
        buttons = list(tabs[0].iter(UI + "button"))
        self.assertEqual([b.get("label") for b in buttons], list(self.EXPECTED))
        ids = [e.get("id") for e in self.ui.iter() if e.get("id")]
        self.assertEqual(len(ids), len(set(ids)))
        actions = [b.get("onAction") for b in buttons]
        self.assertEqual(len(set(actions)), 7)
        for button in buttons:
            self.assertIn(button.get("onAction"), self.subs, button.get("label"))

    def test_each_button_sends_its_tool_and_every_link_tool_has_a_button(self):
        sent = {}
        for button in self.ui.iter(UI + "button"):
            found = re.findall(r'^\s*RibbonDraw "([^"]*)"\r$', self.subs[button.get("onAction")], re.M)
            self.assertEqual(len(found), 1, button.get("label"))
            sent[button.get("label")] = found[0]
        self.assertEqual(sent, self.EXPECTED)
        page = re.search(r"export type ToolName = ([^;]*);", (ROOT / "page/src/tools/names.ts").read_text()).group(1)
        self.assertLessEqual(set(sent.values()), set(re.findall(r"'([^']+)'", page)))
        known = re.search(r"known[^{]*\{([^}]*)\}", (ROOT / "src/app/layer_tool.hpp").read_text()).group(1)
        self.assertLessEqual(set(re.findall(r'"([^"]+)"', known)), set(sent.values()))

    def test_the_module_imports_and_reaches_the_helper_by_its_real_names(self):
        self.assertTrue(self.bas.startswith('Attribute VB_Name = "SCBT_Ribbon"\r\n'))
        self.assertNotRegex(self.bas, r"[^\r]\n")
        self.assertIn("\r\nOption Explicit\r\n", self.bas)
        const = dict(re.findall(r'Private Const (\w+) As String = "([^"]*)"', self.bas))
        # The helper is kept as AppleScript source and compiled to the name the add-in calls.
        compiled = ROOT / "resources" / const["HELPER_SCRIPT"]
        script = next(p for p in (compiled.with_suffix(".applescript"), compiled) if p.exists())
        self.assertRegex(script.read_text(), rf"(?m)^on {const['HELPER_HANDLER']}\(\w+\)$")
        # The page's links go through the same helper.
        pen = (ROOT / "addin/powerpoint/SCBT_Pen.bas").read_text()
        handler = re.search(r'AppleScriptTask "([^"]+)", "(\w+)", address', pen)
        self.assertEqual(handler.group(1), const["HELPER_SCRIPT"])
        self.assertRegex(script.read_text(), rf"(?m)^on {handler.group(2)}\(\w+\)$")
        self.assertIn("AppleScriptTask(HELPER_SCRIPT, HELPER_HANDLER, link)", self.bas)
        link = '"scribbet://draw?g=" & RibbonPercentEncode(geom) & "&tool=" & RibbonPercentEncode(tool)'
        self.assertIn(link, self.bas)
        self.assertIn("SCBT_Pen.SCBT_Geom()", self.bas)


class VersionStamping(unittest.TestCase):
    PEN = (b'Attribute VB_Name = "SCBT_Pen"\r\nOption Explicit\r\n\r\n'
           b'Private Const ADDIN_VERSION As String = "dev"\r\n'
           b'Private Const UPGRADE_ADDRESS As String = ""\r\nPrivate Const SUPPORT_ADDRESS As String = ""\r\n'
           b'\r\nPublic Function SCBT_Version() As String\r\n'
           b'    SCBT_Version = "OK|" & ADDIN_VERSION\r\nEnd Function\r\n')

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.src, self.out = Path(self.tmp.name, "src"), Path(self.tmp.name, "out")
        self.src.mkdir()
        (self.src / "SCBT_Pen.bas").write_bytes(self.PEN)
        (self.src / "SCBT_Ribbon.bas").write_bytes(b"ribbon\r\n")
        (self.src / "contract.cases").write_bytes(b"case\tx\n")

    def stamped(self, version=VERSION, upgrade=None, support=None):
        sys.path.insert(0, str(ROOT / "scripts/addin"))
        import package
        upgrade = package.LINK_ADDRESSES["upgrade"] if upgrade is None else upgrade
        support = package.LINK_ADDRESSES["support"] if support is None else support
        return (self.PEN.replace(b'"dev"', f'"{version}"'.encode())
                .replace(b'UPGRADE_ADDRESS As String = ""', f'UPGRADE_ADDRESS As String = "{upgrade}"'.encode())
                .replace(b'SUPPORT_ADDRESS As String = ""', f'SUPPORT_ADDRESS As String = "{support}"'.encode()))

    def test_only_the_version_and_address_lines_change(self):
        done = run("modules", self.out, "--from", self.src)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(sorted(p.name for p in self.out.iterdir()), ["SCBT_Pen.bas", "SCBT_Ribbon.bas"])
        self.assertEqual((self.out / "SCBT_Pen.bas").read_bytes(), self.stamped())
        self.assertEqual((self.out / "SCBT_Ribbon.bas").read_bytes(), b"ribbon\r\n")
        again = Path(self.tmp.name, "again")
        self.assertEqual(run("modules", again, "--from", self.out).returncode, 0)
        self.assertEqual((again / "SCBT_Pen.bas").read_bytes(), (self.out / "SCBT_Pen.bas").read_bytes())

    def test_a_quote_in_the_version_is_doubled_for_vba(self):
        self.assertEqual(run("modules", self.out, "--from", self.src, "--version", '1.0 "b"').returncode, 0)
        self.assertIn(b'= "1.0 ""b"""\r\n', (self.out / "SCBT_Pen.bas").read_bytes())

    def test_the_links_lead_to_real_pages_that_one_run_may_change(self):
        sys.path.insert(0, str(ROOT / "scripts/addin"))
        import package
        self.assertEqual(set(package.LINK_ADDRESSES), {"upgrade", "support"})
        for address in package.LINK_ADDRESSES.values():
            self.assertRegex(address, r"^https://[a-z0-9.-]+\.[a-z]{2,}/\S+$")
        done = run("modules", self.out, "--from", self.src, "--support", "https://example.org/help", "--upgrade", "")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual((self.out / "SCBT_Pen.bas").read_bytes(),
                         self.stamped(upgrade="", support="https://example.org/help"))

    def test_an_address_the_add_in_would_not_open_is_refused(self):
        for bad in ("file:///etc/passwd", "https://a b.example", 'https://a".example', "example.org",
                    "https://caf\u00e9.example", "javascript:alert(1)"):
            done = run("modules", self.out, "--from", self.src, "--upgrade", bad)
            self.assertEqual(done.returncode, 1, bad)
            self.assertRegex(done.stderr, r"^package: The upgrade address [^\n]+ is not a web page [^\n]+\.\n$")
            self.assertFalse(self.out.exists(), bad)

    def test_a_module_without_exactly_one_version_line_is_refused(self):
        for text in (self.PEN.replace(b"ADDIN_VERSION As", b"OTHER As"), self.PEN + self.PEN.splitlines(True)[3],
                     self.PEN.replace(b"SUPPORT_ADDRESS As", b"OTHER As"), self.PEN + self.PEN.splitlines(True)[4]):
            (self.src / "SCBT_Pen.bas").write_bytes(text)
            done = run("modules", self.out, "--from", self.src)
            self.assertEqual(done.returncode, 1)
            self.assertRegex(done.stderr, r"^package: [^\n]+\.\n$")
            self.assertFalse(self.out.exists())

    def test_the_add_ins_own_modules_take_the_version(self):
        if not (ROOT / "addin/powerpoint/SCBT_Pen.bas").exists():
            self.skipTest("addin/powerpoint/SCBT_Pen.bas is not in this tree yet")
        self.assertEqual(run("modules", self.out).returncode, 0)
        self.assertIn(f'Private Const ADDIN_VERSION As String = "{VERSION}"\r\n'.encode(),
                      (self.out / "SCBT_Pen.bas").read_bytes())
        self.assertNotIn(b'_ADDRESS As String = ""', (self.out / "SCBT_Pen.bas").read_bytes())
        self.assertTrue((self.out / "SCBT_Ribbon.bas").exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
