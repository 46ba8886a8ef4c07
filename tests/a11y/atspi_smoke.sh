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
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb \
    LSAN_OPTIONS=suppressions="$3/../lsan.supp" "$2" 2> "$1/program.txt" &
  app=$!
  /usr/bin/python3 "$3/find_cells.py" > "$1/found.txt" 2>&1
  status=$?
  # The finder chose ВЫХОД: the program ends by itself, its leak check included.
  for _ in $(seq 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
  if kill -0 $app 2>/dev/null; then
    echo "the program did not end after ВЫХОД" >> "$1/found.txt"
    kill $app
    status=1
  fi
  wait $app || { echo "the program ended with status $?" >> "$1/found.txt"; status=1; }
  exit $status
' _ "$work" "$program" "$here"
status=$?
cat "$work/found.txt"
echo "program stderr:"; cat "$work/program.txt"
grep -q LeakSanitizer "$work/program.txt" && exit 1
grep -q "Иванов Сергей Петрович" "$work/found.txt" || exit 1
exit $status
