#!/usr/bin/env bash
# Tests the drawing page: builds it (scripts/build-page.sh), type-checks it, then runs its unit
# tests and its browser tests (headless Chromium against the mock server in page/test, and
# against the real Scribbet and desktop stand-in, build/scribbet and build/scribbet-standin,
# which must be built first) in one run of node's test runner, whose summary closes the output.
# Screenshots and figures go to build/page-artifacts/. Needs Debian's chromium.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/build-page.sh
# Always built here: in a fresh clone every file has the same time, so build-page.sh would
# take a stale web/ for new.
node page/build.mjs
# The committed web/ must be what page/src builds; in CI a difference fails the run.
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1 && ! git -C "$root" diff --quiet -- web/overlay.html web/overlay.js web/overlay.css; then
  if [ "${CI:-}" = true ]; then
    echo "test-page: web/ differs from what page/src builds; run scripts/build-page.sh and commit web/" >&2
    exit 1
  fi
  echo "test-page: note: web/ was rebuilt and differs from the committed files; commit them with the sources"
fi

(cd page && npx --no-install tsc --noEmit -p .)
rm -rf build/page-tests
node page/build.mjs --tests

chromium="${SCRIBBET_CHROMIUM:-/usr/bin/chromium}"
if [ ! -x "$chromium" ]; then
  echo "test-page: no Chromium at $chromium (apt-get install chromium)" >&2
  exit 1
fi
mkdir -p build/page-artifacts
exec node --test --test-concurrency=1 --test-timeout=180000 build/page-tests/unit/*.test.mjs page/test/browser/*.test.mjs
