#!/usr/bin/env bash
# On a Mac, after scripts/mac/run.sh: checks that build/Scribbet.app runs on a Mac other than the
# one that built it, then packs it as a zip, as the macOS workflow hands it out.
#   scripts/mac/check-bundle.sh [APP [ZIP]]   (default build/Scribbet.app, build/Scribbet.zip)
# Every Mach-O file in the bundle may load only the system's libraries and the bundle's own
# copies in Contents/Frameworks (which must be there), and the signature must hold for every
# file it seals.
set -euo pipefail
cd "$(dirname "$0")/../.."
app="${1:-build/Scribbet.app}"
zip="${2:-build/Scribbet.zip}"

status=0
while IFS= read -r -d '' file; do
  # otool -L: the file's name, then one line per install name it loads (a library's own first).
  while read -r name _; do
    case "$name" in
    /usr/lib/* | /System/Library/*) ;;
    @executable_path/../Frameworks/*)
      if [ ! -f "$app/Contents/Frameworks/${name#@executable_path/../Frameworks/}" ]; then
        echo "check-bundle: $file loads $name, which the bundle does not hold" >&2
        status=1
      fi
      ;;
    *)
      echo "check-bundle: $file loads $name, outside the bundle and the system" >&2
      status=1
      ;;
    esac
  done < <(otool -L "$file" | tail -n +2)
done < <(find "$app/Contents/MacOS" "$app/Contents/Frameworks" -type f -print0 2>/dev/null)
[ "$status" = 0 ] || exit 1

codesign --verify --deep --strict --verbose=2 "$app"
rm -f "$zip"
# ditto keeps what a zip made otherwise would lose: the signature's extended attributes and links.
ditto -c -k --keepParent "$app" "$zip"
echo "check-bundle: $app loads nothing from outside; packed into $zip"
