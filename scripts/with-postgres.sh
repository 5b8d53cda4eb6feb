#!/usr/bin/env bash
# Runs a command beside a throwaway PostgreSQL server: initdb into a temporary folder, listening on
# a unix socket only, stopped and removed when the command ends. The command finds the server
# through P1_PG_HOST (the socket folder), P1_PG_PORT and P1_PG_USER.
set -euo pipefail

bindir=$( (ls -d /usr/lib/postgresql/*/bin 2>/dev/null || true) | sort -V | tail -n 1)
if [ -z "$bindir" ]; then
  echo "PostgreSQL introuvable (paquet postgresql non installé)" >&2
  exit 1
fi

workdir=$(mktemp -d /tmp/p1import-pg.XXXXXX)
chmod 755 "$workdir"
runas=()
if [ "$(id -u)" = 0 ]; then
  chown postgres "$workdir"
  runas=(runuser -u postgres --)
fi
stop_server() {
  "${runas[@]}" "$bindir/pg_ctl" -D "$workdir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$workdir"
}
trap stop_server EXIT

port=54329
"${runas[@]}" "$bindir/initdb" -D "$workdir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$workdir/initdb.log" 2>&1 \
  || { cat "$workdir/initdb.log" >&2; exit 1; }
"${runas[@]}" "$bindir/pg_ctl" -D "$workdir/data" -l "$workdir/server.log" -w \
  -o "-c listen_addresses='' -c unix_socket_directories='$workdir' -p $port -c max_connections=200" start >/dev/null \
  || { cat "$workdir/server.log" >&2; exit 1; }

export P1_PG_HOST="$workdir" P1_PG_PORT="$port" P1_PG_USER=postgres
"$@"
