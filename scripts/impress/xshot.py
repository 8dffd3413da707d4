"""Reads pixels straight from the X server (libX11 through ctypes), for tests and checks.

The view tests compare the extension's answers with what is really on the screen, so they need
the screen's pixels without ImageMagick or PIL: XGetImage of the root window, read as 24-bit
RGB, and a minimal PNG writer for looking at a failure by eye.
"""

import ctypes
import ctypes.util
import struct
import zlib


class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


_x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
_x.XOpenDisplay.restype = ctypes.c_void_p
_x.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x.XDefaultRootWindow.restype = ctypes.c_ulong
_x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x.XGetImage.restype = ctypes.POINTER(_XImage)
_x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                         ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
# XWindowAttributes holds pointers and longs: a buffer of longs comfortably larger than it;
# the first four ints (x, y, width, height) are all that is read.
_x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
_x.XDestroyImage = None  # a macro in Xlib; the image's own destroy function is used instead
_x.XFree.argtypes = [ctypes.c_void_p]
_x.XCloseDisplay.argtypes = [ctypes.c_void_p]

ALL_PLANES = 0xFFFFFFFF
Z_PIXMAP = 2


class Shot:
    """An RGB picture of part of the screen: pixel(x, y) in screen coordinates."""

    def __init__(self, x, y, width, height, rows):
        self.x, self.y, self.width, self.height = x, y, width, height
        self._rows = rows

    def pixel(self, x, y):
        row = self._rows[y - self.y]
        i = (x - self.x) * 3
        return row[i], row[i + 1], row[i + 2]

    def png(self):
        """The picture as PNG bytes."""
        raw = b"".join(b"\0" + bytes(row) for row in self._rows)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
        head = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw))
                + chunk(b"IEND", b""))


def grab(display, x=0, y=0, width=None, height=None):
    """The screen's pixels in the rectangle (the whole screen when no size is given)."""
    dpy = _x.XOpenDisplay(display.encode())
    if not dpy:
        raise RuntimeError("cannot open X display %s" % display)
    try:
        root = _x.XDefaultRootWindow(dpy)
        if width is None or height is None:
            attrs = (ctypes.c_long * 64)()
            _x.XGetWindowAttributes(dpy, root, attrs)
            ints = ctypes.cast(attrs, ctypes.POINTER(ctypes.c_int))
            width, height = ints[2], ints[3]
        image = _x.XGetImage(dpy, root, x, y, width, height, ALL_PLANES, Z_PIXMAP)
        if not image:
            raise RuntimeError("XGetImage failed")
        img = image.contents
        if img.bits_per_pixel != 32:
            raise RuntimeError("only 32-bit pixels are read (got %d)" % img.bits_per_pixel)
        data = ctypes.string_at(img.data, img.bytes_per_line * height)
        rows = []
        for r in range(height):
            line = data[r * img.bytes_per_line:r * img.bytes_per_line + width * 4]
            rgb = bytearray(width * 3)
            rgb[0::3] = line[2::4]
            rgb[1::3] = line[1::4]
            rgb[2::3] = line[0::4]
            rows.append(rgb)
        _x.XFree(img.data)
        _x.XFree(image)
        return Shot(x, y, width, height, rows)
    finally:
        _x.XCloseDisplay(dpy)
