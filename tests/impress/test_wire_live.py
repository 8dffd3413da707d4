"""The wire against the real soffice: every request form, the watch stream, and the bounds
that keep a bad or hostile client from holding anything up (bad lines, lines too long or too
slow, too many connections, another user).

Runs in soffice under Xvfb through the shared fixture (scripts/impress/session.py).
"""

import json
import os
import socket
import subprocess
import sys
import threading
import time
import unittest

import _paths

sys.path.insert(0, os.path.join(_paths.ROOT, "scripts", "impress"))
sys.path.insert(0, _paths.PYTHONPATH)

from scribbet_impress import wire  # noqa: E402

NOBODY = 65534


def closed_by_peer(client, seconds):
    """True when the extension closes client's connection within seconds."""
    client.sock.settimeout(seconds)
    try:
        while True:
            if not client.sock.recv(65536):
                return True
    except (ConnectionResetError, BrokenPipeError):
        return True
    except socket.timeout:
        return False


class WireCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import session
        cls.session = session.shared()
        cls.session.given(reset=True)

    def client(self, timeout=30):
        c = self.session.client(timeout)
        self.addCleanup(c.close)
        return c


class RequestsTest(WireCase):
    def test_hello_names_impress_and_its_process(self):
        hello = self.session.request({"op": "hello"})
        self.assertEqual((hello["host"], hello["name"], hello["protocol"]),
                         ("impress", "Impress", 1))
        with open("/proc/%d/comm" % hello["pid"]) as f:
            self.assertEqual(f.read().strip(), "soffice.bin")
        self.assertEqual(self.session.macro("SCBT_Version")["direct"], "OK|" + hello["version"])

    def test_macros_known_unknown_and_malformed(self):
        self.assertEqual(self.session.macro("SCBT_Geom")["errn"], 0)
        for name in ("SCBT_Pen.SCBT_Nothing", "Other.SCBT_Geom", "SCBT_Geom", 7):
            answer = self.session.request({"op": "macro", "name": name, "args": []})
            self.assertEqual(answer["errn"], -1708, (name, answer))
            self.assertIn("does not exist", answer["errs"])
        answer = self.session.request({"op": "macro", "name": "SCBT_Pen.SCBT_Geom",
                                       "args": [1]})
        self.assertIn("error", answer)
        answer = self.session.macro("SCBT_Geom", "extra")
        self.assertEqual(answer, {"errn": 0, "direct": "ERR|Wrong number of arguments or "
                                  "invalid property assignment."})

    def test_view_is_numbered_per_connection_and_agrees_with_the_geometry_answer(self):
        c = self.client()
        first, second = c.request({"op": "view"}), c.request({"op": "view"})
        self.assertEqual((first["seq"], second["seq"]), (1, 2))
        self.assertEqual(self.client().request({"op": "view"})["seq"], 1)
        geom = self.session.macro("SCBT_Geom")["direct"].split("|")
        self.assertEqual(float(geom[3]), first["slide"][0])
        self.assertEqual([int(v) for v in geom[8:12]], first["window"])
        self.assertEqual(int(geom[12]), first["slideId"])
        self.assertIsInstance(first["xid"], int)

    def test_activate_and_unknown_requests(self):
        self.assertEqual(self.session.request({"op": "activate"}), {"ok": True})
        self.assertIn("error", self.session.request({"op": "dance"}))

    def test_bad_lines_are_answered_and_the_connection_goes_on(self):
        c = self.client()
        for line in (b"not json\n", b"[1, 2]\n", b"\"text\"\n", b"{\"op\": \n", b"\xff\xfe\n"):
            c.send_raw(line)
            answer = c.read_line()
            self.assertEqual(list(answer), ["error"], (line, answer))
            self.assertIsInstance(answer["error"], str)
        self.assertEqual(c.request({"op": "hello"})["host"], "impress")


class WatchTest(WireCase):
    def test_the_stream_follows_zoom_and_the_window_going(self):
        c = self.client(timeout=10)
        c.send_raw(b'{"op": "watch"}\n')
        first = c.read_line()
        self.assertIsNotNone(first["doc"])
        self.session.given(zoom="150")
        line = c.read_line()
        while line.get("zoom") == first["zoom"]:
            line = c.read_line()
        self.assertGreater(line["seq"], first["seq"])
        self.assertAlmostEqual(line["scale"], 1.5, delta=0.01)
        self.session.given(view="none")  # the only document closes
        seen = [c.read_line()]
        while "closed" not in seen[-1]:
            seen.append(c.read_line())
        after = c.read_line()
        self.assertEqual(after["doc"], None)
        self.session.given(reset=True)
        # The new document's facts follow; the reset lets events run while it works, so the
        # stream may show its steps before the last one, the remembered Fit.
        for _ in range(50):
            if after.get("doc") is not None and after.get("fit"):
                break
            after = c.read_line()
        self.assertTrue(after["fit"], after)

    def test_a_client_that_never_reads_holds_nothing_up(self):
        c = self.client()
        c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        c.send_raw(b'{"op": "watch"}\n')
        for zoom in ("100", "150", "200", "100", "150"):
            start = time.monotonic()
            self.session.given(zoom=zoom)
            self.assertLess(time.monotonic() - start, 5)
        self.session.given(reset=True)


class BoundsTest(WireCase):
    def test_a_line_longer_than_the_bound_is_closed(self):
        c = self.client()
        chunk = b"x" * (1 << 20)
        try:
            for _ in range(wire.MAX_LINE // len(chunk) + 2):
                c.send_raw(chunk)
        except (BrokenPipeError, ConnectionResetError):
            pass  # closed while we were still sending: as it should
        self.assertTrue(closed_by_peer(c, 10))
        self.assertEqual(self.session.request({"op": "hello"})["host"], "impress")

    def test_a_slow_line_is_closed_and_nine_connections_are_eight(self):
        slow = self.client()
        slow.send_raw(b'{"op": ')
        started = time.monotonic()
        # Meanwhile: eight connections are served, the ninth is closed at once.
        kept = [self.client() for _ in range(7)]
        for c in kept:
            self.assertEqual(c.request({"op": "hello"})["host"], "impress")
        ninth = self.client()
        self.assertTrue(closed_by_peer(ninth, 3))
        kept[0].close()
        time.sleep(0.2)
        self.assertEqual(self.client().request({"op": "hello"})["host"], "impress")
        self.assertFalse(closed_by_peer(slow, max(0.1, 9 - (time.monotonic() - started))))
        self.assertTrue(closed_by_peer(slow, 4))
        self.assertGreaterEqual(time.monotonic() - started, wire.REQUEST_SECONDS - 0.5)

    def test_another_user_is_closed_at_once(self):
        if os.geteuid() != 0:
            self.skipTest("only root can connect as another user")
        folder = os.path.dirname(self.session.socket_path)
        modes = os.stat(folder).st_mode & 0o777, os.stat(self.session.socket_path).st_mode & 0o777
        os.chmod(folder, 0o711)
        os.chmod(self.session.socket_path, 0o666)
        try:
            probe = ("import socket,sys\n"
                     "s=socket.socket(socket.AF_UNIX);s.settimeout(5);s.connect(sys.argv[1])\n"
                     "try:\n s.sendall(b'{\"op\":\"hello\"}\\n');data=s.recv(4096)\n"
                     "except (ConnectionResetError, BrokenPipeError):\n data=b''\n"
                     "print(repr(data))\n")
            done = subprocess.run(["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                                   "--clear-groups", sys.executable, "-c", probe,
                                   self.session.socket_path], capture_output=True, text=True,
                                  timeout=20)
        finally:
            os.chmod(folder, modes[0])
            os.chmod(self.session.socket_path, modes[1])
        self.assertEqual(done.stdout.strip(), "b''", done.stderr)
        self.assertIn("another user", self.session.log_text())


class LimitTest(WireCase):
    def test_a_job_whose_limit_ran_out_never_runs(self):
        self.session.given(reset=True)
        before = self.session.macro("SCBT_Insert", "M 0 0 L 9 9", "#1F1F1F", "1", "none", "",
                                    "")["direct"]
        first = int(before.split("\n")[1].split("\t")[2])
        busy = threading.Thread(target=self.session.request, args=(
            {"op": "given", "values": {"busy": 1500}, "limit": 10000},), kwargs={"timeout": 20})
        busy.start()
        time.sleep(0.3)  # the main thread is asleep in the busy job now
        start = time.monotonic()
        late = self.session.macro("SCBT_Insert", "M 0 0 L 5 5", "#1F1F1F", "1", "none", "", "",
                                  limit=300)
        self.assertEqual(late, {"errn": -1712, "errs": "Impress did not answer in time."})
        self.assertLess(time.monotonic() - start, 1.0)
        busy.join()
        after = self.session.macro("SCBT_Insert", "M 0 0 L 7 7", "#1F1F1F", "1", "none", "",
                                   "")["direct"]
        # The dropped insert took no identifier and left no shape: the next is the next one.
        self.assertEqual(int(after.split("\n")[1].split("\t")[2]), first + 1)
        self.assertEqual(self.session.macro("SCBT_Insert", "M 0 0 L 1 1", "#1F1F1F", "1",
                                            "none", "%d,%d" % (first, first + 1), "")["errn"], 0)


if __name__ == "__main__":
    unittest.main()
