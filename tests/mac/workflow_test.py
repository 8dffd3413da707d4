#!/usr/bin/env python3
"""The macOS workflow runs what the README's "On macOS" section tells a Mac user to run, and the
two scripts do what the README says: checked on Linux with cmake, ctest and open stubbed."""
import os
import re
import shlex
import subprocess
import tempfile
import unittest
from pathlib import Path

import yaml

ROOT = Path(__file__).resolve().parents[2]
LINUX_ONLY_ROOMS = {"gtk", "linux", "standin"}


def readme_mac_commands():
    readme = (ROOT / "README.md").read_text()
    section = readme.split("\n## On macOS\n", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```sh\n(.*?)```", section, re.S)
    return [shlex.split(line.split("#", 1)[0]) for b in blocks for line in b.splitlines() if line.strip()]


def run_stubbed(script, *args):
    """Runs a script with cmake, ctest and open replaced by stubs; returns their calls."""
    with tempfile.TemporaryDirectory() as stubs:
        log = Path(stubs) / "calls"
        for tool in ("cmake", "ctest", "open"):
            stub = Path(stubs) / tool
            stub.write_text('#!/bin/sh\nprintf "%s\\n" "$(basename "$0") $*" >>"$CALLS"\n')
            stub.chmod(0o755)
        env = dict(os.environ, PATH=f"{stubs}:{os.environ['PATH']}", CALLS=str(log))
        subprocess.run([ROOT / script, *args], env=env, check=True, cwd="/")
        return [shlex.split(line) for line in log.read_text().splitlines()]


class TheWorkflowRunsTheReadmeCommands(unittest.TestCase):
    def test_the_workflow_runs_the_readme_commands_on_macos_14(self):
        workflow = yaml.safe_load((ROOT / ".github/workflows/macos.yml").read_text())
        self.assertTrue(workflow.get("on", workflow.get(True)))  # YAML 1.1 reads a bare `on` as true
        jobs = list(workflow["jobs"].values())
        self.assertEqual([j["runs-on"] for j in jobs], ["macos-14"] * max(len(jobs), 1))
        self.assertTrue(all(j["steps"][0]["uses"].startswith("actions/checkout@") for j in jobs))
        runs = [shlex.split(line) for job in jobs for s in job["steps"] for line in s.get("run", "").splitlines()]

        readme = readme_mac_commands()
        brew = [c for c in readme if c[:2] == ["brew", "install"]]
        self.assertEqual(len(brew), 1, readme)
        self.assertIn(brew[0], runs)  # the same libraries, so the README's list cannot go stale
        scripts = [c for c in readme if c[0].startswith("scripts/")]
        self.assertEqual([c[0] for c in scripts], ["scripts/mac/run.sh", "scripts/mac/test.sh"])
        self.assertIn(["scripts/mac/run.sh", "--no-open"], runs)  # its build part: nothing opens on CI
        self.assertIn(["scripts/mac/test.sh"], runs)
        self.assertTrue(all(os.access(ROOT / c[0], os.X_OK) for c in scripts))

    def test_run_builds_the_bundle_target_and_opens_it_unless_told_not_to(self):
        bundle = (ROOT / "cmake/MacBundle.cmake").read_text()
        target = re.search(r"add_executable\((\w+) MACOSX_BUNDLE", bundle).group(1)
        name = re.search(r"set\(SCRIBBET_BUNDLE_NAME (\w+)\)", bundle).group(1)
        built = run_stubbed("scripts/mac/run.sh", "--no-open")
        self.assertEqual(built[0][:7], ["cmake", "-S", ".", "-B", "build", "-G", "Ninja"])
        self.assertEqual(built[1:], [["cmake", "--build", "build", "--target", target]])
        self.assertEqual(run_stubbed("scripts/mac/run.sh")[2:], [["open", f"build/{name}.app"]])

    def test_test_builds_and_runs_every_core_room_and_no_linux_only_one(self):
        suites = (ROOT / "tests/CMakeLists.txt").read_text()
        rooms = set(re.findall(r"^\s*scribbet_test_suite\((\w+)", suites, re.M)) - LINUX_ONLY_ROOMS
        calls = run_stubbed("scripts/mac/test.sh")
        build = next(c for c in calls if c[:2] == ["cmake", "--build"])
        self.assertEqual(set(build[build.index("--target") + 1:]), {f"tests_{r}" for r in rooms})
        ctest = next(c for c in calls if c[0] == "ctest")
        excluded = re.compile(ctest[ctest.index("-E") + 1])
        # A program that is not built stands as PROGRAM_NOT_BUILT, a failing test.
        for name in [f"tests_{r}_NOT_BUILT" for r in LINUX_ONLY_ROOMS] + ["LayoutTest.IncludesRunOneWay"]:
            self.assertTrue(excluded.search(name), name)
        core_test = re.search(r"\bTEST(?:_F)?\((\w+), (\w+)\)", (ROOT / "tests/app/link_test.cpp").read_text())
        self.assertFalse(excluded.search(".".join(core_test.groups())))


if __name__ == "__main__":
    unittest.main()
