#!/usr/bin/env bash
# The layout check on a small tree with one include of each kind it must refuse and of
# each kind it must let through, then on the project's own tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$root/scripts/check-layout.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

put() { mkdir -p "$(dirname "$tree/$1")"; printf '%s\n' "${@:2}" >"$tree/$1"; }
put app/a.cpp '#include "app/a.hpp"' '#include "ports/clock.hpp"' '#include <vector>' \
    '#include "adapters/gtk/page_view.hpp"' '  #  include <gtk/gtk.h>' '#include <glib-object.h>'
put layer/b.hpp '#pragma once' '#include "standin/model.hpp"' '#include "main/linux_main.cpp"' \
    '#include "geometry/geom.hpp"' '#include "shell/app_delegate.hpp"' '#include "base/text.hpp"'
put program/ppt.cpp '#include "program/ppt.hpp"' '#include "app/text.hpp"' '#include "layer/overlay.hpp"'
put ports/screens.hpp '#include "base/rect.hpp"' '#include "ports/clock.hpp"' '#include "log/app_state.hpp"'
put server/f.cpp 'int port = 1600;' 'if (code == -1712) return;' 'bool x = d == "NSURLErrorDomain";' 'int y = -6000;'
put adapters/gtk/c.cpp '#include <gtk/gtk.h>' '#include "app/a.hpp"' '#include "adapters/gtk/d.hpp"' \
    '#include "adapters/linux/desktop_places.hpp"'
put adapters/mac/e.mm '#import <AppKit/AppKit.h>' '#include "adapters/mac/f.hpp"' '#import "adapters/fake/g.hpp"' \
    'case -1743: return denied;'

expected='adapters/gtk/c.cpp:4: the gtk adapters include another family'"'"'s "adapters/linux/desktop_places.hpp"
adapters/mac/e.mm:3: the mac adapters include another family'"'"'s "adapters/fake/g.hpp"
app/a.cpp:4: the core includes the adapter "adapters/gtk/page_view.hpp"
app/a.cpp:5: the core includes the system UI header <gtk/gtk.h>
app/a.cpp:6: the core includes the system UI header <glib-object.h>
layer/b.hpp:2: the core includes "standin/model.hpp" from outside it
layer/b.hpp:3: "main/linux_main.cpp" is a program'"'"'s entry: nothing includes it
layer/b.hpp:5: layer/ includes "shell/app_delegate.hpp", a room above it
ports/screens.hpp:3: ports/ includes "log/app_state.hpp", a room above it
program/ppt.cpp:3: program/ includes "layer/overlay.hpp", a room above it
server/f.cpp:2: the core names a system'"'"'s error number or domain
server/f.cpp:3: the core names a system'"'"'s error number or domain'

status=0
got=$("$check" "$tree" 2>/dev/null) || status=$?
got=$(sort <<<"$got")
if [[ $status -ne 1 || $got != "$expected" ]]; then
    printf 'status %s, expected 1; got:\n%s\nexpected:\n%s\n' "$status" "$got" "$expected" >&2
    exit 1
fi
"$check" "$root/src"
