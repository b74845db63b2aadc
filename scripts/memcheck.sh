#!/usr/bin/env bash
# Runs each download function once under valgrind's memcheck on a small
# sample installation of the embedded SQLite data source, and fails on any
# memory error and on any block that is definitely lost. The run closes its
# database connection at its end; what the driver manager and the SQLite
# driver keep beyond it is suppressed in tests/valgrind.supp, each entry
# with its reason. Prints one line per
# function; the full valgrind report of a function that fails is shown and
# kept under <build>/memcheck/.
#
#   bash scripts/memcheck.sh [badges]       (default 300 badges)
#
# MEMCHECK_BUILD_DIR chooses the build folder (default build-memcheck): a
# Debug build without sanitizers, tests off.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
badges=${1:-300}
build=${MEMCHECK_BUILD_DIR:-$root/build-memcheck}

if ! [[ "$badges" =~ ^[0-9]+$ ]]; then
  echo "memcheck: the number of badges must be a whole number, not '$badges'"
  exit 2
fi

bash scripts/setup.sh
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DGENTRMX_SANITIZE=OFF -DGENTRMX_BUSY_CHECK=OFF \
  -DGENTRMX_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target gentrmx gentrmx-config gentrmx-sample gentrmx_sqlext >/dev/null

# The installation, laid out as the tool expects it: it runs in
# $inst/work/dir and reads ../../files/quillnest.ini.
inst=$(mktemp -d "${TMPDIR:-/tmp}/gentrmx-memcheck.XXXXXX")
trap 'rm -rf "$inst"' EXIT
mkdir -p "$inst/files" "$inst/work/dir" "$inst/out"
"$build/gentrmx-sample" --db "$inst/dravonix.db" --badges "$badges" --seed 1 >/dev/null 2>&1

"$build/gentrmx-odbc-setup" sqlite "$inst" GENTRMX_MEMCHECK "$inst/dravonix.db" "$build/gentrmx_sqlext.so" --step-api
export ODBCSYSINI=$inst ODBCINI=$inst/odbc.ini
unset ODBCINSTINI GENTRMX_SQL_LOG

cfg=$inst/files/quillnest.ini
"$build/gentrmx-config" set "$cfg" LOGIN gentrmx >/dev/null 2>&1
"$build/gentrmx-config" set "$cfg" PASS memcheck-secret >/dev/null 2>&1
"$build/gentrmx-config" set "$cfg" DATABASE GENTRMX_MEMCHECK >/dev/null 2>&1
"$build/gentrmx-config" set "$cfg" DB_SYSTEM MSSQL >/dev/null 2>&1
"$build/gentrmx-config" set "$cfg" SCHEMA 'Dravonix.' >/dev/null 2>&1

reports=$build/memcheck
rm -rf "$reports"
mkdir -p "$reports"

# TERM01 is bound to its client rows and has eleven readers; it is of the
# model whose MGDNL18P records take each badge's own display definitions,
# so every query of the tool runs.
terminal=TERM01
failed=0
for function in MGDNL17P MGDNL18P MGDNL31P MGDNL60P IDSTAMM; do
  log=$reports/$function.log
  status=0
  (cd "$inst/work/dir" &&
    valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=99 \
      --suppressions="$root/tests/valgrind.supp" --num-callers=30 --log-file="$log" \
      "$build/gentrmx" "$function" "$terminal" "$inst/out/$function.dat" 1) >"$reports/$function.out" || status=$?
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9,]*\) errors.*/\1/p' "$log" | tail -n 1)
  lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1)
  summary=$(grep -a '^Ausweise gesamt' "$reports/$function.out" | tail -n 1 || true)
  line=$(printf '%-9s exit %-3s errors %-3s definitely lost %s bytes   %s' \
    "$function" "$status" "${errors:-?}" "${lost:-0}" "$summary")
  if [ "$status" -ne 0 ] || [ "${errors:-1}" != 0 ]; then
    echo "FAIL $line"
    cat "$log"
    failed=1
  else
    echo "ok   $line"
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "memcheck: errors or definite leaks found; reports in $reports"
  exit 1
fi
echo "memcheck: no memory errors, no definite leaks"
