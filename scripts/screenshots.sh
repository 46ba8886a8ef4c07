#!/usr/bin/env bash
# Regenerates the pictures in docs/: the program on the demo database, maximised on a 1600 x 900
# screen under Xvfb with a window manager, as a user sees it (main-window.png), and the new record
# and reference books windows (new-record.png, reference-books.png).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh xvfb xauth imagemagick openbox
make build >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$OLDPWD/build/bin/reestr-db" init --demo >/dev/null)
mkdir -p docs
xvfb-run -a -s "-screen 0 1600x900x24" bash -c "
  openbox >/dev/null 2>&1 &
  sleep 1
  (cd '$work' && '$PWD/build/bin/reestr') &
  sleep 4
  import -window root '$PWD/docs/main-window.png'
  kill %2 %1
" 2>/dev/null || true
(cd "$work" && xvfb-run -a -s "-screen 0 1600x900x24" "$OLDPWD/build/bin/window-shots" "$OLDPWD/docs") 2>/dev/null
echo "docs/main-window.png docs/new-record.png docs/reference-books.png"
