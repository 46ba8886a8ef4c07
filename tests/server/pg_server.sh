#!/usr/bin/env bash
# A PostgreSQL server of the tests' own, started once for all the tests that use one (a CTest
# fixture) and stopped after them: pg_server.sh start|stop STATE_FILE. "start" writes the admin's
# connection string to STATE_FILE; where PostgreSQL 15 is missing it writes the reason instead,
# and the server tests skip with it. The server refuses to run as root: as root it runs as nobody.
set -u
action=$1
state=$(realpath -m "$2")
bin=/usr/lib/postgresql/15/bin
run=()
if [ "$(id -u)" = 0 ]; then
  run=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi

# The server's user may not be able to enter the folder the tests run in.
cd /tmp

stop() {
  [ -f "$state.dir" ] || return 0
  dir=$(cat "$state.dir")
  "${run[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1
  rm -rf "$dir" "$state.dir"
}

case $action in
start)
  stop
  rm -f "$state"
  if [ ! -x "$bin/initdb" ]; then
    echo "skip: PostgreSQL 15 is not installed" > "$state"
    exit 0
  fi
  dir=$(mktemp -d /tmp/reestr-pg-XXXXXX)
  echo "$dir" > "$state.dir"
  chmod 755 "$dir"
  [ ${#run[@]} -eq 0 ] || chown 65534 "$dir"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  # Local connections are trusted; over TCP a password is asked, as an office's server would.
  if ! "${run[@]}" "$bin/initdb" -D "$dir/data" -U reestr -A trust --auth-host=scram-sha-256 \
        -E UTF8 --locale=C.UTF-8 > "$dir/initdb.log" 2>&1; then
    echo "fail: initdb: $(tail -3 "$dir/initdb.log")" > "$state"
    exit 1
  fi
  # TLS with a certificate for "localhost" signed by a certificate authority of the tests' own
  # ($dir/ca.crt), as an office's server reached from outside the building would have.
  tls=()
  if command -v openssl >/dev/null; then
    (cd "$dir" &&
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=reestr test CA" \
        -keyout ca.key -out ca.crt &&
      openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr &&
      printf 'subjectAltName=DNS:localhost\n' > server.ext &&
      openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
        -extfile server.ext -out server.crt) > "$dir/openssl.log" 2>&1 &&
      chmod 600 "$dir/server.key" && chmod 644 "$dir/ca.crt" &&
      { [ ${#run[@]} -eq 0 ] || chown 65534 "$dir/server.key" "$dir/server.crt"; } &&
      tls=(-c ssl=on -c "ssl_cert_file=$dir/server.crt" -c "ssl_key_file=$dir/server.key")
  fi
  if ! "${run[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
        -o "-k $dir -p $port -c listen_addresses=127.0.0.1 ${tls[*]}" start > /dev/null 2>&1; then
    echo "fail: the server did not start: $(tail -3 "$dir/server.log")" > "$state"
    exit 1
  fi
  echo "host=$dir port=$port user=reestr dbname=postgres" > "$state"
  ;;
stop)
  stop
  rm -f "$state"
  ;;
esac
