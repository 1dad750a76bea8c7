#!/usr/bin/env bash
# Builds the libFuzzer fuzzers with clang (build-fuzz) and runs each for a bounded time on a copy
# of its seed corpus, so that the repository is left as it is.
#
# Usage: scripts/fuzz.sh [SECONDS] [NAME...]
#   SECONDS  time for each fuzzer (default: $FUZZ_SECONDS, else 60)
#   NAME     the fuzzers to run (change_type, parse_string, get_key_value, json_value, host_request); all by default
# Environment: FUZZ_BUILD_DIR (default build-fuzz), FUZZ_WORK (scratch folder, default a new one
# under /tmp; kept when a fuzzer fails, removed otherwise unless FUZZ_KEEP=1), FUZZ_MAX_LEN
# (longest input, default 4096).
#
# Exits 1 when a fuzzer does not build, or crashes, leaks or times out, after printing the path of the input that
# did it; the input is replayed with: build-fuzz/fuzz/fuzz_NAME PATH
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${FUZZ_SECONDS:-60}
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
all=(change_type parse_string get_key_value json_value host_request)
names=("$@")
((${#names[@]})) || names=("${all[@]}")

build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
max_len=${FUZZ_MAX_LEN:-4096}

for cc in clang clang++; do
  if ! command -v "$cc" >/dev/null; then
    echo "fuzz: $cc not found; install clang (apt-get install clang)" >&2
    exit 2
  fi
done

# Optimised a little, but with the assertions kept (no NDEBUG).
echo "== configure $build" >&2
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g" \
  -DMORVANE_BUILD_FUZZ=ON -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_BENCH=OFF >/dev/null
# Each fuzzer is built on its own, so that one that does not build stops only itself.
failed=()
summary=()
built=()
for name in "${names[@]}"; do
  echo "== build fuzz_$name" >&2
  if cmake --build "$build" -j"${FUZZ_BUILD_JOBS:-2}" --target "fuzz_$name"; then
    built+=("$name")
  else
    failed+=("$name")
    summary+=("fuzz_$name: DID NOT BUILD")
  fi
done

work=${FUZZ_WORK:-$(mktemp -d /tmp/morvane-fuzz.XXXXXX)}
mkdir -p "$work"
echo "== scratch folder $work; $seconds s for each fuzzer" >&2

# Sanitizer reports stop the fuzzer at once; libFuzzer itself looks for leaks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:abort_on_error=1:print_stacktrace=1}

for name in "${built[@]}"; do
  seeds=$root/fuzz/corpus/$name
  corpus=$work/corpus/$name
  artifacts=$work/artifacts/$name/
  log=$work/$name.log
  mkdir -p "$corpus" "$artifacts"
  if [[ -d $seeds ]]; then cp -R "$seeds"/. "$corpus"/; fi
  dict=()
  if [[ -f $root/fuzz/$name.dict ]]; then dict=(-dict="$root/fuzz/$name.dict"); fi

  echo "== fuzz_$name" >&2
  status=0
  # The outer limit only guards against a fuzzer that stops answering.
  timeout --signal=KILL $((seconds + 300)) "$build/fuzz/fuzz_$name" "${dict[@]}" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" >"$log" 2>&1 || status=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(du -sb "$corpus" | cut -f1)
  line="fuzz_$name: ${runs:-?} runs, corpus $files files ($bytes bytes), exit $status"
  summary+=("$line")
  if ((status != 0)); then
    failed+=("$name")
    tail -n 60 "$log" >&2
    crash=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    echo "fuzz_$name FAILED; input: ${crash:-(none written, see $log)}" >&2
  fi
  echo "$line" >&2
done

echo "== summary" >&2
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "fuzz: failed: ${failed[*]}; logs and inputs kept in $work" >&2
  exit 1
fi
if [[ ${FUZZ_KEEP:-0} == 1 || -n ${FUZZ_WORK:-} ]]; then
  echo "fuzz: corpora kept in $work" >&2
else
  rm -rf "$work"
fi
