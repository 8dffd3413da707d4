"""The socket's rules without soffice: path, folder, peer check, line bounds, job dropping."""

import os
import shutil
import socket
import tempfile
import threading
import time
import unittest

import _paths  # noqa: F401
from scribbet_impress import mainthread, wire
from scribbet_impress.server import Server


class SocketPathTest(unittest.TestCase):
    def test_the_environment_chooses_in_order(self):
        env = {"SCRIBBET_IMPRESS_SOCKET": "/x/s", "XDG_RUNTIME_DIR": "/run/u", "TMPDIR": "/t"}
        self.assertEqual(wire.socket_path(env, 7), ("/x/s", None))
        del env["SCRIBBET_IMPRESS_SOCKET"]
        self.assertEqual(wire.socket_path(env, 7), ("/run/u/scribbet-impress.sock", None))
        del env["XDG_RUNTIME_DIR"]
        self.assertEqual(wire.socket_path(env, 7),
                         ("/t/scribbet-7/scribbet-impress.sock", "/t/scribbet-7"))
        self.assertEqual(wire.socket_path({}, 7)[1], "/tmp/scribbet-7")


class PrivateFolderTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.folder = os.path.join(self.tmp, "scribbet-1")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_made_with_mode_0700(self):
        wire.ensure_private_folder(self.folder)
        self.assertEqual(os.stat(self.folder).st_mode & 0o777, 0o700)

    def test_a_folder_others_may_enter_is_refused(self):
        os.mkdir(self.folder, 0o755)
        os.chmod(self.folder, 0o755)
        with self.assertRaisesRegex(wire.WireError, "0700"):
            wire.ensure_private_folder(self.folder)

    def test_a_folder_of_another_user_is_refused(self):
        os.mkdir(self.folder, 0o700)
        with self.assertRaisesRegex(wire.WireError, "another user"):
            wire.ensure_private_folder(self.folder, uid=os.getuid() + 1)

    def test_a_file_or_link_in_its_place_is_refused(self):
        os.symlink(self.tmp, self.folder)
        with self.assertRaisesRegex(wire.WireError, "not a folder"):
            wire.ensure_private_folder(self.folder)


class PeerTest(unittest.TestCase):
    def test_only_the_same_user_passes_even_root(self):
        self.assertTrue(wire.peer_allowed(1000, own_uid=1000))
        self.assertFalse(wire.peer_allowed(1001, own_uid=1000))
        self.assertFalse(wire.peer_allowed(0, own_uid=1000))
        self.assertFalse(wire.peer_allowed(None, own_uid=1000))

    def test_peer_uid_reads_the_connecting_process(self):
        a, b = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self.assertEqual(wire.peer_uid(a), os.getuid())
        finally:
            a.close()
            b.close()


class RequestTest(unittest.TestCase):
    def test_limits_are_clamped_and_junk_gets_the_default(self):
        self.assertEqual(wire.clamp_limit(5), 100)
        self.assertEqual(wire.clamp_limit(10 ** 9), 300000)
        self.assertEqual(wire.clamp_limit(2500.7), 2500)
        for junk in ["100", None, True, float("nan"), [1]]:
            self.assertEqual(wire.clamp_limit(junk), 5000)

    def test_only_a_json_object_is_a_request(self):
        self.assertEqual(wire.parse_request(b'{"op": "hello"}'), ({"op": "hello"}, None))
        for bad in [b"[1]", b"hello", b'"x"', b"\xff\xfe", b""]:
            value, problem = wire.parse_request(bad)
            self.assertIsNone(value)
            self.assertTrue(problem.endswith("."))

    def test_answers_are_one_ascii_line(self):
        line = wire.encode({"direct": "OK|é\n"})
        self.assertTrue(line.endswith(b"\n"))
        self.assertEqual(line.count(b"\n"), 1)
        line.decode("ascii")


class LineReaderTest(unittest.TestCase):
    def setUp(self):
        self.a, self.b = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)

    def tearDown(self):
        self.a.close()
        self.b.close()

    def test_lines_split_and_joined_across_reads(self):
        reader = wire.LineReader(self.a)
        self.b.sendall(b'{"a":1}\n{"b"')
        self.assertEqual(reader.read_line(), b'{"a":1}')
        self.b.sendall(b':2}\n')
        self.assertEqual(reader.read_line(), b'{"b":2}')
        self.b.close()
        self.assertIsNone(reader.read_line())

    def test_a_line_longer_than_the_bound_is_refused(self):
        reader = wire.LineReader(self.a, max_line=1000)
        self.b.sendall(b"x" * 1001)
        with self.assertRaisesRegex(wire.WireError, "longer"):
            reader.read_line()

    def test_a_line_of_exactly_the_bound_is_read(self):
        reader = wire.LineReader(self.a, max_line=1000)
        self.b.sendall(b"x" * 1000 + b"\n")
        self.assertEqual(len(reader.read_line()), 1000)

    def test_a_request_must_arrive_within_its_time(self):
        reader = wire.LineReader(self.a, seconds=0.3)
        self.b.sendall(b'{"op"')
        started = time.monotonic()
        with self.assertRaisesRegex(wire.WireError, "in time"):
            reader.read_line()
        self.assertLess(time.monotonic() - started, 2)

    def test_a_trickle_does_not_reset_the_clock(self):
        reader = wire.LineReader(self.a, seconds=0.5)

        def trickle():
            for _ in range(10):
                time.sleep(0.1)
                try:
                    self.b.sendall(b" ")
                except OSError:
                    return
        threading.Thread(target=trickle, daemon=True).start()
        self.b.sendall(b"{")
        with self.assertRaises(wire.WireError):
            reader.read_line()

    def test_a_quiet_connection_between_requests_is_kept(self):
        reader = wire.LineReader(self.a, seconds=0.2)

        def later():
            time.sleep(0.5)
            self.b.sendall(b"{}\n")
        threading.Thread(target=later, daemon=True).start()
        self.assertEqual(reader.read_line(), b"{}")

    def test_a_client_that_closes_mid_request_is_an_error(self):
        reader = wire.LineReader(self.a)
        self.b.sendall(b'{"op":')
        self.b.close()
        with self.assertRaises(wire.WireError):
            reader.read_line()


class StaleSocketTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.path = os.path.join(self.tmp, "s.sock")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_a_socket_nobody_listens_at_is_replaced(self):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.bind(self.path)
        s.close()
        self.assertTrue(Server._clear_stale(self.path))
        self.assertFalse(os.path.exists(self.path))

    def test_a_live_socket_is_left_alone(self):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.bind(self.path)
        s.listen(1)
        try:
            self.assertFalse(Server._clear_stale(self.path))
            self.assertTrue(os.path.exists(self.path))
        finally:
            s.close()

    def test_a_file_that_is_not_a_socket_is_never_removed(self):
        with open(self.path, "w") as f:
            f.write("someone's data")
        self.assertFalse(Server._clear_stale(self.path))
        self.assertTrue(os.path.exists(self.path))


class FakeMainThread:
    """A thread standing in for LibreOffice's main thread; `gate` holds it back."""

    def setUp(self):
        self.queue = []
        self.cond = threading.Condition()
        self.gate = threading.Event()
        self.gate.set()
        self.stop = False
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()
        self.main = mainthread.MainThread(self._post)

    def tearDown(self):
        self.stop = True
        self.gate.set()
        with self.cond:
            self.cond.notify()

    def _post(self, job):
        with self.cond:
            self.queue.append(job)
            self.cond.notify()

    def _loop(self):
        while not self.stop:
            with self.cond:
                while not self.queue and not self.stop:
                    self.cond.wait()
                if self.stop:
                    return
                job = self.queue.pop(0)
            self.gate.wait()
            job.run()


class MainThreadTest(FakeMainThread, unittest.TestCase):
    """The dropped-job rule."""

    def test_a_result_and_an_exception_come_back(self):
        self.assertEqual(self.main.call(lambda: 42, 1), 42)
        with self.assertRaises(ZeroDivisionError):
            self.main.call(lambda: 1 / 0, 1)

    def test_a_job_not_begun_in_time_never_runs(self):
        ran = []
        self.gate.clear()
        started = time.monotonic()
        with self.assertRaises(mainthread.TimedOut):
            self.main.call(lambda: ran.append(1), 0.2)
        self.assertLess(time.monotonic() - started, 1)
        self.gate.set()
        self.assertEqual(self.main.call(lambda: "after", 1), "after")
        self.assertEqual(ran, [])

    def test_a_job_begun_finishes_but_its_answer_is_dropped(self):
        finished = threading.Event()

        def slow():
            time.sleep(0.4)
            finished.set()
            return "late"
        with self.assertRaises(mainthread.TimedOut):
            self.main.call(slow, 0.1)
        self.assertTrue(finished.wait(2))
        self.assertEqual(self.main.call(lambda: "next", 1), "next")


class LaterAnswerTest(FakeMainThread, unittest.TestCase):
    """A macro whose answer comes a turn later (Fit, which Impress applies after the call):
    each turn is a job of its own, all within the request's one limit."""

    def answer(self, body, limit):
        from scribbet_impress import macros
        saved = macros.TABLE["SCBT_Version"]
        macros.TABLE["SCBT_Version"] = (0, 0, lambda host, view, args: body())
        try:
            server = Server(host=None, view=None, main=self.main, hub=None)
            return server.answer({"op": "macro", "name": "SCBT_Pen.SCBT_Version", "args": [],
                                  "limit": limit}, {"seq": 0})
        finally:
            macros.TABLE["SCBT_Version"] = saved

    def test_the_answer_of_the_later_turn_is_given(self):
        from scribbet_impress.macros import Later
        answer = self.answer(lambda: Later(lambda: Later(lambda: "OK|fitted")), 2000)
        self.assertEqual(answer, {"errn": 0, "direct": "OK|fitted"})

    def test_an_error_in_the_later_turn_is_a_sentence(self):
        from scribbet_impress.macros import Later
        answer = self.answer(lambda: Later(lambda: 1 / 0), 2000)
        self.assertEqual(answer["errn"], 0)
        self.assertTrue(answer["direct"].startswith("ERR|Impress could not answer"), answer)

    def test_the_later_turns_share_the_one_limit(self):
        from scribbet_impress.macros import Later

        def slow(then):
            def turn():
                time.sleep(0.1)
                return then()
            return turn
        started = time.monotonic()
        # Each turn fits the limit alone; both together do not.
        answer = self.answer(slow(lambda: Later(slow(lambda: "OK|late"))), 150)
        self.assertEqual(answer["errn"], -1712)
        self.assertLess(time.monotonic() - started, 0.5)

    def test_a_macro_that_never_settles_is_answered(self):
        from scribbet_impress.macros import Later

        def again():
            return Later(again)
        answer = self.answer(again, 2000)
        self.assertEqual(answer["errn"], 0)
        self.assertTrue(answer["direct"].startswith("ERR|"), answer)


if __name__ == "__main__":
    unittest.main()
