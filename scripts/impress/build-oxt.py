#!/usr/bin/env python3
"""Builds build/Scribbet.oxt, the Impress extension, from addin/impress/.

The archive is deterministic (sorted names, fixed times and modes), so the same sources give
the same bytes. The version comes from CMakeLists.txt's `project(Scribbet VERSION x.y.z)` and
is written into description.xml and into the package's version.py (the SCBT_Version answer
and the socket's hello). The toolbar's icons are drawn here, small PNGs, so the repository
holds no binary files for them.

    scripts/impress/build-oxt.py [--out PATH]
"""

import argparse
import io
import math
import os
import re
import struct
import sys
import zipfile
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SOURCE = os.path.join(ROOT, "addin", "impress")
STAMP = (1980, 1, 1, 0, 0, 0)
SKIP_DIRS = {"__pycache__"}
SKIP_FILES = {"README.md"}


def project_version(cmake_text):
    """x.y.z from `project(Scribbet VERSION x.y.z ...)`; raises ValueError when absent."""
    match = re.search(r"project\s*\(\s*Scribbet\b[^)]*?\bVERSION\s+([0-9]+(?:\.[0-9]+)*)",
                      cmake_text, re.IGNORECASE)
    if not match:
        raise ValueError("CMakeLists.txt has no project(Scribbet VERSION x.y.z)")
    return match.group(1)


def stamp_description(text, version):
    """description.xml with its <version value="..."/> set to version."""
    stamped, count = re.subn(r'(<version\s+value=")[^"]*(")', r"\g<1>%s\g<2>" % version, text)
    if count != 1:
        raise ValueError("description.xml must hold exactly one <version value=...>")
    return stamped


def stamp_version_module(text, version):
    """version.py with VERSION set to version."""
    stamped, count = re.subn(r'^VERSION = "[^"]*"$', 'VERSION = "%s"' % version, text,
                             flags=re.MULTILINE)
    if count != 1:
        raise ValueError("version.py must hold exactly one VERSION line")
    return stamped


# -- icons ----------------------------------------------------------------------------------
def _png(size, pixels):
    raw = b"".join(b"\0" + bytes(pixels[y * size * 4:(y + 1) * size * 4]) for y in range(size))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    head = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def _distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length = dx * dx + dy * dy
    t = 0 if length == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def _ellipse_distance(px, py, cx, cy, rx, ry):
    # Distance to the ellipse's outline, near enough for an icon.
    nx, ny = (px - cx) / rx, (py - cy) / ry
    r = math.hypot(nx, ny)
    return abs(r - 1) * min(rx, ry)


def _shapes(name):
    """The icon's strokes in a 0..1 square: (kind, parameters, width, colour)."""
    ink, accent = (40, 40, 40), (30, 110, 220)
    if name == "pen":
        return [("path", [(0.15, 0.8), (0.35, 0.45), (0.55, 0.6), (0.85, 0.2)], 0.09, accent)]
    if name == "highlighter":
        return [("path", [(0.15, 0.7), (0.85, 0.3)], 0.22, (250, 210, 0))]
    if name == "line":
        return [("path", [(0.15, 0.85), (0.85, 0.15)], 0.08, ink)]
    if name == "rectangle":
        return [("path", [(0.15, 0.25), (0.85, 0.25), (0.85, 0.75), (0.15, 0.75), (0.15, 0.25)],
                 0.08, ink)]
    if name == "ellipse":
        return [("ellipse", (0.5, 0.5, 0.36, 0.26), 0.08, ink)]
    if name == "select":
        return [("path", [(0.3, 0.15), (0.3, 0.8), (0.45, 0.65), (0.6, 0.9), (0.68, 0.85),
                          (0.55, 0.6), (0.75, 0.6), (0.3, 0.15)], 0.07, ink)]
    if name == "editpoints":
        return [("path", [(0.15, 0.75), (0.5, 0.25), (0.85, 0.7)], 0.06, ink),
                ("dots", [(0.15, 0.75), (0.5, 0.25), (0.85, 0.7)], 0.12, accent)]
    raise ValueError(name)


def icon(name, size):
    """A size x size RGBA PNG of the tool's icon, antialiased by distance."""
    pixels = bytearray(size * size * 4)
    for kind, params, width, colour in _shapes(name):
        half = width * size / 2
        for y in range(size):
            for x in range(size):
                px, py = x + 0.5, y + 0.5
                if kind == "path":
                    pts = [(a * size, b * size) for a, b in params]
                    d = min(_distance_to_segment(px, py, *pts[i], *pts[i + 1])
                            for i in range(len(pts) - 1))
                elif kind == "ellipse":
                    cx, cy, rx, ry = (v * size for v in params)
                    d = _ellipse_distance(px, py, cx, cy, rx, ry)
                else:
                    d = min(math.hypot(px - a * size, py - b * size) for a, b in params)
                cover = max(0.0, min(1.0, half + 0.5 - d))
                if cover <= 0:
                    continue
                i = (y * size + x) * 4
                old = pixels[i + 3] / 255
                alpha = cover + old * (1 - cover)
                for c in range(3):
                    mixed = colour[c] * cover + pixels[i + c] * old * (1 - cover)
                    pixels[i + c] = int(round(mixed / alpha)) if alpha else 0
                pixels[i + 3] = int(round(alpha * 255))
    return _png(size, pixels)


ICONS = ("pen", "highlighter", "line", "rectangle", "ellipse", "select", "editpoints")


# -- the archive ----------------------------------------------------------------------------
def collect(source=SOURCE):
    """(archive name, bytes) of every source file of the extension, sorted by name."""
    found = []
    for folder, dirs, files in os.walk(source):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS)
        for name in files:
            if name in SKIP_FILES or name.endswith(".pyc"):
                continue
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found.append((os.path.relpath(path, source).replace(os.sep, "/"), f.read()))
    return sorted(found)


def build(out, version, source=SOURCE):
    """Writes the .oxt to out; returns the list of archive names."""
    entries = dict(collect(source))
    entries["description.xml"] = stamp_description(
        entries["description.xml"].decode("utf-8"), version).encode("utf-8")
    key = "pythonpath/scribbet_impress/version.py"
    entries[key] = stamp_version_module(entries[key].decode("utf-8"), version).encode("utf-8")
    for name in ICONS:
        for size in (16, 26):
            entries["icons/%s_%d.png" % (name, size)] = icon(name, size)
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as oxt:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            info.create_system = 3
            oxt.writestr(info, entries[name])
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    tmp = out + ".part"
    with open(tmp, "wb") as f:
        f.write(buffer.getvalue())
    os.replace(tmp, out)
    return sorted(entries)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Builds Scribbet's Impress extension.")
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "Scribbet.oxt"))
    args = parser.parse_args(argv)
    try:
        with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
            version = project_version(f.read())
        names = build(args.out, version)
    except (OSError, ValueError) as e:
        print("build-oxt: %s" % e, file=sys.stderr)
        return 1
    print("%s: Scribbet %s, %d files" % (args.out, version, len(names)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
