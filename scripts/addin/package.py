#!/usr/bin/env python3
"""Packages Scribbet's add-in for PowerPoint.

  package.py ribbon IN OUT      copy the saved add-in or presentation IN (.ppam, .pptm, .pptx) to OUT
                                with Scribbet's tab (addin/powerpoint/customUI/customUI.xml) in it
  package.py modules OUTDIR     copy the add-in's modules (addin/powerpoint/*.bas) to OUTDIR for File > Import,
                                with SCBT_Pen's ADDIN_VERSION set to Scribbet's version and its link addresses
                                (UPGRADE_ADDRESS, SUPPORT_ADDRESS) to the pages in LINK_ADDRESSES

PowerPoint itself can't take a ribbon from VBA: the tab has to be a part of the saved file, related
from the package's root. Everything else in the file is kept as it is, so running the ribbon step
again on its own output gives the same bytes. Only the standard library is used.
"""
import argparse
import os
import posixpath
import re
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile
import zlib
from pathlib import Path
from xml.sax.saxutils import quoteattr

ROOT = Path(__file__).resolve().parents[2]
CUSTOM_UI = ROOT / "addin/powerpoint/customUI/customUI.xml"
MODULES = ROOT / "addin/powerpoint"

CT_NS = "http://schemas.openxmlformats.org/package/2006/content-types"
RELS_NS = "http://schemas.openxmlformats.org/package/2006/relationships"
OFFICE_DOCUMENT = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"
# customUI/customUI.xml in the 2006 customUI namespace is related with the 2006 type; the 2007 type
# relates the later part (customUI14.xml), which Office shows instead of the 2006 one when both are there.
UI_2006 = "http://schemas.microsoft.com/office/2006/relationships/ui/extensibility"
UI_2007 = "http://schemas.microsoft.com/office/2007/relationships/ui/extensibility"
CUSTOM_UI_NS = "http://schemas.microsoft.com/office/2006/01/customui"
CUSTOM_UI_PART = "customUI/customUI.xml"
CUSTOM_UI_TYPE = "application/xml"
CONTENT_TYPES = "[Content_Types].xml"
ROOT_RELS = "_rels/.rels"
NEW_ID = "scribbetRibbon"

# The main parts of PowerPoint's own kinds of file: presentation, show, template, each with and
# without macros, and the add-in.
PRESENTATION_TYPES = {
    "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml",
    "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml",
    "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml",
    "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml",
    "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml",
    "application/vnd.ms-powerpoint.template.macroEnabled.main+xml",
    "application/vnd.ms-powerpoint.addin.macroEnabled.main+xml",
}

# Where the drawing page's "upgrade" and "support" links lead: the project's release and support pages
# (under the publisher's page the Impress extension names). This is the one place they are set; the
# modules step writes them into SCBT_Pen, whose source leaves them empty.
LINK_ADDRESSES = {
    "upgrade": "https://tarnwell.com/scribbet/releases",
    "support": "https://tarnwell.com/scribbet/support",
}
# SCBT_Pen's constant for each stamped value.
STAMPED = {"version": "ADDIN_VERSION", "upgrade": "UPGRADE_ADDRESS", "support": "SUPPORT_ADDRESS"}
# What the add-in hands to the browser (it checks the same): a web page, written as a link.
WEB_ADDRESS = re.compile(r"https?://[!#-~]+", re.IGNORECASE)


def stamped_line(constant):
    return re.compile(rb'^(\s*Private Const ' + constant.encode() + rb' As String = )"(?:[^"\r\n]|"")*"',
                      re.MULTILINE)


class Refused(Exception):
    """One sentence for the user; the command exits 1 without writing anything."""


def part_name(name):
    """A zip item's part name as content types and relationships spell it, compared without case."""
    return "/" + name.lstrip("/").lower()


class Package:
    def __init__(self, path):
        self.path = path
        try:
            with zipfile.ZipFile(path) as z:
                self.infos = z.infolist()
                names = [i.filename for i in self.infos]
                if len({n.lower() for n in names}) != len(names):
                    raise Refused(f"{path} holds two items of the same name, so it is not a sound Office file.")
                if any(i.flag_bits & 0x1 for i in self.infos):
                    raise Refused(f"{path} is encrypted; save it from PowerPoint without a password first.")
                self.data = {i.filename: z.read(i) for i in self.infos}
        except FileNotFoundError:
            raise Refused(f"{path} does not exist.") from None
        except (zipfile.BadZipFile, zipfile.LargeZipFile, zlib.error, NotImplementedError, EOFError, OSError):
            raise Refused(f"{path} is not a PowerPoint file (an Office Open XML package).") from None
        self.by_part = {part_name(n): n for n in self.data}
        self.types = self._xml(CONTENT_TYPES, CT_NS, "Types")
        self.rels = self._xml(ROOT_RELS, RELS_NS, "Relationships")
        self._check_presentation()

    def _xml(self, name, ns, root):
        item = self.by_part.get(part_name(name))
        if item is None:
            raise Refused(f"{self.path} is not a PowerPoint file (an Office Open XML package): it has no {name}.")
        try:
            tree = ET.fromstring(self.data[item])
        except ET.ParseError as e:
            raise Refused(f"{self.path} is not a sound Office file: its {name} is not well-formed XML ({e}).") from None
        if tree.tag != f"{{{ns}}}{root}":
            raise Refused(f"{self.path} is not a sound Office file: its {name} is not a {root} element.")
        return tree

    def content_type(self, part, ignored=()):
        """The part's content type by the Override elements (but the ignored ones), then the Defaults."""
        for o in self.types.findall(f"{{{CT_NS}}}Override"):
            if o not in ignored and o.get("PartName", "").lower() == part.lower():
                return o.get("ContentType")
        ext = posixpath.splitext(part)[1][1:].lower()
        for d in self.types.findall(f"{{{CT_NS}}}Default"):
            if d.get("Extension", "").lower() == ext:
                return d.get("ContentType")
        return None

    def relationships(self):
        return self.rels.findall(f"{{{RELS_NS}}}Relationship")

    def _check_presentation(self):
        main = [r for r in self.relationships()
                if r.get("Type") == OFFICE_DOCUMENT and r.get("TargetMode") != "External"]
        if len(main) != 1 or self.content_type(target_part(main[0])) not in PRESENTATION_TYPES:
            raise Refused(f"{self.path} is not a PowerPoint presentation or add-in, so its ribbon would have no "
                          "macros to run.")

    def has_macros(self):
        return any(n.endswith("vbaproject.bin") for n in self.by_part)


def target_part(rel):
    """A root relationship's target as a part name: relative targets start from the package's root."""
    return posixpath.normpath("/" + rel.get("Target", "").lstrip("/")).lower()


def add_ribbon(source, dest, custom_ui):
    ui = custom_ui.read_bytes()
    check_custom_ui(ui, custom_ui)
    pkg = Package(source)
    ours = part_name(CUSTOM_UI_PART)
    rels = pkg.relationships()
    if any(r.get("Type") == UI_2007 for r in rels):
        raise Refused(f"{source} already has a ribbon of the later kind (customUI14.xml), which PowerPoint would "
                      "show instead of Scribbet's tab; remove it first.")
    stale = [r for r in rels if r.get("Type") == UI_2006 and target_part(r) != ours]
    kept = [r for r in rels if r not in stale]
    drop = {target_part(r) for r in stale}
    drop |= {posixpath.join(posixpath.dirname(p), "_rels", posixpath.basename(p) + ".rels") for p in set(drop)}

    rels_bytes = pkg.data[pkg.by_part[part_name(ROOT_RELS)]]
    if stale or not any(r.get("Type") == UI_2006 for r in kept):
        extra = [] if any(r.get("Type") == UI_2006 for r in kept) else [
            {"Id": unique_id({r.get("Id") for r in rels}), "Type": UI_2006, "Target": CUSTOM_UI_PART}]
        rels_bytes = write_rels([dict(r.attrib) for r in kept] + extra)

    types_bytes = pkg.data[pkg.by_part[part_name(CONTENT_TYPES)]]
    overrides = pkg.types.findall(f"{{{CT_NS}}}Override")
    gone = [o for o in overrides if o.get("PartName", "").lower() in drop]
    ours_override = [o for o in overrides if o.get("PartName", "").lower() == ours]
    if gone or pkg.content_type(ours) != CUSTOM_UI_TYPE:
        defaults = [dict(d.attrib) for d in pkg.types.findall(f"{{{CT_NS}}}Default")]
        kept_over = [dict(o.attrib) for o in overrides if o not in gone and o not in ours_override]
        if pkg.content_type(ours, ours_override) != CUSTOM_UI_TYPE:
            kept_over.append({"PartName": "/" + CUSTOM_UI_PART, "ContentType": CUSTOM_UI_TYPE})
        types_bytes = write_types(defaults, kept_over)

    write_package(pkg, dest, types_bytes, rels_bytes, ui, drop)
    return pkg


def check_custom_ui(ui, path):
    try:
        tree = ET.fromstring(ui)
    except ET.ParseError as e:
        raise Refused(f"{path} is not well-formed XML ({e}).") from None
    if tree.tag != f"{{{CUSTOM_UI_NS}}}customUI":
        raise Refused(f"{path} is not a customUI element of the 2006 namespace the package relates it as.")


def unique_id(taken):
    n, candidate = 1, NEW_ID
    while candidate in taken:
        n += 1
        candidate = f"{NEW_ID}{n}"
    return candidate


def attrs(pairs):
    return "".join(f" {k}={quoteattr(v)}" for k, v in pairs)


def write_rels(rels):
    order = ("Id", "Type", "Target", "TargetMode")
    lines = [f"<Relationship{attrs((k, r[k]) for k in order if k in r)}/>" for r in rels]
    return xml_doc(f'<Relationships xmlns="{RELS_NS}">' + "".join(lines) + "</Relationships>")


def write_types(defaults, overrides):
    body = "".join(f"<Default{attrs((k, d[k]) for k in ('Extension', 'ContentType') if k in d)}/>" for d in defaults)
    body += "".join(f"<Override{attrs((k, o[k]) for k in ('PartName', 'ContentType') if k in o)}/>" for o in overrides)
    return xml_doc(f'<Types xmlns="{CT_NS}">{body}</Types>')


def xml_doc(text):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n' + text).encode("utf-8")


def write_package(pkg, dest, types_bytes, rels_bytes, ui, drop):
    """[Content_Types].xml first, as Office writes it and as some readers need; then every item in its
    old order with its old name, time and compression; the tab last when it is new."""
    replaced = {part_name(CONTENT_TYPES): types_bytes, part_name(ROOT_RELS): rels_bytes, part_name(CUSTOM_UI_PART): ui}
    infos = sorted(pkg.infos, key=lambda i: part_name(i.filename) != part_name(CONTENT_TYPES))
    dest = Path(dest)
    fd, tmp = tempfile.mkstemp(prefix=".scribbet-", suffix=".tmp", dir=dest.parent)
    try:
        with os.fdopen(fd, "wb") as f, zipfile.ZipFile(f, "w") as out:
            for info in infos:
                name = part_name(info.filename)
                if name in drop:
                    continue
                out.writestr(copy_info(info), replaced.get(name, pkg.data[info.filename]))
            if part_name(CUSTOM_UI_PART) not in pkg.by_part:
                item = zipfile.ZipInfo(CUSTOM_UI_PART, date_time=(1980, 1, 1, 0, 0, 0))
                item.compress_type = zipfile.ZIP_DEFLATED
                item.external_attr = 0o644 << 16
                out.writestr(item, ui)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)  # mkstemp's 0600 would hide the copy from other users
        os.replace(tmp, dest)
    except BaseException:
        os.unlink(tmp)
        raise


def copy_info(info):
    item = zipfile.ZipInfo(info.filename, date_time=info.date_time)
    item.compress_type = info.compress_type
    item.external_attr = info.external_attr
    item.create_system = info.create_system
    item.comment = info.comment
    return item


def project_version(root=ROOT):
    match = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9][0-9A-Za-z.+-]*)", (root / "CMakeLists.txt").read_text())
    if not match:
        raise Refused(f"{root / 'CMakeLists.txt'} names no project version.")
    return match.group(1)


def stamp_modules(source, dest, version, links=None):
    """Copies every importable module; SCBT_Pen's ADDIN_VERSION line gets the version and its two address
    lines the link addresses (LINK_ADDRESSES unless `links` says otherwise), the rest of every file (its
    CRLF line ends included) stays byte for byte."""
    links = {**LINK_ADDRESSES, **(links or {})}
    for link, address in links.items():
        if address and not WEB_ADDRESS.fullmatch(address):
            raise Refused(f"The {link} address {address!r} is not a web page (http or https, no blanks, quotes "
                          "or characters outside ASCII), so the add-in would not open it.")
    modules = sorted(p for p in Path(source).iterdir() if p.suffix.lower() in (".bas", ".cls", ".frm", ".frx"))
    pen = Path(source) / "SCBT_Pen.bas"
    if not pen.is_file():
        raise Refused(f"{pen} is missing, so there is no add-in version to set.")
    stamped = pen.read_bytes()
    for key, value in {"version": version, **links}.items():
        line = stamped_line(STAMPED[key])
        found = line.findall(stamped)
        if len(found) != 1:
            raise Refused(f"{pen} must hold exactly one line 'Private Const {STAMPED[key]} As String = \"...\"' "
                          f"(found {len(found)}).")
        literal = '"' + value.replace('"', '""') + '"'
        stamped = line.sub(lambda m: m.group(1) + literal.encode(), stamped)
    dest = Path(dest)
    dest.mkdir(parents=True, exist_ok=True)
    for module in modules:
        (dest / module.name).write_bytes(stamped if module == pen else module.read_bytes())
    return [m.name for m in modules]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    steps = parser.add_subparsers(dest="step", required=True)
    ribbon = steps.add_parser("ribbon", help="copy IN to OUT with Scribbet's tab in it")
    ribbon.add_argument("source", metavar="IN")
    ribbon.add_argument("dest", metavar="OUT")
    ribbon.add_argument("--custom-ui", type=Path, default=CUSTOM_UI, help="the tab's XML (default: %(default)s)")
    modules = steps.add_parser("modules", help="copy the modules to OUTDIR with Scribbet's version in SCBT_Pen")
    modules.add_argument("dest", metavar="OUTDIR")
    modules.add_argument("--from", dest="source", type=Path, default=MODULES, help="(default: %(default)s)")
    modules.add_argument("--version", help="(default: the version in CMakeLists.txt)")
    for link, address in LINK_ADDRESSES.items():
        modules.add_argument(f"--{link}", metavar="URL", help=f"the {link} link's page (default: {address})")
    args = parser.parse_args(argv)
    try:
        if args.step == "ribbon":
            pkg = add_ribbon(args.source, args.dest, args.custom_ui)
            print(f"package: wrote {args.dest} with Scribbet's tab")
            if not pkg.has_macros():
                print(f"package: note: {args.source} holds no macros; the buttons run the modules of the add-in "
                      "saved as .ppam from PowerPoint", file=sys.stderr)
        else:
            version = args.version or project_version()
            links = {link: getattr(args, link) for link in LINK_ADDRESSES if getattr(args, link) is not None}
            names = stamp_modules(args.source, args.dest, version, links)
            print(f"package: wrote {len(names)} modules to {args.dest}, version {version}")
    except Refused as e:
        print(f"package: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"package: could not write {args.dest}: {e.strerror or e}.", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
