#!/usr/bin/env bash
# Runs the test suite under the sanitizers:
#   build-asan  AddressSanitizer + UndefinedBehaviorSanitizer, every test program;
#   build-tsan  ThreadSanitizer, every test program with a source that starts threads
#               (std::thread, std::jthread, std::async), found by looking at tests/.
# Each program is built on its own: one that does not build fails the run, but the others are
# still tested.
# Suppressions (scripts/sanitizers/) name third-party libraries only, never the project's code.
# Sanitizer reports go to files (SANITIZE_WORK, default a new folder under /tmp), so that a report
# from a child process (the command line run by its tests) counts too. Exits 1 when a test fails
# or any report was written, after printing the reports.
#
# Usage: scripts/sanitize.sh [asan|tsan ...]   (both by default)
# Environment: SANITIZE_JOBS (build and test jobs, default 2), CC/CXX (compiler, default the
# system's), TSAN_PROGRAMS (test programs to run under ThreadSanitizer, instead of those found).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

kinds=("$@")
((${#kinds[@]})) || kinds=(asan tsan)
jobs=${SANITIZE_JOBS:-2}
work=${SANITIZE_WORK:-$(mktemp -d /tmp/morvane-sanitize.XXXXXX)}
mkdir -p "$work"

# Test program (and ctest label) of each folder of tests/: tests/<folder> is test_<folder>,
# tests/platform/<folder> is test_<folder> (as tests/CMakeLists.txt names them). With a pattern,
# only the programs with a source that matches it. tests/install is no test program (its C++ is
# a library user's program, built by the install test against an installed tree).
test_programs() {  # [GREP-PATTERN]
  local files
  if (($#)); then
    files=$(grep -rlE "$1" "$root/tests" --include='*.cpp' --exclude-dir=install || true)
  else
    files=$(find "$root/tests" -name '*.cpp' -not -path "$root/tests/install/*")
  fi
  [[ -n $files ]] || return 0
  sed -E "s#^$root/tests/(platform/)?([^/]+)/.*#test_\2#" <<<"$files" | sort -u
}

# Configures DIR with OPTION on, then builds each program on its own, so that the programs that
# build are tested even while another does not; fills `built` and adds the others to `broken`.
configure_and_build() {  # DIR OPTION PROGRAM...
  local dir=$1 option=$2 program
  shift 2
  # Debug: with optimisation, GCC 12 warns falsely inside <regex> under the sanitizers
  # (-Wmaybe-uninitialized), and warnings are errors here; Debug also keeps the assert.
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -D"$option"=ON -DMORVANE_BUILD_TESTS=ON -DMORVANE_BUILD_BENCH=OFF >/dev/null
  built=()
  for program in "$@"; do
    if cmake --build "$dir" -j"$jobs" --target "$program"; then
      built+=("$program")
    else
      broken+=("$program ($(basename "$dir"))")
      echo "sanitize: $program DID NOT BUILD in $dir" >&2
    fi
  done
}

# Runs ctest in DIR on the programs in `built`; returns ctest's status.
run_built() {  # DIR
  ((${#built[@]})) || return 0
  ctest --test-dir "$1" --output-on-failure -j"$jobs" -L "^($(IFS='|'; echo "${built[*]}"))\$"
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
broken=()
for kind in "${kinds[@]}"; do
  status=0
  case $kind in
    asan)
      mapfile -t programs < <(test_programs)
      echo "== build-asan: ${programs[*]}" >&2
      configure_and_build "$root/build-asan" MORVANE_SANITIZE "${programs[@]}"
      log=$work/asan
      ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$log" \
      LSAN_OPTIONS="suppressions=$root/scripts/sanitizers/lsan.supp:print_suppressions=0" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$log" \
        run_built "$root/build-asan" || status=$?
      ;;
    tsan)
      if [[ -n ${TSAN_PROGRAMS:-} ]]; then
        read -ra programs <<<"$TSAN_PROGRAMS"
      else
        mapfile -t programs < <(test_programs 'std::(thread|jthread|async)\b')
      fi
      echo "== build-tsan: ${programs[*]}" >&2
      configure_and_build "$root/build-tsan" MORVANE_TSAN "${programs[@]}"
      log=$work/tsan
      TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/sanitizers/tsan.supp:log_path=$log" \
        run_built "$root/build-tsan" || status=$?
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

if ((${#broken[@]})); then
  echo "sanitize: did not build: ${broken[*]}" >&2
  failed+=(build)
fi
if ((${#failed[@]})); then
  echo "sanitize: failed: ${failed[*]} (reports in $work)" >&2
  exit 1
fi
rm -rf "$work"
echo "sanitize: ${kinds[*]} passed" >&2
