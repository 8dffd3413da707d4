#!/usr/bin/env bash
# Installs the Debian packages Scribbet needs to build, run and test, only when missing.
# Idempotent: a machine that has them all does nothing and touches no network.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config libc++-14-dev libc++abi-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libasio-dev nlohmann-json3-dev libutf8proc-dev liburiparser-dev libcairo2-dev
  chromium
  libgtk-3-dev libwebkit2gtk-4.1-dev xvfb xcompmgr xdotool x11-utils
  universal-ctags python3-yaml
  libwnck-3-dev openbox
  libreoffice-impress python3-uno libreoffice-script-provider-python
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# The drawing page is built and tested with Node.js 20 or later (with its npm); the machine
# image brings one. Debian 12's own nodejs is older, so it is only a last resort.
if ! command -v node >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${missing[*]}"
if ! $sudo apt-get install -y -q "${missing[@]}"; then
  $sudo apt-get update -q
  $sudo apt-get install -y -q "${missing[@]}"
fi
