#!/usr/bin/env bash
# Starts a throwaway PostgreSQL cluster on a loopback port for the tests and
# prints the environment the tests read. Use: eval "$(scripts/start-test-postgres.sh)"
# The cluster lives in /tmp/corvane-pg; running it again reuses a live one.
# The test cluster trades durability for speed (fsync and synchronous commit
# off). With --production (or CORVANE_PG_PRODUCTION=1) it runs as production
# does, fsync, synchronous commit and full page writes on, for benchmarks.
set -euo pipefail
PRODUCTION=${CORVANE_PG_PRODUCTION:-0}
if [ "${1:-}" = "--production" ]; then PRODUCTION=1; fi
DURABILITY="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
if [ "$PRODUCTION" = 1 ]; then DURABILITY="-c fsync=on -c synchronous_commit=on -c full_page_writes=on"; fi
PORT=${CORVANE_PG_PORT:-55432}
DATA=${CORVANE_PG_DATA:-/tmp/corvane-pg}
BIN=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
RUNAS=()
if [ "$(id -u)" -eq 0 ]; then RUNAS=(runuser -u postgres --); fi

if ! "$BIN/pg_isready" -q -h 127.0.0.1 -p "$PORT"; then
  rm -rf "$DATA"
  mkdir -p "$DATA"
  [ "$(id -u)" -eq 0 ] && chown postgres "$DATA"
  "${RUNAS[@]}" "$BIN/initdb" -D "$DATA" -U postgres --auth-local=trust --auth-host=scram-sha-256 >/dev/null 2>&1
  "${RUNAS[@]}" "$BIN/pg_ctl" -D "$DATA" -l "$DATA/server.log" -w -s \
    -o "-p $PORT -k $DATA -c listen_addresses=127.0.0.1 $DURABILITY" start >&2
  "${RUNAS[@]}" "$BIN/psql" -q -h "$DATA" -p "$PORT" -U postgres -c "CREATE ROLE corvane LOGIN PASSWORD 'corvane-test'" >&2
  "${RUNAS[@]}" "$BIN/psql" -q -h "$DATA" -p "$PORT" -U postgres -c "CREATE DATABASE corvane OWNER corvane" >&2
fi
echo "export CORVANE_TEST_PG='Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$PORT;Database=corvane;Uid=corvane;Pwd=corvane-test;CommLog=0'"
echo "export CORVANE_TEST_PG_PORT=$PORT"
