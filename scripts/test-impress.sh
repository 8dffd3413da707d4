#!/usr/bin/env bash
# Runs Scribbet's Impress extension tests: the pure-Python ones and those against a real
# soffice under Xvfb and openbox (tests/impress, unittest discovery, LibreOffice's own Python).
# Installs the Debian packages it needs when one is missing, builds build/Scribbet.oxt first,
# and ends every process it or the test fixture started, by pid, on any exit.
# Usage: scripts/test-impress.sh [-k PATTERN]   (PATTERN is passed to unittest's -k)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

packages=(libreoffice-impress python3-uno libreoffice-script-provider-python openbox xvfb
          xdotool x11-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "test-impress: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "test-impress: ${missing[*]} missing and not root: install them first" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

/usr/bin/python3 scripts/impress/build-oxt.py --out build/Scribbet.oxt

work="$(mktemp -d)"
# The fixture writes the pid of every process group it starts here, and every folder it
# makes; whatever is still running when this script ends, however it ends, is ended by those
# pids, and the folders go.
export SCRIBBET_IMPRESS_PIDS="$work/pids"
: >"$SCRIBBET_IMPRESS_PIDS"
runner=""
stop() {
  local code=$?
  trap - EXIT INT TERM
  if [ -n "$runner" ] && kill -0 "$runner" 2>/dev/null; then
    kill -TERM "$runner" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$runner" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$runner" 2>/dev/null || true
  fi
  local tmp="${TMPDIR:-/tmp}"
  while read -r line; do
    case "$line" in
      "$tmp"/scribbet-*) rm -rf "$line" ;;
      ''|*[!0-9]*) ;;
      *) kill -KILL -- "-$line" 2>/dev/null || kill -KILL "$line" 2>/dev/null || true ;;
    esac
  done <"$SCRIBBET_IMPRESS_PIDS"
  rm -rf "$work"
  exit "$code"
}
trap stop EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

pattern="${2:-}"
[ "${1:-}" = "-k" ] || pattern=""
# One soffice session serves every test file that talks to the extension (session.shared()).
# The last line is the plain count that any reader of the run understands.
/usr/bin/python3 - "$pattern" <<'PY' &
import sys
import unittest

loader = unittest.TestLoader()
if sys.argv[1]:
    loader.testNamePatterns = ["*%s*" % sys.argv[1]]
suite = loader.discover("tests/impress", pattern="*test*.py", top_level_dir="tests/impress")
result = unittest.TextTestRunner(verbosity=1).run(suite)
failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
passed = result.testsRun - failed - len(result.skipped)
print("impress: %d passed, %d failed, %d skipped" % (passed, failed, len(result.skipped)))
sys.exit(0 if result.wasSuccessful() and result.testsRun else 1)
PY
runner=$!
set +e
wait "$runner"
code=$?
set -e
runner=""
exit "$code"
