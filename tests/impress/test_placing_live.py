"""Placing against the real Impress, run in soffice's own process (tests/impress/live_checks.py).

Starts a headless soffice of its own with a private profile and a UNO pipe (test tooling only;
the extension never listens for UNO), puts a small runner into the profile's Python scripts
and calls it through the script provider: the checks then import the extension's modules
inside soffice and make every UNO call there. Each check is one test here, so a failure names
it; the figures the checks measure are printed.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import _paths

sys.path.insert(0, os.path.join(_paths.ROOT, "scripts", "impress"))
import session  # noqa: E402  (the fixture: its pid list)

import uno  # noqa: E402  (LibreOffice's Python: /usr/bin/python3)

RUNNER = '''import sys
for folder in (%r, %r):
    if folder not in sys.path:
        sys.path.insert(0, folder)


def run(*names):
    import live_checks
    return live_checks.run(",".join(names))


g_exportedScripts = (run,)
'''
SCRIPT = "vnd.sun.star.script:scribbet_live.py$run?language=Python&location=user"
CHECKS = (
    "PlacingTest.test_shapes_keep_points_order_and_colours_through_odp_and_pptx",
    "PlacingTest.test_an_arrow_is_one_freeform_ending_in_impresss_arrow_through_odp_and_pptx",
    "PlacingTest.test_replaced_shapes_come_back_with_one_undo_and_go_again_with_one_redo",
    "PlacingTest.test_a_replaced_shape_impress_will_not_remove_is_refused_first_and_kept_after",
    "PlacingTest.test_a_freeform_back_from_pptx_can_be_replaced_and_brought_back",
    "PlacingTest.test_identifiers_are_new_in_the_whole_document",
    "PlacingTest.test_a_read_only_document_is_refused_untouched",
    "SlideIdsTest.test_kept_through_odp_and_fresh_unique_from_256_after_pptx",
    "ThemeTest.test_the_masters_colours_are_answered_and_fills_follow_them",
    "ThemeTest.test_without_a_theme_the_office_colours_stay_through_pptx",
    "FiguresTest.test_a_hundred_strokes_in_well_under_a_second_and_a_half",
    "FiguresTest.test_slide_picture_at_1280_pixels",
    "FiguresTest.test_pptx_saves_after_many_placings_undos_and_redos",
)


class Office:
    """A headless soffice of our own with the runner in its profile, ended by its pid."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="scribbet-live-")
        session.note_folder(self.dir)
        scripts = os.path.join(self.dir, "profile", "user", "Scripts", "python")
        os.makedirs(scripts)
        with open(os.path.join(scripts, "scribbet_live.py"), "w", encoding="utf-8") as f:
            f.write(RUNNER % (_paths.PYTHONPATH, os.path.dirname(os.path.abspath(__file__))))
        env = dict(os.environ, XDG_STATE_HOME=self.dir)  # the extension's log, kept apart
        self.pipe = "scribbet_live_%d" % os.getpid()
        self.proc = subprocess.Popen(
            ["soffice", "-env:UserInstallation=file://" + self.dir + "/profile", "--headless",
             "--invisible", "--norestore", "--nologo",
             "--accept=pipe,name=%s;urp;" % self.pipe],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        session.note_pid(self.proc.pid)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.monotonic() + 60
        while True:
            try:
                self.ctx = resolver.resolve(
                    "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe)
                break
            except Exception:  # noqa: BLE001 - not listening yet
                if time.monotonic() > deadline or self.proc.poll() is not None:
                    self.stop()
                    raise RuntimeError("soffice did not start")
                time.sleep(0.3)
        factory = self.ctx.ServiceManager.createInstanceWithContext(
            "com.sun.star.script.provider.MasterScriptProviderFactory", self.ctx)
        self.script = factory.createScriptProvider("").getScript(SCRIPT)

    def run(self, name):
        """(tests run, failed, errors, report) of one check, run inside soffice."""
        result = self.script.invoke((name,), (), ())[0]
        counts, report = result.split("\n", 1)
        run, failed, errors = (int(n) for n in counts.split("|"))
        return run, failed, errors, report

    def alive(self):
        return self.proc.poll() is None

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.ctx.ServiceManager.createInstanceWithContext(
                    "com.sun.star.frame.Desktop", self.ctx).terminate()
                self.proc.wait(10)
            except Exception:  # noqa: BLE001 - ended by its pid below
                pass
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, 9)
            except OSError:
                pass
            self.proc.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


class PlacingLiveTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.office = Office()
        cls.addClassCleanup(cls.office.stop)

    def check(self, name):
        run, failed, errors, report = self.office.run(name)
        figures = [line for line in report.splitlines() if " ms (in soffice)" in line]
        if figures:
            sys.stderr.write("\n" + "\n".join(figures) + "\n")
        self.assertEqual(run, 1, "no check named %s ran:\n%s" % (name, report))
        self.assertEqual((failed, errors), (0, 0), report)
        self.assertTrue(self.office.alive(), "soffice ended during " + name)


def _test_for(name):
    return lambda self: self.check(name)


for _check in CHECKS:
    setattr(PlacingLiveTest, "test_" + _check.split(".test_", 1)[1], _test_for(_check))


if __name__ == "__main__":
    unittest.main()
