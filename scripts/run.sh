#!/usr/bin/env bash
# Builds Scribbet and runs it in the foreground: `scripts/run.sh [LINK...]`.
# Ctrl-C ends it through its terminate action.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target scribbet
echo "Scribbet is running; its log: ${XDG_STATE_HOME:-$HOME/.local/state}/scribbet/Scribbet.log"
exec build/scribbet "$@"
