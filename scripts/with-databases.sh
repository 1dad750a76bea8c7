#!/usr/bin/env bash
# Runs a command with database servers of its own for the integration suite:
#
#   scripts/with-databases.sh ctest --test-dir build --output-on-failure
#
# Starts PostgreSQL 15 and MariaDB in a temporary folder (loopback only, trust or test-password
# authentication, data thrown away afterwards), creates the test databases, and exports the ODBC
# connection strings the tests read:
#
#   MORVANE_TEST_PG            PostgreSQL through "PostgreSQL Unicode"
#   MORVANE_TEST_MARIADB       MariaDB through "MariaDB Unicode"
#   MORVANE_TEST_SQLITE_ODBC   a SQLite file through "SQLite3"
#
# A server (or driver) that cannot start is reported and its variable left unset; the command
# still runs, and the tests of that backend skip. The servers are stopped when the command ends,
# and the script exits with the command's exit code. Ports: 55432 and 53306, or the next free
# ones (MORVANE_PG_PORT and MORVANE_MARIADB_PORT choose others). When run as root, the servers
# run as the users "postgres" and "mysql" (the servers refuse root).
set -uo pipefail

if (($# == 0)); then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

PG_BIN=${MORVANE_PG_BIN:-/usr/lib/postgresql/15/bin}
ODBC_DRIVER_DIR=${MORVANE_ODBC_DRIVER_DIR:-/usr/lib/x86_64-linux-gnu/odbc}
root=$(mktemp -d "${TMPDIR:-/tmp}/morvane-databases-XXXXXX")
chmod 755 "$root"
pg_data="$root/postgresql"
maria_data="$root/mariadb"
maria_pid=""
pg_started=""

say() { echo "with-databases: $*" >&2; }

stop_servers() {
  if [[ -n "$pg_started" ]]; then
    as_user "$pg_user" "$PG_BIN/pg_ctl" -D "$pg_data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  if [[ -n "$maria_pid" ]]; then
    kill "$maria_pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$maria_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$maria_pid" 2>/dev/null || true
  fi
  rm -rf "$root"
}
trap stop_servers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a command as the given user (or as is when that is the current user).
as_user() {
  local user=$1
  shift
  if [[ "$user" == "$(id -un)" ]]; then "$@"; else runuser -u "$user" -- "$@"; fi
}

# The first port from $1 on that nothing listens on.
free_port() {
  local port=$1
  while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  echo "$port"
}

# Whether unixODBC knows the driver by name.
driver_known() { odbcinst -q -d -n "$1" >/dev/null 2>&1; }

# The drivers by the names Debian registers; when one is not registered but its library is
# there, a configuration of our own names all three.
configure_odbc() {
  command -v odbcinst >/dev/null || { say "unixODBC's odbcinst is missing (scripts/setup.sh --servers)"; return; }
  if driver_known "PostgreSQL Unicode" && driver_known "MariaDB Unicode" && driver_known "SQLite3"; then return; fi
  local ini="$root/odbcinst.ini"
  : >"$ini"
  local entry
  for entry in "PostgreSQL Unicode:psqlodbcw.so" "MariaDB Unicode:libmaodbc.so" "SQLite3:libsqlite3odbc.so"; do
    local name=${entry%%:*} lib="$ODBC_DRIVER_DIR/${entry#*:}"
    [[ -f "$lib" ]] && printf '[%s]\nDriver=%s\nThreading=0\n\n' "$name" "$lib" >>"$ini"
  done
  export ODBCSYSINI="$root" ODBCINSTINI="odbcinst.ini"
  say "wrote an ODBC driver configuration of its own ($ini)"
}

start_postgresql() {
  if [[ ! -x "$PG_BIN/pg_ctl" ]]; then say "PostgreSQL is not installed ($PG_BIN): its tests skip"; return 1; fi
  pg_user=$(id -un)
  if [[ $(id -u) -eq 0 ]]; then
    pg_user=postgres
    id postgres >/dev/null 2>&1 || { say "no user 'postgres' to run PostgreSQL as: its tests skip"; return 1; }
  fi
  mkdir -p "$pg_data" && chown "$pg_user" "$pg_data" && chmod 700 "$pg_data"
  if ! as_user "$pg_user" "$PG_BIN/initdb" -D "$pg_data" -U morvane --auth=trust --encoding=UTF8 --locale=C.UTF-8 \
      --no-sync >"$root/postgresql-init.log" 2>&1; then
    say "PostgreSQL initdb failed: its tests skip"; tail -n 20 "$root/postgresql-init.log" >&2; return 1
  fi
  local port
  port=$(free_port "${MORVANE_PG_PORT:-55432}")
  if ! as_user "$pg_user" "$PG_BIN/pg_ctl" -D "$pg_data" -w -t 60 -l "$pg_data/server.log" \
      -o "-p $port -k $pg_data -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
      start >/dev/null 2>&1; then
    say "PostgreSQL did not start: its tests skip"; tail -n 20 "$pg_data/server.log" >&2; return 1
  fi
  pg_started=1
  if ! as_user "$pg_user" "$PG_BIN/createdb" -h 127.0.0.1 -p "$port" -U morvane -E UTF8 -T template0 morvane_test \
      >"$root/postgresql-createdb.log" 2>&1; then
    say "cannot create the PostgreSQL test database: its tests skip"; cat "$root/postgresql-createdb.log" >&2; return 1
  fi
  export MORVANE_TEST_PG="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=morvane_test;UID=morvane;PWD=;CommLog=0;Debug=0"
  say "PostgreSQL on 127.0.0.1:$port"
}

start_mariadb() {
  local mariadbd
  mariadbd=$(command -v mariadbd || echo /usr/sbin/mariadbd)
  if [[ ! -x "$mariadbd" ]] || ! command -v mariadb-install-db >/dev/null; then
    say "MariaDB is not installed: its tests skip"; return 1
  fi
  local user
  user=$(id -un)
  if [[ $(id -u) -eq 0 ]]; then
    user=mysql
    id mysql >/dev/null 2>&1 || { say "no user 'mysql' to run MariaDB as: its tests skip"; return 1; }
  fi
  mkdir -p "$maria_data" && chown "$user" "$maria_data"
  if ! mariadb-install-db --no-defaults --datadir="$maria_data" --user="$user" --auth-root-authentication-method=socket \
      --skip-test-db --skip-name-resolve >"$root/mariadb-init.log" 2>&1; then
    say "mariadb-install-db failed: its tests skip"; tail -n 20 "$root/mariadb-init.log" >&2; return 1
  fi
  local port socket="$maria_data/mariadb.sock"
  port=$(free_port "${MORVANE_MARIADB_PORT:-53306}")
  "$mariadbd" --no-defaults --datadir="$maria_data" --user="$user" --socket="$socket" --port="$port" \
    --bind-address=127.0.0.1 --pid-file="$maria_data/mariadb.pid" --log-error="$maria_data/server.log" \
    --skip-name-resolve --skip-log-bin --performance-schema=OFF --character-set-server=utf8mb4 \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=16M --innodb-flush-log-at-trx-commit=0 \
    --innodb-doublewrite=0 --innodb-flush-method=nosync >/dev/null 2>&1 &
  maria_pid=$!
  local up=""
  for _ in $(seq 1 600); do
    if mariadb --no-defaults --socket="$socket" -u root -e "SELECT 1" >/dev/null 2>&1; then up=1; break; fi
    kill -0 "$maria_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z "$up" ]]; then
    say "MariaDB did not start: its tests skip"; tail -n 20 "$maria_data/server.log" >&2; return 1
  fi
  if ! mariadb --no-defaults --socket="$socket" -u root >"$root/mariadb-setup.log" 2>&1 <<'SQL'; then
CREATE DATABASE morvane_test CHARACTER SET utf8mb4;
CREATE USER 'morvane'@'127.0.0.1' IDENTIFIED BY 'morvane';
GRANT ALL PRIVILEGES ON *.* TO 'morvane'@'127.0.0.1';
SQL
    say "cannot create the MariaDB test database: its tests skip"; cat "$root/mariadb-setup.log" >&2; return 1
  fi
  export MORVANE_TEST_MARIADB="Driver={MariaDB Unicode};Server=127.0.0.1;Port=$port;Database=morvane_test;UID=morvane;PWD=morvane;CHARSET=utf8mb4"
  say "MariaDB on 127.0.0.1:$port"
}

configure_sqlite_odbc() {
  if ! driver_known "SQLite3"; then say "the SQLite3 ODBC driver is not installed: its tests skip"; return 1; fi
  export MORVANE_TEST_SQLITE_ODBC="Driver={SQLite3};Database=$root/sqlite-odbc.db;Timeout=5000"
  say "SQLite through ODBC at $root/sqlite-odbc.db"
}

unset MORVANE_TEST_PG MORVANE_TEST_MARIADB MORVANE_TEST_SQLITE_ODBC
configure_odbc
start_postgresql || true
start_mariadb || true
configure_sqlite_odbc || true

"$@"
status=$?
exit "$status"
