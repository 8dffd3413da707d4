"""What the extension does when the document is not what a request expects: read-only, closed
while the request waits, or one of two windows; soffice must answer and stay up throughout.

Runs in soffice under Xvfb through the shared fixture (scripts/impress/session.py).
"""

import os
import sys
import tempfile
import threading
import time
import unittest

import _paths

sys.path.insert(0, os.path.join(_paths.ROOT, "scripts", "impress"))
sys.path.insert(0, _paths.PYTHONPATH)

from scribbet_impress import geometry, placing  # noqa: E402

FLAT_PRESENTATION = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body><office:presentation><draw:page draw:name="one"/></office:presentation>
 </office:body>
</office:document>
"""
STROKE = ("M 10 10 L 200 100", "#1F1F1F", "3", "none", "", "")


class BadInputTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import session
        cls.session = session.shared()

    def setUp(self):
        self.session.given(reset=True)

    def macro(self, name, *args, limit=20000):
        answer = self.session.macro(name, *args, limit=limit)
        self.assertEqual(answer.get("errn"), 0, answer)
        return answer["direct"]

    def test_a_read_only_presentation_is_refused_and_left_as_it_was(self):
        folder = tempfile.mkdtemp(prefix="scribbet-ro-")
        self.addCleanup(lambda: __import__("shutil").rmtree(folder, ignore_errors=True))
        path = os.path.join(folder, "shown.fodp")
        with open(path, "w", encoding="utf-8") as f:
            f.write(FLAT_PRESENTATION)
        facts = self.session.open(path, read_only=True)
        self.assertEqual(facts["doc"], "file://" + path)
        before = self.macro("SCBT_Slide", "320")
        self.assertEqual(self.macro("SCBT_Insert", *STROKE), "ERR|" + placing.READ_ONLY)
        self.assertEqual(self.macro("SCBT_Slide", "320"), before)

    def test_the_document_closed_while_a_request_waits(self):
        busy = threading.Thread(target=self.session.request, args=(
            {"op": "given", "values": {"busy": 1200}, "limit": 10000},), kwargs={"timeout": 20})
        busy.start()
        time.sleep(0.3)
        close = threading.Thread(target=self.session.request, args=(
            {"op": "given", "values": {"view": "none"}, "limit": 10000},), kwargs={"timeout": 20})
        close.start()
        time.sleep(0.3)  # the close waits behind the busy job, the insert behind the close
        answers = {name: self.macro(name, *args) for name, args in (
            ("SCBT_Insert", STROKE), ("SCBT_Geom", ()), ("SCBT_Zoom", ("fit",)))}
        busy.join()
        close.join()
        for name, answer in answers.items():
            self.assertEqual(answer, "ERR|" + geometry.NO_WINDOW, name)
        self.assertEqual(self.session.request({"op": "hello"})["host"], "impress")

    def test_facts_and_macros_follow_the_current_of_two_windows(self):
        first = self.session.view()
        second = self.session.open()
        self.assertNotEqual(second["xid"], first["xid"])
        self.assertNotEqual(second["window"], first["window"])
        geom = self.macro("SCBT_Geom").split("|")
        self.assertEqual([int(v) for v in geom[8:12]], second["window"])
        placed = self.macro("SCBT_Insert", *STROKE)
        self.assertTrue(placed.startswith("OK|1\n"), placed)
        done = self.session.xdotool("windowactivate", "--sync", str(first["xid"]))
        self.assertEqual(done.returncode, 0, done.stderr)
        for _ in range(25):
            back = self.session.view()
            if back["xid"] == first["xid"]:
                break
            time.sleep(0.2)
        self.assertEqual((back["doc"], back["xid"]), (first["doc"], first["xid"]))
        geom = self.macro("SCBT_Geom").split("|")
        self.assertEqual([int(v) for v in geom[8:12]], first["window"])
        # The stroke went to the second document only: the first has no such shape.
        sid = placed.split("\n")[1].split("\t")[2]
        refused = self.macro("SCBT_Insert", STROKE[0], "#1F1F1F", "1", "none", sid, "")
        self.assertTrue(refused.startswith("ERR|There is no shape with the identifier "),
                        refused)


if __name__ == "__main__":
    unittest.main()
