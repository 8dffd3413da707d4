#!/usr/bin/env bash
# Builds the drawing page: page/src (TypeScript) into web/overlay.{html,js,css} with esbuild.
# Installs page/'s npm packages from its lock file first when they are missing or older than
# the lock file. Does nothing more when web/ is newer than every source, so it is cheap to
# call before every run. The built files are committed, so Scribbet runs without npm.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
page="$root/page"
web="$root/web"

if [ ! -f "$page/node_modules/.package-lock.json" ] || [ "$page/package-lock.json" -nt "$page/node_modules/.package-lock.json" ]; then
  echo "build-page: installing page/'s packages (npm ci)"
  (cd "$page" && npm ci --no-audit --no-fund --loglevel=error)
fi

stale=0
for f in overlay.html overlay.js overlay.css; do
  [ -f "$web/$f" ] || stale=1
done
if [ "$stale" = 0 ] && [ -n "$(find "$page/src" "$page/build.mjs" "$page/package-lock.json" -newer "$web/overlay.js" -print -quit)" ]; then
  stale=1
fi
[ "$stale" = 0 ] && exit 0
node "$page/build.mjs"
echo "build-page: web/ rebuilt"
