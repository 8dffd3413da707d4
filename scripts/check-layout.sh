#!/usr/bin/env bash
# Holds the source tree to its layering: includes run one way, main/ -> adapters/ -> the
# core, and inside the core from the composition down to the value types:
#   shell -> server -> layer -> geometry -> program -> app -> log -> runtime -> ports -> base
#   - a core room includes only itself and the rooms below it;
#   - the core includes no adapter, no program entry, nothing of the stand-in and no system
#     UI header;
#   - an adapter family (adapters/NAME/) includes no other family;
#   - the core decides nothing on a system's error numbers or domains: adapters turn them
#     into the ports' failure kinds.
# Prints each line that breaks a rule as FILE:LINE: why, and fails when there is one.
#
#   scripts/check-layout.sh [SRC]    # SRC defaults to the project's src/
set -euo pipefail

src=${1:-$(cd "$(dirname "$0")/.." && pwd)/src}
[[ -d $src ]] || { echo "no source folder at $src" >&2; exit 2; }

# Lowest first: a room may include its own files and those of the rooms before it.
core_rooms=(base ports runtime log app program geometry layer server shell)
declare -A rank
for i in "${!core_rooms[@]}"; do rank[${core_rooms[$i]}]=$i; done
# System UI headers: windows, web views, accessibility, events, the toolkits under them.
ui_headers='^(gtk|gdk|gdkx|webkit2|webkit|wpe|jsc|X11|glib|gio|gobject|cairo|pango|atk|Cocoa|AppKit|WebKit|Foundation|ApplicationServices|CoreGraphics|CoreFoundation|Carbon|QuartzCore|objc)/|^(glib|gio|gtk|gdk|cairo|X11)[-a-z0-9_]*\.h$'
# Apple-event and URL-loading error numbers and domains the adapters map to kinds.
system_errors='(^|[^0-9])-(1708|1743|600|1712|609)([^0-9]|$)|NSURLErrorDomain|WebKitErrorDomain'

faults=0
fault() {
    printf '%s:%s: %s\n' "${1#"$src"/}" "$2" "$3"
    faults=$((faults + 1))
}

# Every include of FILE as "LINE<TAB>KIND<TAB>TARGET", KIND being quote or angle.
includes() {
    grep -nE '^[[:space:]]*#[[:space:]]*(include|import)[[:space:]]*[<"]' "$1" |
        sed -nE 's/^([0-9]+):[^<"]*"([^"]+)".*/\1\tquote\t\2/p; s/^([0-9]+):[^<"]*<([^>]+)>.*/\1\tangle\t\2/p' || true
}

check_file() {
    local file=$1 room=$2 family=$3
    local line kind target
    while IFS=$'\t' read -r line kind target; do
        if [[ $kind == angle ]]; then
            if [[ -z $family && $target =~ $ui_headers ]]; then
                fault "$file" "$line" "the core includes the system UI header <$target>"
            fi
            continue
        fi
        case $target in
        adapters/*)
            if [[ -z $family ]]; then
                fault "$file" "$line" "the core includes the adapter \"$target\""
            elif [[ $target != adapters/$family/* ]]; then
                fault "$file" "$line" "the $family adapters include another family's \"$target\""
            fi
            ;;
        main/*) fault "$file" "$line" "\"$target\" is a program's entry: nothing includes it" ;;
        standin/* | ../*)
            [[ -z $family ]] && fault "$file" "$line" "the core includes \"$target\" from outside it"
            ;;
        esac
        local to=${target%%/*}
        if [[ -z $family && -n ${rank[$room]:-} && -n ${rank[$to]:-} && ${rank[$to]} -gt ${rank[$room]} ]]; then
            fault "$file" "$line" "$room/ includes \"$target\", a room above it"
        fi
    done < <(includes "$file")
}

check_terms() {
    local line
    while IFS=: read -r line _; do
        fault "$1" "$line" "the core names a system's error number or domain"
    done < <(grep -nE -- "$system_errors" "$1" || true)
}

shopt -s nullglob globstar
for room in "${core_rooms[@]}"; do
    for file in "$src/$room"/**/*.{hpp,cpp,h,mm}; do
        check_file "$file" "$room" ""
        check_terms "$file"
    done
done
for dir in "$src"/adapters/*/; do
    family=$(basename "$dir")
    for file in "$dir"**/*.{hpp,cpp,h,mm}; do check_file "$file" adapters "$family"; done
done

if ((faults > 0)); then
    echo "$faults line(s) against the layout" >&2
    exit 1
fi
echo "layout: includes run one way, and the core names no system's error numbers"
