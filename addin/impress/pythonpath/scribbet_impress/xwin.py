"""Where an X window really is: libX11 through ctypes, inside soffice.

Under a window manager LibreOffice's own screen positions are wrong until the first input
event reaches the window (they leave out the decorations' offset, 25 px on openbox), so every
answer is checked against the X server itself: the frame window's origin from
XTranslateCoordinates, compared with what LibreOffice says of the same window.

The calls use a display connection of the extension's own, made on the main thread and used
only there. X errors are caught by a handler of ours that is set only around each call (the
main thread holds LibreOffice's SolarMutex then, so no other LibreOffice thread is talking to
X): Xlib's default handler would end the whole process on an error such as a window that is
already gone.
"""

import ctypes
import ctypes.util

_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class XWindows:
    """Reads X window positions; every method answers None when X cannot tell."""

    def __init__(self, display_name=None):
        self._lib = None
        self._dpy = None
        self._display_name = display_name
        self._failed = False
        self._errors = 0
        self._handler = _ERROR_HANDLER(self._on_error)

    def _on_error(self, _dpy, _event):
        self._errors += 1
        return 0

    def _open(self):
        if self._dpy or self._failed:
            return self._dpy
        try:
            lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
            lib.XOpenDisplay.restype = ctypes.c_void_p
            lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
            lib.XDefaultRootWindow.restype = ctypes.c_ulong
            lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            lib.XTranslateCoordinates.argtypes = [
                ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                ctypes.POINTER(ctypes.c_ulong)]
            lib.XGetGeometry.argtypes = [
                ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                ctypes.POINTER(ctypes.c_uint), ctypes.POINTER(ctypes.c_uint),
                ctypes.POINTER(ctypes.c_uint), ctypes.POINTER(ctypes.c_uint)]
            lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            lib.XSetErrorHandler.restype = ctypes.c_void_p
            lib.XSetErrorHandler.argtypes = [ctypes.c_void_p]
            name = self._display_name.encode() if self._display_name else None
            dpy = lib.XOpenDisplay(name)
            if not dpy:
                self._failed = True
                return None
            self._lib, self._dpy = lib, dpy
        except OSError:
            self._failed = True
        return self._dpy

    def rect(self, xid):
        """(x, y, w, h) of window xid on the root window, or None."""
        if not xid or not self._open():
            return None
        lib, dpy = self._lib, self._dpy
        previous = lib.XSetErrorHandler(ctypes.cast(self._handler, ctypes.c_void_p))
        errors = self._errors
        try:
            x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
            root = lib.XDefaultRootWindow(dpy)
            ok = lib.XTranslateCoordinates(dpy, xid, root, 0, 0, ctypes.byref(x),
                                           ctypes.byref(y), ctypes.byref(child))
            r, gx, gy = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_int()
            w, h, border, depth = (ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint(),
                                   ctypes.c_uint())
            ok = ok and lib.XGetGeometry(dpy, xid, ctypes.byref(r), ctypes.byref(gx),
                                         ctypes.byref(gy), ctypes.byref(w), ctypes.byref(h),
                                         ctypes.byref(border), ctypes.byref(depth))
            lib.XSync(dpy, 0)
        finally:
            lib.XSetErrorHandler(previous)
        if not ok or self._errors != errors:
            return None
        return x.value, y.value, w.value, h.value
