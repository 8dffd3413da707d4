#!/usr/bin/env bash
# On a Mac: builds Scribbet.app into build/ and opens it, as the add-in's first link would.
# Install what the README's "On macOS" section lists first (Homebrew packages).
#   scripts/mac/run.sh             build, end a Scribbet that still runs, then open build/Scribbet.app
#   scripts/mac/run.sh --no-open   build only (the macOS workflow's build step)
set -euo pipefail
cd "$(dirname "$0")/../.."

# Scribbet.app's CFBundleIdentifier (resources/mac/Info.plist.in).
bundle_id=com.tarnwell.scribbet

# A Scribbet that still runs (it idles up to 160 s without a Dock icon), this build's or an older
# one, would only be brought forward by open, and the new build would never start. It is asked to
# quit as its own Quit does (its log ends properly) and given 10 s to be gone. "is running" asks
# Launch Services and never starts the program itself.
end_running_scribbet() {
  command -v osascript >/dev/null || return 0
  local running="application id \"$bundle_id\" is running"
  [ "$(osascript -e "$running")" = true ] || return 0
  echo "Asking the Scribbet that still runs to quit."
  osascript -e "tell application id \"$bundle_id\" to quit" >/dev/null || true
  local tries
  for ((tries = 0; tries < 50; tries++)); do
    [ "$(osascript -e "$running")" = true ] || return 0
    sleep 0.2
  done
  echo "The Scribbet that still runs did not quit within 10 s: end it in Activity Monitor, then run this again." >&2
  return 1
}

open_app=1
case "${1:-}" in
"") ;;
--no-open) open_app=0 ;;
*) echo "usage: scripts/mac/run.sh [--no-open]" >&2; exit 2 ;;
esac

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target scribbet_app
if [ "$open_app" = 1 ]; then
  end_running_scribbet
  open build/Scribbet.app
fi
