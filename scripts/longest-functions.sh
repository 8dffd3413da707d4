#!/usr/bin/env bash
# The longest functions under src/ (universal-ctags finds where each starts and ends):
# prints the COUNT longest as "LINES NAME FILE:LINE". With a LIMIT, fails when any function
# is longer than LIMIT lines.
#
#   scripts/longest-functions.sh [COUNT] [LIMIT]     # COUNT defaults to 10
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10}
limit=${2:-}
command -v ctags >/dev/null || { echo "universal-ctags is needed: apt-get install -y universal-ctags" >&2; exit 2; }

lengths=$(cd "$root" && ctags -R --languages=C++ --kinds-C++=f --fields=+ne -x \
    --_xformat='%{line} %{end} %{scope}::%N %F' src |
    awk '$2 ~ /^[0-9]+$/ { name = $3; sub(/^::/, "", name); print $2 - $1 + 1, name, $4 ":" $1 }' | sort -rn)
head -n "$count" <<<"$lengths"
if [[ -n $limit ]]; then
    over=$(awk -v limit="$limit" '$1 > limit' <<<"$lengths" | wc -l)
    if ((over > 0)); then
        echo "$over function(s) longer than $limit lines" >&2
        exit 1
    fi
fi
