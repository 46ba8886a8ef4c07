#!/usr/bin/env bash
# Runs a test program on the X11 platform under Xvfb with openbox as the window manager, as on a
# desktop. Skipped (77) where either is missing.
set -u
command -v xvfb-run >/dev/null && command -v openbox >/dev/null || exit 77
exec xvfb-run -a -s "-screen 0 1600x900x24" bash -c '
  ready=$(mktemp -u)
  openbox --startup "touch $ready" >/dev/null 2>&1 &
  wm=$!
  # The test starts once openbox manages the screen: a window shown before would go unframed.
  for _ in $(seq 100); do [ -e "$ready" ] && break; sleep 0.1; done
  rm -f "$ready"
  QT_QPA_PLATFORM=xcb "$@"
  status=$?
  kill $wm 2>/dev/null
  exit $status
' _ "$@"
