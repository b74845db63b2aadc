#!/usr/bin/env bash
# Builds gentrmx and runs every test: once as it ships (with SQL Server's
# busy-connection rule enforced), then the Debian package built from that
# build and run from a scratch root, once under AddressSanitizer and
# UndefinedBehaviorSanitizer, then fuzzing and memcheck. Installs what is
# missing first. scripts/quick-test.sh runs the first step only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
# Most tests wait (on a process they started, a server, a timeout): twice as
# many at once as there are cores.
test_jobs=$((jobs * 2))

bash scripts/setup.sh

run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DGENTRMX_BUSY_CHECK=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$test_jobs")
}

echo "== tests =="
run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== package: the Debian package, installed into a scratch root and run there =="
bash scripts/package-test.sh build-test

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:exitcode=86"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DGENTRMX_SANITIZE=ON

echo "== fuzzing: configuration lookup and record formatting =="
bash scripts/fuzz.sh "${FUZZ_SECONDS:-25}"

echo "== memcheck: every download function under valgrind =="
bash scripts/memcheck.sh
