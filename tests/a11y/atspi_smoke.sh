#!/usr/bin/env bash
# Runs the real program under Xvfb with a private D-Bus session and finds the main grid's cells
# through AT-SPI. Skipped (77) where the accessibility bus or its Python binding is missing.
set -u
program=$1
dbtool=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v dbus-run-session >/dev/null && command -v xvfb-run >/dev/null || exit 77
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || exit 77

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$dbtool" init --demo >/dev/null) || exit 1

dbus-run-session -- xvfb-run -a -s "-screen 0 1600x900x24" bash -c '
  cd "$1"
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 "$2" &
  app=$!
  /usr/bin/python3 "$3/find_cells.py" > "$1/found.txt" 2>&1
  status=$?
  kill $app 2>/dev/null
  wait $app 2>/dev/null
  exit $status
' _ "$work" "$program" "$here"
status=$?
cat "$work/found.txt"
grep -q "Иванов Сергей Петрович" "$work/found.txt" || exit 1
exit $status
