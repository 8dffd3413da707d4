#!/usr/bin/python3
"""The main job with LibreOffice Impress: opens a presentation in Impress with this build's
Scribbet extension, on the display there is, in a profile of its own (build/impress-profile,
made afresh each time, so the user's own LibreOffice is left as it is). The toolbar's buttons
start this build's Scribbet. Ctrl-C ends Impress and Scribbet.

    scripts/impress/open.py [DOCUMENT]    (default: resources/impress/sample.fodp)

scripts/run.sh calls it when LibreOffice is there; Scribbet's log is where the README says.
"""

import os
import shutil
import signal
import subprocess
import sys
import time

import session

ROOT = session.ROOT
SCRIBBET = os.path.join(ROOT, "build", "scribbet")
SAMPLE = os.path.join(ROOT, "resources", "impress", "sample.fodp")


def main():
    document = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else SAMPLE
    if not os.environ.get("DISPLAY"):
        sys.exit("open.py: Impress needs an X display (DISPLAY is not set).")
    oxt = os.path.join(ROOT, "build", "Scribbet.oxt")
    subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "impress", "build-oxt.py"),
                    "--out", oxt], check=True, stdout=subprocess.DEVNULL)
    folder = os.path.join(ROOT, "build", "impress-profile")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    profile_url = session.install_extension(oxt, folder, os.path.join(folder, "profile"),
                                            dict(os.environ))
    if document == SAMPLE:
        # A copy to draw on and save: the repository's sample stays as it is.
        document = shutil.copy(SAMPLE, os.path.join(folder, "sample.fodp"))
    env = dict(os.environ, SCRIBBET_BIN=SCRIBBET)
    soffice = subprocess.Popen(["soffice", "-env:UserInstallation=" + profile_url, "--norestore",
                                "--nologo", document], env=env, start_new_session=True)

    def stop(*_):
        for pid in subprocess.run(["pgrep", "-f", "^" + SCRIBBET], stdout=subprocess.PIPE,
                                  text=True).stdout.split():
            try:
                os.kill(int(pid), signal.SIGTERM)
            except OSError:
                pass
        try:
            os.killpg(soffice.pid, signal.SIGTERM)
        except OSError:
            pass
        sys.exit(0)
    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGTERM, stop)

    deadline = time.monotonic() + 90
    while session.impress_hello(env) is None:
        if time.monotonic() > deadline:
            sys.exit("open.py: Impress started, but its Scribbet extension did not answer.")
        time.sleep(0.3)
    print("Impress is open with %s and the Scribbet extension.\n"
          "  Press Pen (or Scribbet > Pen) and draw over the slide; Return places the drawing.\n"
          "  Scribbet's log:  %s\n"
          "Ctrl-C ends Impress and Scribbet." % (
              os.path.relpath(document, ROOT),
              os.path.join(os.environ.get("XDG_STATE_HOME") or os.path.expanduser(
                  "~/.local/state"), "scribbet", "Scribbet.log")), flush=True)
    while True:
        time.sleep(1)
        if soffice.poll() is not None and subprocess.run(
                ["pgrep", "-f", "soffice.bin.*" + profile_url],
                stdout=subprocess.DEVNULL).returncode != 0:
            stop()


if __name__ == "__main__":
    main()
