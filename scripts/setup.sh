#!/usr/bin/env bash
# Installs what gentrmx needs to build, run its demo and run its tests on a
# Debian machine. Installs only the packages that are missing; needs root.
set -euo pipefail

packages=(
  g++ clang cmake make pkg-config dpkg-dev
  unixodbc unixodbc-dev odbcinst libsqliteodbc tdsodbc python3
  sqlite3 libsqlite3-dev
  libgtest-dev
  libclang-rt-14-dev valgrind time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
