#!/usr/bin/env bash
# Runs every benchmark program in BIN and ends with their target lines, one per target.
set -euo pipefail
bin=$(realpath "${1:?usage: run-benchmarks.sh BIN}")
ratios=$(mktemp)
# The server benchmarks run against a server of their own, started here and stopped at the end.
server_state=$(mktemp -u /tmp/reestr-bench-server-XXXXXX)
here=$(dirname "$(realpath "$0")")
trap 'rm -f "$ratios"; bash "$here/../tests/server/pg_server.sh" stop "$server_state"' EXIT
bash "$here/../tests/server/pg_server.sh" start "$server_state"
REESTR_BENCH_SERVER=$(cat "$server_state")
export REESTR_BENCH_SERVER
for b in "$bin"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  (cd "$(mktemp -d)" && REESTR_RATIO_FILE="$ratios" "$b")
done
echo
cat "$ratios"
# A missed target fails the run.
awk '$1 == "ratio" && $3 + 0 > substr($4, 9) + 0 { print "missed: " $2; missed = 1 }
     END { exit missed }' "$ratios"
