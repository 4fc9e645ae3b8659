#!/usr/bin/env bash
# Starts a throwaway MariaDB server on a loopback port for the tests and
# prints the environment the tests read. Use: eval "$(scripts/start-test-mariadb.sh)"
# The server lives in /tmp/corvane-mariadb; running it again reuses a live one.
# CORVANE_MARIADB_PORT and CORVANE_MARIADB_DATA choose another port and folder.
set -euo pipefail
PORT=${CORVANE_MARIADB_PORT:-53306}
DATA=${CORVANE_MARIADB_DATA:-/tmp/corvane-mariadb}
SOCKET=$DATA/mariadb.sock
USER_OPT=()
if [ "$(id -u)" -eq 0 ]; then USER_OPT=(--user=mysql); fi

alive() { mariadb-admin --no-defaults --protocol=tcp -h 127.0.0.1 -P "$PORT" -u corvane -pcorvane-test ping >/dev/null 2>&1; }

if ! alive; then
  [ -f "$DATA/mariadb.pid" ] && kill "$(cat "$DATA/mariadb.pid")" 2>/dev/null && sleep 1
  rm -rf "$DATA"
  mkdir -p "$DATA/db"
  [ "$(id -u)" -eq 0 ] && chown -R mysql:mysql "$DATA"
  mariadb-install-db --no-defaults "${USER_OPT[@]}" --datadir="$DATA/db" --auth-root-authentication-method=socket \
    --auth-root-socket-user="$(id -un)" --skip-test-db >"$DATA/install.log" 2>&1
  # Durability is not wanted of a test server (no flush per commit, no doublewrite);
  # the character set and collation are those of Debian's own server configuration.
  setsid mariadbd --no-defaults "${USER_OPT[@]}" --datadir="$DATA/db" --port="$PORT" --bind-address=127.0.0.1 \
    --socket="$SOCKET" --pid-file="$DATA/mariadb.pid" --log-error="$DATA/server.log" \
    --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --innodb-buffer-pool-size=256M \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci --max-connections=200 \
    </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 300); do
    mariadb-admin --no-defaults --socket="$SOCKET" -u "$(id -un)" ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb --no-defaults --socket="$SOCKET" -u "$(id -un)" >&2 <<'SQL'
CREATE DATABASE corvane CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
CREATE USER 'corvane'@'127.0.0.1' IDENTIFIED BY 'corvane-test';
GRANT ALL PRIVILEGES ON corvane.* TO 'corvane'@'127.0.0.1';
SQL
  alive || { echo "MariaDB did not start; see $DATA/server.log" >&2; exit 1; }
fi
echo "export CORVANE_TEST_MARIADB='Driver={MariaDB Unicode};Server=127.0.0.1;Port=$PORT;Database=corvane;Uid=corvane;Pwd=corvane-test;CharSet=utf8mb4'"
echo "export CORVANE_TEST_MARIADB_PORT=$PORT"
