#!/usr/bin/env bash
# The batch part of the benchmark: gentrmx-batch writes the files of every
# terminal of the sample installation (TERM01, TERM02, TERM03) for all five
# functions, 15 gentrmx runs, with --jobs 1, 2 and 4, on the embedded data
# source (the SQLite ODBC driver, StepAPI=1) and through FreeTDS with the
# project's TDS test server (tests/tds/tds_server.py). Prints the wall time
# of each and the speed-up over --jobs 1, with the machine's cores. Every run
# must exit 0 and write the same 15 files as the first one, through either
# driver.
#
#   bash bench/batch.sh [badges]          (default 10000)
#
# Settings (environment):
#   BENCH_REPEAT        timed runs per case (default 3), going round all
#                       cases once per pass; the fastest counts
#   BENCH_BATCH_JOBS    the --jobs values (default "1 2 4"; the first is
#                       the base of the speed-up)
#   BENCH_BATCH_SOURCES data sources (default "sqlite freetds")
#
# bench/run.sh runs it after its own part. Everything goes to
# bench/out/batch/ (the installation is kept and reused while the generator,
# the schema, the size and the date are unchanged).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

badges_total=${1:-10000}
[[ $badges_total =~ ^[0-9]+$ ]] || { echo "batch.sh: not a number of badges: $badges_total" >&2; exit 2; }
repeat=${BENCH_REPEAT:-3}
read -r -a job_counts <<<"${BENCH_BATCH_JOBS:-1 2 4}"
read -r -a sources <<<"${BENCH_BATCH_SOURCES:-sqlite freetds}"
functions=MGDNL17P,MGDNL18P,MGDNL31P,MGDNL60P,IDSTAMM
seed=1

bash scripts/setup.sh

build=$root/build-bench
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
build_bench "$root" "$build" gentrmx gentrmx-batch gentrmx-diff gentrmx-config gentrmx-sample gentrmx_sqlext

out=$root/bench/out/batch
inst=$out/inst
mkdir -p "$out"
export ODBCSYSINI=$out ODBCINI=$out/odbc.ini
note() { echo "bench: $*" >&2; }

stamp="$(sha256sum "$build/gentrmx-sample" sqlite/schema.sql | cut -d' ' -f1 | tr '\n' ' ') $badges_total $seed $(date +%Y%m%d)"
if [ ! -f "$inst/stamp" ] || [ "$(cat "$inst/stamp")" != "$stamp" ]; then
  note "generating $badges_total badges"
  rm -rf "$inst"
  mkdir -p "$inst/files" "$inst/work/dir"
  "$build/gentrmx-sample" --db "$inst/db.sqlite" --badges "$badges_total" --seed "$seed" >/dev/null
  echo "$stamp" >"$inst/stamp"
fi

server_pid=
stop_server() { [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true; }
trap stop_server EXIT
rm -f "$out/odbcinst.ini" "$out/odbc.ini"
"$build/gentrmx-odbc-setup" sqlite "$out" GENTRMX_BATCH_SQLITE "$inst/db.sqlite" "$build/gentrmx_sqlext.so" --step-api
if [[ " ${sources[*]} " == *" freetds "* ]]; then
  python=/usr/bin/python3
  [ -x "$python" ] || python=python3
  coproc SERVER { exec "$python" "$root/tests/tds/tds_server.py" --db "$inst/db.sqlite" \
    --ext "$build/gentrmx_sqlext.so" --user bench --password bench 2>"$out/server.err"; }
  server_pid=$SERVER_PID
  port=
  read -r -t 20 word port <&"${SERVER[0]}" || true
  [ "${word:-}" = PORT ] && [ -n "$port" ] || { echo "batch.sh: the TDS test server did not start" >&2
                                                 cat "$out/server.err" >&2; exit 1; }
  "$build/gentrmx-odbc-setup" freetds "$out" GENTRMX_BATCH_TDS 127.0.0.1 "$port"
fi

configure() { write_bench_config "$inst/files/quillnest.ini" "$1"; }

declare -A best best_cpu
reference=$out/reference
run_case() {  # source jobs
  local source=$1 jobs=$2 dsn=GENTRMX_BATCH_SQLITE
  [ "$source" = freetds ] && dsn=GENTRMX_BATCH_TDS
  configure "$dsn"
  local files=$out/files-$source-$jobs
  rm -rf "$files"
  local day_before; day_before=$(date +%Y%m%d)
  local start=$EPOCHREALTIME status=0
  (cd "$inst/work/dir" && /usr/bin/time -f '%U %S' -o "$out/usage.tmp" "$build/gentrmx-batch" --terminals all \
    --functions "$functions" \
    --out "$files/{terminal}.{function}" --jobs "$jobs" >"$out/$source-$jobs.out" 2>&1) || status=$?
  local end=$EPOCHREALTIME
  [ "$status" -eq 0 ] || { echo "batch.sh: $source --jobs $jobs exited with $status" >&2
                           tail -20 "$out/$source-$jobs.out" >&2; exit 1; }
  local wall; wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
  [ "$(find "$files" -type f | wc -l)" -eq 15 ] || { echo "batch.sh: $source --jobs $jobs: not 15 files" >&2; exit 1; }
  # The files depend on the date (validity, MGDNL18P's date): runs are
  # compared within one day.
  local day; day=$(date +%Y%m%d)
  if [ "$day" != "$day_before" ]; then
    note "the date changed during the run: files not compared"
  elif [ ! -d "$reference" ] || [ "$(cat "$reference.day")" != "$day" ]; then
    rm -rf "$reference"
    cp -r "$files" "$reference"
    echo "$day" >"$reference.day"
  elif ! diff -r -q "$reference" "$files" >&2; then
    echo "batch.sh: $source --jobs $jobs wrote other files than the first run" >&2
    exit 1
  fi
  local key=$source-$jobs user system cpu
  read -r user system < <(tail -1 "$out/usage.tmp")
  cpu=$(awk -v a="$user" -v b="$system" 'BEGIN { printf "%.2f", a + b }')
  best[$key]=$(awk -v a="${best[$key]:-}" -v b="$wall" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
  best_cpu[$key]=$(awk -v a="${best_cpu[$key]:-}" -v b="$cpu" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
  note "batch $source --jobs $jobs: ${wall}s, cpu ${cpu}s"
}

rm -rf "$reference"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((pass = 1; pass <= repeat; pass++)); do
  for source in "${sources[@]}"; do
    for jobs in "${job_counts[@]}"; do run_case "$source" "$jobs"; done
  done
done

echo ""
echo "gentrmx-batch: 3 terminals x 5 functions = 15 runs, $badges_total badges (seed $seed), fastest of $repeat"
echo "machine: $(nproc) cores (nproc), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "load average (1, 5, 15 min) before the runs $load_before, after $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cpu s = user + system of gentrmx-batch and its jobs (not the TDS server)"
printf '%-8s %6s %9s %9s %8s\n' source jobs 'wall s' speed-up 'cpu s'
for source in "${sources[@]}"; do
  base=${best[$source-${job_counts[0]}]}
  for jobs in "${job_counts[@]}"; do
    printf '%-8s %6s %9.3f %9.2f %8.2f\n' "$source" "$jobs" "${best[$source-$jobs]}" \
      "$(awk -v a="$base" -v b="${best[$source-$jobs]}" 'BEGIN { print a / b }')" "${best_cpu[$source-$jobs]}"
  done
done
echo "every run exited 0 and wrote the same 15 files (${sources[*]})"
