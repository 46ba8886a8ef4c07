#!/usr/bin/env bash
# The Debian package as an office computer gets it: its control fields, every file with its mode
# and owner, lintian, and the installed programs run from an unpacked copy: reestr-db makes a
# database and the installed reestr opens it (offscreen).
#   check_package.sh VERSION   with REESTR_PACKAGE_DIR naming the folder `make package` wrote to.
set -euo pipefail
version=${1:?usage: check_package.sh VERSION}

command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb is not installed"; exit 77; }
deb="${REESTR_PACKAGE_DIR:-}/reestr_${version}_amd64.deb"
[ -f "$deb" ] || { echo "SKIP: no $deb (make test builds it with make package)"; exit 77; }

failed=0
fail() { echo "FAIL: $*"; failed=1; }

# Control fields: the version from the project, what apt must install with it.
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-wine xdg-utils 7zip libqt6widgets6 libsqlite3-0 libxlsxwriter4 libmdb3 libpq5; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
[ "$(dpkg-deb -f "$deb" Suggests)" = "rar" ] || fail "Suggests is '$(dpkg-deb -f "$deb" Suggests)'"
[ "$(dpkg-deb -f "$deb" Recommends)" = "qt6-translations-l10n" ] ||
  fail "Recommends is '$(dpkg-deb -f "$deb" Recommends)'"
# The menu entry tells the program it came from the menu, so that a first start asks.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/reestr.desktop |
  grep -qx 'Exec=reestr --from-menu' || fail "the menu entry does not start reestr --from-menu"

# Every file the package must hold, with its mode; everything belongs to root.
listing=$(dpkg-deb -c "$deb")
expect() { # MODE PATH
  grep -F -- " ./$2" <<<"$listing" | grep -q -- "^$1 root/root " || fail "missing or not $1: $2"
}
expect -rwxr-xr-x "usr/lib/reestr/reestr"
expect -rw-r--r-- "usr/lib/reestr/modules/reestr-postgres.so"
expect -rw-r--r-- "usr/lib/reestr/РУКОВОДСТВО ТЕРВАНОК.pdf"
expect lrwxrwxrwx "usr/bin/reestr"
expect -rwxr-xr-x "usr/bin/reestr-db"
expect -rw-r--r-- "usr/share/applications/reestr.desktop"
expect -rw-r--r-- "usr/share/icons/hicolor/scalable/apps/reestr.svg"
expect -rw-r--r-- "usr/share/icons/hicolor/48x48/apps/reestr.png"
expect -rw-r--r-- "usr/share/icons/hicolor/256x256/apps/reestr.png"
expect -rw-r--r-- "usr/share/man/man1/reestr.1.gz"
expect -rw-r--r-- "usr/share/man/man1/reestr-db.1.gz"
expect -rw-r--r-- "usr/share/doc/reestr/copyright"
expect -rw-r--r-- "usr/share/doc/reestr/changelog.gz"
grep -q " ./usr/bin/reestr -> ../lib/reestr/reestr$" <<<"$listing" || fail "usr/bin/reestr is not a link to the program"
if grep -v " root/root " <<<"$listing" | grep -q .; then fail "files not owned by root"; fi

# No errors and no warnings.
if command -v lintian >/dev/null; then
  report=$(lintian "$deb" 2>&1 | grep -E '^[EW]: ' || true)
  [ -z "$report" ] || fail "lintian: $report"
else
  echo "lintian is not installed: not run"
fi

# The installed programs, from an unpacked copy.
work=$(mktemp -d)
trap 'kill "$program" 2>/dev/null || true; rm -rf "$work"' EXIT
program=
dpkg-deb -x "$deb" "$work/root"
# The server engine's module finds every library it needs (libpq among them).
if ldd "$work/root/usr/lib/reestr/modules/reestr-postgres.so" | grep -q "not found"; then
  fail "the server module lacks a library: $(ldd "$work/root/usr/lib/reestr/modules/reestr-postgres.so" | grep "not found")"
fi
ldd "$work/root/usr/lib/reestr/reestr" | grep -q libpq && fail "the program itself loads libpq"
out=$("$work/root/usr/bin/reestr-db" --version)
[ "$out" = "reestr-db $version" ] || fail "reestr-db --version printed '$out'"
mkdir "$work/office"
(cd "$work/office" && "$work/root/usr/bin/reestr-db" init --demo >/dev/null) || fail "reestr-db init --demo failed"
if command -v sqlite3 >/dev/null; then
  people=$(sqlite3 "$work/office/Base.mdb" "SELECT count(*) FROM Main")
  [ "$people" -gt 0 ] || fail "the demo database holds no people"
fi
# The program through its link on the search path, in the folder holding Base.mdb: it opens the
# database (the engine's log appears beside it) and keeps running until it is ended.
(cd "$work/office" && QT_QPA_PLATFORM=offscreen exec "$work/root/usr/bin/reestr" >"$work/out" 2>&1) &
program=$!
for _ in $(seq 50); do
  [ -e "$work/office/Base.mdb-wal" ] && break
  sleep 0.1
done
[ -e "$work/office/Base.mdb-wal" ] || fail "the installed reestr did not open Base.mdb: $(cat "$work/out")"
sleep 1
kill -0 "$program" 2>/dev/null || fail "the installed reestr ended by itself: $(cat "$work/out")"
if grep -q "^reestr: " "$work/out"; then fail "the installed reestr reported: $(cat "$work/out")"; fi

[ "$failed" -eq 0 ] && echo "package $deb: fields, $(wc -l <<<"$listing") entries, lintian and installed programs checked"
exit "$failed"
