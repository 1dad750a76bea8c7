#!/usr/bin/env bash
# The installed tree and the Debian package, used from outside the build the way a user uses them.
#
# 1. `cmake --install` of the build tree into WORK, then the prefix is moved elsewhere, so that
#    nothing may depend on where it was installed: the executable must find its library through
#    its relative run path, and the library its catalogues relative to itself. The executable
#    prints its version, creates a demo database and lists through the component, in Chinese and
#    in English (list texts and error texts).
# 2. A program of a library user (consumer/) is configured and built against the moved prefix with
#    find_package(Morvane) and run: the installed headers compile on their own (it includes each of
#    them) and Morvane::morvane links.
# 3. `cpack -G DEB` packs the build tree; dpkg installs the package into a scratch root (--instdir,
#    which only moves the files: the package has no maintainer scripts to run in a root) with a
#    package database of its own (--admindir), and the executable is run from there.
#
# Only files the build tree already holds are installed and packed; nothing is rebuilt. Programs
# run without LD_LIBRARY_PATH and MORVANE_RESOURCES. WORK is emptied first and removed when
# everything passed (kept for a look otherwise).
#
# Usage (from ctest, see tests/CMakeLists.txt): install_test.sh BUILD_DIR SOURCE_DIR WORK VERSION
# Environment: CMAKE, CPACK (default: those on PATH), CMAKE_GENERATOR, CXX, CCACHE (for the consumer).
set -euo pipefail
build=$1 source=$2 work=$3 version=$4
cmake=${CMAKE:-cmake}
cpack=${CPACK:-cpack}
unset LD_LIBRARY_PATH MORVANE_RESOURCES

fail() {
  echo "install test: $*" >&2
  exit 1
}

# expect_in TEXT WHAT NEEDLE...: fails unless TEXT holds every NEEDLE.
expect_in() {
  local text=$1 what=$2 needle
  shift 2
  for needle in "$@"; do
    [[ $text == *"$needle"* ]] || fail "$what lacks \"$needle\":"$'\n'"$text"
  done
}

# The JSON text of a string.
json_text() {
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

# check_executable BIN DB: BIN prints the version, creates the demo database DB and lists through
# the component; the sDsn's LANGUAGE chooses Chinese or English texts. Sets dsn_en.
check_executable() {
  local bin=$1 db=$2 out dsn args code
  out=$("$bin" --version) || fail "$bin --version exited with $?"
  [[ $out == "morvane $version" ]] || fail "$bin --version printed \"$out\", not \"morvane $version\""

  dsn=$("$bin" init --db "$db" --demo) || fail "$bin init exited with $?"
  expect_in "$dsn" "the sDsn of init" "Data Source=$db" ";LANGUAGE=chs;"
  out=$("$bin" call Morvane.VchTempSetInfo GetBaseList "[$(json_text "$dsn")]") ||
    fail "GetBaseList exited with $?"
  expect_in "$out" "GetBaseList in Chinese" '"FTypeID":"301"' '"FTypeName":"成本项目"'

  dsn_en=${dsn/;LANGUAGE=chs;/;LANGUAGE=en;}
  args="[$(json_text "$dsn_en")"
  out=$("$bin" call Morvane.VchTempSetInfo GetBaseList "$args]") || fail "GetBaseList exited with $?"
  expect_in "$out" "GetBaseList in English" '"FTypeName":"Cost item'
  # An update whose key names no field: its error text comes from the English catalogue too.
  code=0
  out=$("$bin" call Morvane.VchTempSetUpdate Update "$args, {}, [{\"FRemark\": \"x\"}], true]" 2>&1) || code=$?
  ((code == 1)) || fail "an Update without key exited with $code, not 1: $out"
  expect_in "$out" "the error of an Update without key" "The condition does not hold every key field"
}

rm -rf "$work"
mkdir -p "$work"

# -- 1. cmake --install, then the prefix moved ---------------------------------------------------
"$cmake" --install "$build" --prefix "$work/installed" >"$work/install.log"
mv "$work/installed" "$work/moved"
prefix=$work/moved
headers=$prefix/include/morvane

# Only the public headers: each is an entry point of the library's use or included by one.
entry_headers=(platform/automation/convert.h platform/automation/error.h
  platform/automation/late_binding.h platform/automation/registry.h platform/automation/variant.h
  platform/mts/runtime.h service/module.h)
mapfile -t installed < <(cd "$headers" && find . -type f | sed 's#^\./##' | sort)
reached=" ${entry_headers[*]} $(cd "$headers" && sed -n 's/^#include "\([^"]*\)".*/\1/p' "${installed[@]}" | tr '\n' ' ')"
for header in "${installed[@]}"; do
  [[ $reached == *" $header "* ]] || fail "include/morvane/$header is installed but no public header needs it"
done
for header in "${entry_headers[@]}"; do
  [[ -f $headers/$header ]] || fail "the public header include/morvane/$header is not installed"
done

# The catalogues read are the installed ones, not the source tree's (which holds the same texts):
# the installed English catalogue gets a marked text.
catalogue=$prefix/share/morvane/resources/TorCost/en.po
grep -q '^msgstr "Cost item"$' "$catalogue" || fail "$catalogue holds no \"Cost item\""
sed -i 's/^msgstr "Cost item"$/msgstr "Cost item (installed)"/' "$catalogue"

check_executable "$prefix/bin/morvane" "$work/installed.db"
out=$("$prefix/bin/morvane" call Morvane.VchTempSetInfo GetBaseList "[$(json_text "$dsn_en")]")
expect_in "$out" "GetBaseList from the moved prefix" '"FTypeName":"Cost item (installed)"'
echo "install test: the moved install runs and reads its own catalogues"

# -- 2. a program of a library user --------------------------------------------------------------
options=(-DCMAKE_PREFIX_PATH="$prefix")
[[ -z ${CMAKE_GENERATOR:-} ]] || options+=(-G "$CMAKE_GENERATOR")
[[ -z ${CXX:-} ]] || options+=(-DCMAKE_CXX_COMPILER="$CXX")
[[ -z ${CCACHE:-} ]] || options+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$CCACHE")
"$cmake" -S "$source/tests/install/consumer" -B "$work/consumer" "${options[@]}" >"$work/consumer.log" ||
  fail "the consumer does not configure against the installed package (see $work/consumer.log)"
"$cmake" --build "$work/consumer" -j2 >>"$work/consumer.log" 2>&1 ||
  fail "the consumer does not build against the installed headers:"$'\n'"$(tail -40 "$work/consumer.log")"
out=$("$work/consumer/consumer" "$dsn_en") || fail "the consumer exited with $?: $out"
expect_in "$out" "the consumer's output" "FTypeName Cost item (installed)"
[[ $out =~ rows\ ([0-9]+) ]] && ((BASH_REMATCH[1] > 0)) || fail "the consumer listed no rows: $out"
echo "install test: a program built with find_package(Morvane) calls the component"

# -- 3. the Debian package -----------------------------------------------------------------------
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  fail "cpack failed:"$'\n'"$(cat "$work/cpack.log")"
debs=("$work"/package/*.deb)
((${#debs[@]} == 1)) && [[ -f ${debs[0]} ]] || fail "cpack made ${#debs[@]} packages, not one"
deb=${debs[0]}
control=$(dpkg-deb --field "$deb")
expect_in "$control" "the package's control fields" "Package: morvane"$'\n' "Version: $version"$'\n' \
  "Maintainer: " "Description: " libsqlite3-0 libodbc2 libgettextpo0
contents=$(dpkg-deb --contents "$deb")
expect_in "$contents" "the package's files" ./usr/bin/morvane /libmorvane.so.5 \
  ./usr/include/morvane/service/module.h /cmake/Morvane/MorvaneConfig.cmake \
  ./usr/share/morvane/resources/TorCost/en.po
[[ $contents != *"/host/"* && $contents != *"/cli/"* ]] || fail "the package holds internal headers"

# dpkg -i into the scratch root, with its package database inside that root (dpkg runs maintainer
# scripts only so); --force-depends: that database knows none of the packages this one depends on.
# The scratch root holds no shell to chroot into, so the maintainer scripts run outside it
# (script-chrootless). The package's postinst refreshes the library cache with ldconfig; a scratch
# root has none to refresh, and the system's is none of this test's business, so a stub stands in.
root=$work/root
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers" "$work/stub"
touch "$admin/status" "$admin/available"
printf '#!/bin/sh\nexit 0\n' >"$work/stub/ldconfig"
chmod +x "$work/stub/ldconfig"
PATH="$work/stub:$PATH" dpkg -i --instdir="$root" --admindir="$admin" --force-not-root --force-depends \
  --force-script-chrootless --log="$work/dpkg.log" "$deb" >"$work/dpkg.out" 2>&1 ||
  fail "dpkg -i failed:"$'\n'"$(cat "$work/dpkg.out")"
check_executable "$root/usr/bin/morvane" "$work/packaged.db"
echo "install test: $(basename "$deb") installs with dpkg and runs from $root"
echo "$control" | grep '^Depends:'

rm -rf "$work"
