"""The socket's rules that need no LibreOffice: where it lives, who may use it, how lines are read.

Kept apart from server.py so that each rule can be tested with plain Python: the path chosen
from the environment, the private folder's checks, the peer-credential check, and a line
reader that bounds both the size of a request and the time it may take to arrive.
"""

import json
import os
import socket
import stat
import struct
import time

SOCKET_NAME = "scribbet-impress.sock"
MAX_LINE = 64 * 1024 * 1024
REQUEST_SECONDS = 10.0
MAX_CONNECTIONS = 8
DEFAULT_LIMIT_MS = 5000
MIN_LIMIT_MS = 100
MAX_LIMIT_MS = 300000


class WireError(Exception):
    """A reason to close a connection or to refuse a socket place; its text is a sentence."""


def socket_path(environ=None, uid=None):
    """Where the socket goes: (path, private folder to make or None)."""
    environ = os.environ if environ is None else environ
    uid = os.getuid() if uid is None else uid
    given = environ.get("SCRIBBET_IMPRESS_SOCKET")
    if given:
        return given, None
    runtime = environ.get("XDG_RUNTIME_DIR")
    if runtime:
        return os.path.join(runtime, SOCKET_NAME), None
    folder = os.path.join(environ.get("TMPDIR") or "/tmp", "scribbet-%d" % uid)
    return os.path.join(folder, SOCKET_NAME), folder


def ensure_private_folder(folder, uid=None):
    """Makes folder 0700 or checks that it already is the user's own with mode 0700.

    A folder in a shared /tmp that somebody else made, or that others may enter, could let
    them replace the socket with their own, so it is refused rather than repaired.
    """
    uid = os.getuid() if uid is None else uid
    try:
        os.mkdir(folder, 0o700)
    except FileExistsError:
        pass
    info = os.lstat(folder)
    if not stat.S_ISDIR(info.st_mode):
        raise WireError("%s is not a folder." % folder)
    if info.st_uid != uid:
        raise WireError("%s belongs to another user." % folder)
    if stat.S_IMODE(info.st_mode) != 0o700:
        raise WireError("%s may be used by other users (its mode is not 0700)." % folder)


def peer_uid(sock):
    """The user id of the process at the other end of a Unix socket (SO_PEERCRED)."""
    creds = sock.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
    _pid, uid, _gid = struct.unpack("3i", creds)
    return uid


def peer_allowed(peer, own_uid=None):
    """Only the user who runs soffice may talk to the extension: the socket can move their
    slides, so even root is turned away unless root is the one running soffice."""
    own_uid = os.getuid() if own_uid is None else own_uid
    return peer is not None and peer == own_uid


def clamp_limit(value):
    """The request's "limit" in milliseconds, within the bounds the wire allows."""
    if isinstance(value, bool) or not isinstance(value, (int, float)) or value != value:
        return DEFAULT_LIMIT_MS
    return int(min(max(value, MIN_LIMIT_MS), MAX_LIMIT_MS))


def parse_request(line):
    """The request object of one line, or a sentence saying why it is not one."""
    try:
        text = line.decode("utf-8")
    except UnicodeDecodeError:
        return None, "The request is not UTF-8 text."
    try:
        value = json.loads(text)
    except ValueError:
        return None, "The request is not JSON."
    if not isinstance(value, dict):
        return None, "The request is not a JSON object."
    return value, None


def encode(answer):
    """One answer line: compact JSON, non-ASCII escaped, ended by a line feed."""
    return (json.dumps(answer, separators=(",", ":")) + "\n").encode("ascii")


class LineReader:
    """Reads request lines from a socket within the wire's bounds.

    A line longer than max_line, or one that is not complete within `seconds` of its first
    byte, raises WireError; the caller then closes the connection. Between requests the
    reader waits as long as the client likes (Scribbet keeps connections open).
    """

    def __init__(self, sock, max_line=MAX_LINE, seconds=REQUEST_SECONDS, clock=time.monotonic):
        self._sock = sock
        self._max = max_line
        self._seconds = seconds
        self._clock = clock
        self._buffer = bytearray()
        self._scanned = 0

    def read_line(self):
        """The next line without its "\\n", or None when the client closed between lines."""
        started = self._clock() if self._buffer else None
        while True:
            cut = self._buffer.find(b"\n", self._scanned)
            if cut >= 0:
                line = bytes(self._buffer[:cut])
                del self._buffer[:cut + 1]
                self._scanned = 0
                return line
            self._scanned = len(self._buffer)
            if len(self._buffer) > self._max:
                raise WireError("The request is longer than the wire allows.")
            if started is None:
                self._sock.settimeout(None)
            else:
                left = self._seconds - (self._clock() - started)
                if left <= 0:
                    raise WireError("The request did not arrive in time.")
                self._sock.settimeout(left)
            try:
                chunk = self._sock.recv(min(1 << 20, self._max + 1 - len(self._buffer)))
            except socket.timeout:
                raise WireError("The request did not arrive in time.") from None
            if not chunk:
                if self._buffer:
                    raise WireError("The connection closed in the middle of a request.")
                return None
            if started is None:
                started = self._clock()
            self._buffer += chunk
