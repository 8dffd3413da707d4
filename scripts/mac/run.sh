#!/usr/bin/env bash
# On a Mac: builds Scribbet.app into build/ and opens it, as the add-in's first link would.
# Install what the README's "On macOS" section lists first (Homebrew packages).
#   scripts/mac/run.sh             build, then open build/Scribbet.app
#   scripts/mac/run.sh --no-open   build only (the macOS workflow's build step)
set -euo pipefail
cd "$(dirname "$0")/../.."

open_app=1
case "${1:-}" in
"") ;;
--no-open) open_app=0 ;;
*) echo "usage: scripts/mac/run.sh [--no-open]" >&2; exit 2 ;;
esac

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target scribbet_app
if [ "$open_app" = 1 ]; then
  open build/Scribbet.app
fi
