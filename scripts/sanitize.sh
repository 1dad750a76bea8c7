#!/usr/bin/env bash
# Runs the test suite under the sanitizers:
#   build-asan  AddressSanitizer + UndefinedBehaviorSanitizer, the whole ctest suite;
#   build-tsan  ThreadSanitizer, every test program whose sources start threads (std::thread,
#               std::jthread, std::async), found by looking at tests/.
# Sanitizer reports go to files (SANITIZE_WORK, default a new folder under /tmp), so that a report
# from a child process (the command line run by its tests) counts too. Exits 1 when a test fails
# or any report was written, after printing the reports.
#
# Usage: scripts/sanitize.sh [asan|tsan ...]   (both by default)
# Environment: SANITIZE_JOBS (build and test jobs, default 2), CC/CXX (compiler, default the
# system's), TSAN_LABELS (a ctest label regex that replaces the test programs found).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

kinds=("$@")
((${#kinds[@]})) || kinds=(asan tsan)
jobs=${SANITIZE_JOBS:-2}
work=${SANITIZE_WORK:-$(mktemp -d /tmp/morvane-sanitize.XXXXXX)}
mkdir -p "$work"

# The test programs (ctest labels) whose sources start threads: tests/<folder> is test_<folder>,
# tests/platform/<folder> is test_<folder>.
thread_programs() {
  grep -rlE 'std::(thread|jthread|async)\b' "$root/tests" --include='*.cpp' |
    sed -E "s#^$root/tests/(platform/)?([^/]+)/.*#test_\2#" | sort -u
}

configure_and_build() {  # DIR OPTION [TARGET...]
  local dir=$1 option=$2
  shift 2
  # Optimised a little for speed, with the assertions kept (no NDEBUG).
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g" \
    -D"$option"=ON -DMORVANE_BUILD_TESTS=ON -DMORVANE_BUILD_BENCH=OFF >/dev/null
  if (($#)); then
    cmake --build "$dir" -j"$jobs" --target "$@"
  else
    cmake --build "$dir" -j"$jobs"
  fi
}

# Prints the reports written under PREFIX.*; succeeds when there is none.
no_reports() {
  local prefix=$1 clean=0 f
  for f in "$prefix".*; do
    [[ -e $f ]] || continue
    clean=1
    echo "---- $f" >&2
    cat "$f" >&2
  done
  return "$clean"
}

failed=()
for kind in "${kinds[@]}"; do
  case $kind in
    asan)
      echo "== build-asan: the whole suite" >&2
      configure_and_build "$root/build-asan" MORVANE_SANITIZE
      log=$work/asan
      status=0
      ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$log" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$log" \
        ctest --test-dir "$root/build-asan" --output-on-failure -j"$jobs" || status=$?
      ;;
    tsan)
      labels=${TSAN_LABELS:-}
      targets=()
      if [[ -z $labels ]]; then
        mapfile -t targets < <(thread_programs)
        labels="^($(IFS='|'; echo "${targets[*]}"))\$"
      fi
      echo "== build-tsan: $labels" >&2
      configure_and_build "$root/build-tsan" MORVANE_TSAN "${targets[@]}"
      log=$work/tsan
      status=0
      TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$log" \
        ctest --test-dir "$root/build-tsan" --output-on-failure -j"$jobs" -L "$labels" || status=$?
      ;;
    *)
      echo "sanitize: unknown kind '$kind' (asan or tsan)" >&2
      exit 2
      ;;
  esac
  if ! no_reports "$log"; then
    echo "sanitize: $kind wrote reports (above)" >&2
    status=1
  fi
  ((status == 0)) || failed+=("$kind")
done

if ((${#failed[@]})); then
  echo "sanitize: failed: ${failed[*]} (reports in $work)" >&2
  exit 1
fi
rm -rf "$work"
echo "sanitize: ${kinds[*]} passed" >&2
