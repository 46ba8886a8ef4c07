#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, and only those missing;
# with package names as arguments, those instead. Runs apt-get update only when something has to be
# installed.
set -euo pipefail

packages=("$@")
[ ${#packages[@]} -gt 0 ] || packages=(
  # build
  cmake g++ make ninja-build pkg-config qt6-base-dev libsqlite3-dev libxlsxwriter-dev mdbtools-dev
  libpq-dev
  libgtest-dev libgmock-dev libbenchmark-dev clang-format
  # run
  fonts-wine 7zip xdg-utils qt6-translations-l10n
  # the package and its test, the structure check
  dpkg-dev file lintian python3
  # tests and screenshots
  xvfb xauth openbox xdotool imagemagick sqlite3 unzip dbus dbus-daemon at-spi2-core python3-pyatspi mdbtools
  strace poppler-utils openssh-server sshfs postgresql-15 openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
