#!/usr/bin/env bash
# The main job on the embedded SQLite default: creates the demo database and lists the voucher
# template settings of category 302 through the component, by late binding.
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
