#!/usr/bin/env bash
# Regenerates docs/main-window.png: the program on the demo database, maximised on a 1600 x 900
# screen under Xvfb with a window manager, as a user sees it.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for p in xvfb xauth imagemagick openbox; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${need[@]}"
fi
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
echo "docs/main-window.png"
