#!/usr/bin/env bash
# The quick lane: builds gentrmx as it ships, with SQL Server's
# busy-connection rule enforced, and runs the test suite once; no
# sanitizers, no package, no fuzzing, no memcheck (scripts/test.sh runs
# everything). Installs what is missing first.
#
#   bash scripts/quick-test.sh [ctest arguments]     e.g. -R SampleGenerator
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
# Most tests wait (on a process they started, a server, a timeout): twice as
# many at once as there are cores.
test_jobs=$((jobs * 2))

bash scripts/setup.sh
cmake -S "$root" -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGENTRMX_BUSY_CHECK=ON >/dev/null
cmake --build build-test -j"$jobs"
cd build-test
ctest --output-on-failure -j"$test_jobs" "$@"
