#!/usr/bin/env bash
# The main job on the embedded SQLite default: creates the demo database and lists the voucher
# template settings of category 302 through the component, by late binding; then serves the same
# calls over HTTP (morvane serve) in the foreground until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/morvane
db=${MORVANE_DEMO_DB:-build/demo.db}

echo "== morvane init --demo --force --db $db" >&2
dsn=$("$bin" init --demo --force --db "$db")
echo "sDsn: $dsn" >&2
echo "== morvane call Morvane.VchTempSetInfo GetBLendList" >&2
args=$(python3 -c 'import json,sys; print(json.dumps([sys.argv[1]]))' "$dsn" 2>/dev/null || printf '["%s"]' "$dsn")
"$bin" call Morvane.VchTempSetInfo GetBLendList "$args"

# The same call over HTTP: the network host in the foreground on the demo database, until Ctrl-C.
# MORVANE_LISTEN chooses the address (default 127.0.0.1:8080); MORVANE_DEMO_SERVE=0 skips it.
if [[ "${MORVANE_DEMO_SERVE:-1}" != 0 ]]; then
  listen=${MORVANE_LISTEN:-127.0.0.1:8080}
  # The connection string inside the sDsn's braces: the one database the host may open.
  connect=${dsn#*ConnectString=\{}
  connect=${connect%%\}*}
  quote="'\\''"
  echo "== morvane serve --listen $listen --allow '$connect'" >&2
  echo "In another terminal:" >&2
  echo "  curl -s -X POST http://$listen/v1/Morvane.VchTempSetInfo/GetBaseList -d '${args//\'/$quote}'" >&2
  exec "$bin" serve --listen "$listen" --allow "$connect"
fi
