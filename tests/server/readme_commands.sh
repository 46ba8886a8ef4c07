#!/usr/bin/env bash
# The README's commands that put a register on a server, run as they are written there against the
# tests' server (readme_commands.sh README BIN_DIR STATE_FILE): "sudo -u postgres" runs as the
# server's administrator, SERVER is the server's socket folder, and the program itself, the last
# line, is left to the windows' tests. Passes when every command succeeds and the office's role
# then reads the register through the settings the commands wrote.
set -eu
readme=$1
export PATH="$2:$PATH"
conn=$(cat "$3")
case $conn in
skip:*) echo "$conn"; exit 77 ;;
fail:*) echo "$conn"; exit 1 ;;
esac
dir=$(sed -n 's/.*host=\([^ ]*\).*/\1/p' <<<"$conn")
export PGHOST=$dir PGPORT=$(sed -n 's/.*port=\([^ ]*\).*/\1/p' <<<"$conn")
admin=$(sed -n 's/.*user=\([^ ]*\).*/\1/p' <<<"$conn")
HOME=$(mktemp -d)
export HOME
cleanup() {
  psql -U "$admin" -d postgres -qc "DROP DATABASE IF EXISTS reestr WITH (FORCE)" \
    -c "DROP ROLE IF EXISTS reestr_reader" -c "DROP ROLE IF EXISTS reestr_editor" \
    -c "DROP ROLE IF EXISTS office" >/dev/null 2>&1 || true
  rm -rf "$HOME"
}
trap cleanup EXIT
cleanup

# The first block of commands after the heading "Several computers".
block=$(awk '/^## Several computers/ { on = 1 } on && /^```/ { if (inside) exit; inside = 1; next }
             inside' "$readme")
[ -n "$block" ] || { echo "no commands under 'Several computers' in $readme"; exit 1; }
while IFS= read -r line; do
  command=${line%%  #*}
  command=${command//SERVER/$dir}
  user=$(id -un)
  case $command in
  "sudo -u postgres "*) command=${command#sudo -u postgres }; user=$admin ;;
  reestr | "reestr "*) continue ;;
  esac
  echo "+ $command"
  # Without a terminal a password prompt reads its answer from the input.
  if ! printf 'Пароль-1\nПароль-1\n' | PGUSER=$user setsid -w bash -c "$command"; then
    echo "failed as written: $line"
    exit 1
  fi
done <<<"$block"

server=$(sed -n 's/^server="\(.*\)"$/\1/p' "$HOME/.config/reestr/reestr.conf")
[ "$(psql "$server" -Atc 'SELECT count(*) FROM God')" -gt 0 ]
[ "$(psql "$server" -Atc 'SELECT current_user')" = office ]
echo "the README's commands made a register the office's role opens"
