#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a
# bounded time on a copy of its seed corpus (the corpus in the repository
# never grows). Prints one line per target; exits non-zero on any finding,
# and keeps the failing inputs and the log under <build>/findings/.
#
#   scripts/fuzz.sh [seconds per target]     (default 30, or FUZZ_SECONDS)
#
# FUZZ_BUILD_DIR chooses the build folder (default build-fuzz). Needs clang
# with libFuzzer (scripts/setup.sh installs clang and libclang-rt-14-dev).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-${FUZZ_SECONDS:-30}}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_config fuzz_record_format)

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "fuzz: the time per target must be a whole number of seconds, not '$seconds'"
  exit 2
fi
for tool in clang clang++ cmake; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "fuzz: $tool is missing (scripts/setup.sh installs it)"
    exit 2
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/gentrmx-fuzz.XXXXXX")
# Scratch files of the targets: in memory where the machine has it, since
# the configuration writer syncs every file it replaces.
if scratch=$(mktemp -d /dev/shm/gentrmx-fuzz.XXXXXX 2>/dev/null); then :; else scratch=$work/scratch; mkdir -p "$scratch"; fi
trap 'rm -rf "$work" "$scratch"' EXIT

if ! { CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" &&
       cmake --build "$build" -j"$(nproc)"; } >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  echo "fuzz: building the fuzz targets failed"
  exit 2
fi

# The sanitizers' own settings, whatever the caller exported.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
unset LSAN_OPTIONS

failed=0
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  dir="$work/$target"
  mkdir -p "$dir/corpus" "$dir/artifacts" "$scratch/$target"
  cp -R "$root/fuzz/corpus/$name/." "$dir/corpus/"
  seeds=$(find "$dir/corpus" -type f | wc -l)

  rc=0
  TMPDIR="$scratch/$target" "$build/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
    "$dir/corpus" >"$dir/log" 2>&1 || rc=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
  cov=$({ grep -Eo 'cov: [0-9]+' "$dir/log" || true; } | tail -n 1 | cut -d' ' -f2)
  grown=$(find "$dir/corpus" -type f | wc -l)
  findings=$(find "$dir/artifacts" -type f | wc -l)

  if [ "$rc" -eq 0 ] && [ "$findings" -eq 0 ]; then
    echo "fuzz: $target ok: ${runs:-?} runs in ${seconds} s, coverage ${cov:-?}, corpus $seeds -> $grown"
  else
    failed=1
    keep="$build/findings/$target"
    rm -rf "$keep"
    mkdir -p "$keep"
    cp "$dir/log" "$keep/log"
    cp -R "$dir/artifacts/." "$keep/" 2>/dev/null || true
    echo "fuzz: $target FAILED (exit $rc, $findings failing input(s) kept in $keep)"
    # The report itself: from the first check or sanitizer line on.
    first=$({ grep -n -m1 -E '^(fuzz_[a-z_]+:|==[0-9]+==|.*runtime error:)' "$dir/log" || true; } | cut -d: -f1)
    if [ -n "$first" ]; then
      sed -n "${first},$((first + 25))p" "$dir/log"
    else
      tail -n 25 "$dir/log"
    fi
  fi
done

exit "$failed"
