#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and the main job need.
# Idempotent: packages already present are left alone, and the package lists are refreshed once.
# Usage: scripts/setup.sh [--servers]   (--servers adds the database servers and ODBC drivers for
# the integration suite)
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates curl
  file  # cpack -G DEB tells programs and libraries apart with it
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  unixodbc unixodbc-dev
  nlohmann-json3-dev libcpp-httplib-dev libcli11-dev libgettextpo-dev
  libboost1.81-dev libssl-dev  # the host's HTTP server (Beast, Asio) and its TLS
  openssl                      # the TLS tests make their certificate with it
  prometheus-cpp-dev  # the host's metrics (its core library only)
  clang libclang-rt-14-dev
)
if [[ "${1:-}" == "--servers" ]]; then
  packages+=(odbc-postgresql odbc-mariadb libsqliteodbc postgresql mariadb-server mariadb-client)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  echo "setup: every package is installed"
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
