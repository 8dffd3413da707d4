#!/usr/bin/env bash
# The main job. With LibreOffice Impress installed and an X display, it opens a sample
# presentation in Impress with this build's Scribbet extension (scripts/impress/open.py): the
# Scribbet toolbar's Pen starts this build's Scribbet, and a drawing lands in the presentation.
# Otherwise (or with SCRIBBET_HOST=standin, or links given) it starts the desktop stand-in
# (the presentation program's stand-in), then Scribbet with a "draw" link made from the
# stand-in's own geometry answer, as the add-in's ribbon button would. Ctrl-C ends both.
#   scripts/run.sh            Impress with the sample, or a drawing layer over the stand-in's slide
#   scripts/run.sh LINK...    start Scribbet with these links over the stand-in instead
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build-page.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target scribbet scribbet-standin

export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"

if [ $# -eq 0 ] && [ "${SCRIBBET_HOST:-auto}" != standin ] && [ -n "${DISPLAY:-}" ] &&
   command -v soffice >/dev/null 2>&1 && /usr/bin/python3 -c 'import uno' 2>/dev/null; then
  exec /usr/bin/python3 scripts/impress/open.py
fi

export SCRIBBET_STANDIN_SOCKET="${SCRIBBET_STANDIN_SOCKET:-$XDG_RUNTIME_DIR/scribbet-standin.sock}"
log="${XDG_STATE_HOME:-$HOME/.local/state}/scribbet/Scribbet.log"

standin_pid=""
scribbet_pid=""
stop() {
  [ -n "$scribbet_pid" ] && kill "$scribbet_pid" 2>/dev/null || true
  build/scribbet-standin ctl set quit=1 >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
trap stop EXIT INT TERM

if build/scribbet-standin ctl state >/dev/null 2>&1; then
  echo "Using the stand-in already running at $SCRIBBET_STANDIN_SOCKET"
else
  build/scribbet-standin serve &
  standin_pid=$!
  for _ in $(seq 50); do build/scribbet-standin ctl state >/dev/null 2>&1 && break; sleep 0.1; done
fi

links=("$@")
if [ ${#links[@]} -eq 0 ]; then
  geom=$(build/scribbet-standin ctl macro SCBT_Geom | sed -e 's/^OK|//' -e 's/|/%7C/g')
  links=("scribbet://draw?g=$geom&tool=pen")
fi

build/scribbet "${links[@]}" &
scribbet_pid=$!
cat <<MSG
Scribbet is running with the desktop stand-in.
  Its log:            $log
  The stand-in:       SCRIBBET_STANDIN_SOCKET=$SCRIBBET_STANDIN_SOCKET build/scribbet-standin ctl state
                      (and ctl set KEY=VALUE: zoom, scroll, window... see the README)
  The drawing page:   http://127.0.0.1:${SCRIBBET_PORT:-3921}/overlay.html
  A link by hand:     XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR build/scribbet 'scribbet://status'
Ctrl-C ends both.
MSG
sleep 1
tail -n 20 "$log" 2>/dev/null || true
wait "$scribbet_pid"
