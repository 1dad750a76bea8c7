#!/usr/bin/env bash
# Builds the benchmark program in Release (in build-bench, or $MORVANE_BENCH_BUILD) when it is out
# of date and runs it; every argument passes through:
#
#   scripts/bench.sh                 the full run (several minutes), one table row per figure
#   scripts/bench.sh --quick         small sizes, one run per side, no target asserted
#   scripts/bench.sh --runs 3 --only sqlite,http
#
# The PostgreSQL figure needs MORVANE_TEST_PG; scripts/with-databases.sh starts a server and
# sets it:  scripts/with-databases.sh scripts/bench.sh
#
# The build's own output goes to standard error, so standard output is the table alone.
# Warnings are not errors in this build, which is for measuring; the Release build of .ci/run
# keeps the -O3 build free of warnings.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MORVANE_BENCH_BUILD:-build-bench}
{
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=OFF
  cmake --build "$build" --target morvane_bench -j2
} >&2
exec "$build/morvane_bench" "$@"
