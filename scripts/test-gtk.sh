#!/usr/bin/env bash
# Runs the GTK tests on a virtual X server: Xvfb, with xcompmgr as the compositing manager
# the layer's transparency needs (without one, no window can be see-through). There is no
# window manager, so windows stay exactly where the program puts them; then openbox joins for
# the window manager's desktop tests alone. Screenshots of what the tests saw go to
# build/gtk-artifacts/.
# Usage: scripts/test-gtk.sh [BUILD_DIR]   (default build/, already built by scripts/test.sh)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"

for tool in Xvfb xcompmgr xdotool openbox xwininfo xprop; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "test-gtk: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  fi
done
if [ ! -x "$build/tests/tests_gtk" ]; then
  echo "test-gtk: no $build/tests/tests_gtk: GTK 3 or WebKitGTK 4.1 was not found when building" >&2
  exit 1
fi

work="$(mktemp -d)"
xvfb_pid=""
xcompmgr_pid=""
openbox_pid=""
stop() {
  [ -n "$openbox_pid" ] && kill "$openbox_pid" 2>/dev/null || true
  [ -n "$xcompmgr_pid" ] && kill "$xcompmgr_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT INT TERM

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
  echo "test-gtk: Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
xcompmgr 2>"$work/xcompmgr.log" &
xcompmgr_pid=$!
sleep 0.5
if ! kill -0 "$xcompmgr_pid" 2>/dev/null; then
  echo "test-gtk: xcompmgr did not start:" >&2
  cat "$work/xcompmgr.log" >&2
  exit 1
fi

mkdir -p "$work/run" "$root/build/gtk-artifacts"
chmod 700 "$work/run"
export SCRIBBET_GTK_DISPLAY=1
export SCRIBBET_GTK_ARTIFACTS="$root/build/gtk-artifacts"
export XDG_RUNTIME_DIR="$work/run"
# The layer keeps its page's storage on disk: in the run's own folder, not the user's.
export XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
# One test at a time: they share the screen, the pointer and the keyboard.
ctest --test-dir "$build" -R '^Gtk' --output-on-failure -j1

# The window manager's desktop (X11DesktopLiveTest) on the same server, now with openbox
# managing it: only these tests, since the others expect windows exactly where they were put.
# Its settings are the package's own, not a user's.
XDG_CONFIG_HOME="$work/config" openbox --sm-disable >"$work/openbox.log" 2>&1 &
openbox_pid=$!
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done
if ! kill -0 "$openbox_pid" 2>/dev/null || ! xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; then
  echo "test-gtk: openbox did not start:" >&2
  cat "$work/openbox.log" >&2
  exit 1
fi
export SCRIBBET_X11_WM=1
ctest --test-dir "$build" -R '^X11DesktopLiveTest\.' --output-on-failure -j1
# X's pixels become points through GDK's scale: the client areas once more on a doubled desktop.
GDK_SCALE=2 ctest --test-dir "$build" -R '^X11DesktopLiveTest\.(EveryWindow|AMoveIsTold)' --output-on-failure -j1
