#!/usr/bin/env bash
# What network latency costs the tool: the five download functions run
# through FreeTDS against the project's TDS test server (tests/tds/
# tds_server.py), once directly and once through bench/latency_proxy.py,
# which holds every reply of the server for a delay before passing it on, as
# a network between the tool and SQL Server would. Each request the tool waits
# for costs the delay once, so the difference between the two shows how many
# round trips a run is made of. Both are measured for this tree and for a
# base revision built next to it, so that the gain of fewer round trips
# shows as one figure.
#
#   bash bench/latency.sh [badges]          (default: 200)
#
# Prints, per build: the wall time of all runs (functions x terminals)
# directly and through the proxy, the time through the proxy against the
# base's, the requests the server received for them, and the time the proxy
# added per request. Every run's download
# file, output and exit code must be the same for both builds, direct and
# through the proxy; a difference, or a run that fails, fails the script.
# Timings are printed, never judged.
#
# Settings (environment):
#   BENCH_BASE        the base revision (default 3d8ff5d^1: before the
#                     small result sets came in one reply); it is built in a
#                     git worktree under bench/out/latency/, removed after.
#                     Only its gentrmx is used: the server, the sample data,
#                     the data sources and the configuration come from this
#                     tree.
#   BENCH_DELAY_MS    the proxy's delay per reply (default 0.5)
#   BENCH_REPEAT      timed passes over all runs (default 3), the builds and
#                     the two ways alternating; the fastest pass counts
#   BENCH_FUNCTIONS, BENCH_TERMINALS as for run.sh.
#
# Time: about 2 minutes on 2 cores for the defaults, with the two builds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

badges_total=${1:-200}
[[ $badges_total =~ ^[0-9]+$ ]] || { echo "latency.sh: not a number of badges: $badges_total" >&2; exit 2; }
read -r -a functions <<<"${BENCH_FUNCTIONS:-MGDNL17P MGDNL18P MGDNL31P MGDNL60P IDSTAMM}"
read -r -a terminals <<<"${BENCH_TERMINALS:-TERM01 TERM02}"
base_rev=${BENCH_BASE:-3d8ff5d^1}
delay_ms=${BENCH_DELAY_MS:-0.5}
repeat=${BENCH_REPEAT:-3}
seed=1
[[ $delay_ms =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "latency.sh: not a delay in milliseconds: $delay_ms" >&2; exit 2; }
[[ $repeat =~ ^[1-9][0-9]*$ ]] || { echo "latency.sh: not a number of passes: $repeat" >&2; exit 2; }
base_commit=$(git rev-parse --verify --quiet "$base_rev^{commit}") \
  || { echo "latency.sh: no such revision: $base_rev" >&2; exit 2; }

bash scripts/setup.sh

out=$root/bench/out/latency
base_src=$out/base-src
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -d "$base_src" ]; then git -C "$root" worktree remove --force "$base_src" 2>/dev/null || rm -rf "$base_src"; fi
  git -C "$root" worktree prune 2>/dev/null || true
}
trap cleanup EXIT
[ ! -d "$base_src" ] || git worktree remove --force "$base_src" 2>/dev/null || rm -rf "$base_src"
git worktree prune
rm -rf "$out"
mkdir -p "$out/files" "$out/work/dir"

# This tree: a Release build of its own (no busy check, no sanitizers, no
# tests), as the other benchmarks use.
build=$root/build-bench
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
echo "building this tree ..."
build_bench "$root" "$build" gentrmx gentrmx-config gentrmx-sample gentrmx-odbc-setup gentrmx_sqlext

# The base: its gentrmx only, built the same way from a worktree of its own.
echo "building the base $(git rev-parse --short "$base_commit") ($base_rev) ..."
git worktree add --detach "$base_src" "$base_commit" >/dev/null 2>&1 \
  || { echo "latency.sh: cannot check out $base_rev under $base_src" >&2; exit 1; }
cmake -S "$base_src" -B "$out/base-build" "${bench_cmake_options[@]}" >/dev/null 2>"$out/base-cmake.err" \
  || { cat "$out/base-cmake.err" >&2; exit 1; }
cmake --build "$out/base-build" -j"$(nproc)" --target gentrmx >/dev/null
mkdir -p "$out/bin"
cp "$out/base-build/gentrmx" "$out/bin/gentrmx-base"
git worktree remove --force "$base_src"
rm -rf "$out/base-build"

export ODBCSYSINI=$out ODBCINI=$out/odbc.ini
"$build/gentrmx-sample" --db "$out/db.sqlite" --badges "$badges_total" --seed "$seed" >/dev/null

python=/usr/bin/python3
[ -x "$python" ] || python=python3

# Starts a helper that prints "PORT <n>" first and ends when its standard
# input reaches end of file (kept open here on a descriptor of this shell, so
# it ends with the script at the latest); sets the variable named $1 to the
# port.
start_helper() {  # var name command...
  local var=$1 name=$2 fd port='' word='' i
  shift 2
  mkfifo "$out/$name.in"
  exec {fd}<>"$out/$name.in"
  "$@" <"$out/$name.in" >"$out/$name.port" 2>"$out/$name.err" {fd}>&- &
  pids+=("$!")
  for ((i = 0; i < 200; i++)); do
    [ ! -s "$out/$name.port" ] || read -r word port <"$out/$name.port" || true
    [ "${word:-}" = PORT ] && [ -n "$port" ] && break
    sleep 0.1
  done
  if [ "${word:-}" != PORT ] || [ -z "$port" ]; then
    echo "latency.sh: the $name did not start" >&2
    cat "$out/$name.err" >&2
    exit 1
  fi
  printf -v "$var" '%s' "$port"
}

server_log=$out/server.log
server_port='' proxy_port=''
start_helper server_port server "$python" "$root/tests/tds/tds_server.py" --db "$out/db.sqlite" \
  --ext "$build/gentrmx_sqlext.so" --user bench --password bench --log "$server_log"
start_helper proxy_port proxy "$python" "$root/bench/latency_proxy.py" --port "$server_port" --delay-ms "$delay_ms"

"$build/gentrmx-odbc-setup" freetds "$out" GENTRMX_LAT_DIRECT 127.0.0.1 "$server_port"
"$build/gentrmx-odbc-setup" freetds "$out" GENTRMX_LAT_PROXY 127.0.0.1 "$proxy_port"

builds=(base current)
declare -A binary=([base]=$out/bin/gentrmx-base [current]=$build/gentrmx)
declare -A label=([base]="base $(git rev-parse --short "$base_commit")" [current]="this tree $(git rev-parse --short HEAD)")
declare -A dsn=([direct]=GENTRMX_LAT_DIRECT [proxy]=GENTRMX_LAT_PROXY)
declare -A best requests

# The runs of one build one way: their wall time (seconds) to $elapsed; the
# files, outputs and exit codes under $out/<build>-<way>/.
elapsed=0
run_all() {  # build way
  local b=$1 w=$2 dir=$out/$1-$2 f t start end rc
  rm -rf "$dir"
  mkdir -p "$dir"
  write_bench_config "$out/files/quillnest.ini" "${dsn[$w]}"
  elapsed=0
  for f in "${functions[@]}"; do
    for t in "${terminals[@]}"; do
      start=${EPOCHREALTIME/,/.}
      rc=0
      (cd "$out/work/dir" && exec "${binary[$b]}" "$f" "$t" "$dir/$f-$t.dat" 1 >"$dir/$f-$t.out" 2>&1) || rc=$?
      end=${EPOCHREALTIME/,/.}
      echo "$rc" >"$dir/$f-$t.rc"
      elapsed=$(awk -v e="$elapsed" -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", e + b - a }')
    done
  done
}

# The runs of one build one way against the reference (this tree, direct).
check_same() {  # build way
  local dir=$out/$1-$2 ref=$out/current-direct f t x
  for f in "${functions[@]}"; do
    for t in "${terminals[@]}"; do
      if [ "$(cat "$dir/$f-$t.rc")" != 0 ]; then
        echo "latency.sh: $f $t failed with ${label[$1]}, $2 (exit code $(cat "$dir/$f-$t.rc")):" >&2
        cat "$dir/$f-$t.out" >&2
        exit 1
      fi
      for x in dat out; do
        [ -e "$dir/$f-$t.$x" ] || { echo "latency.sh: $f $t wrote no $x with ${label[$1]}, $2" >&2; exit 1; }
        if ! cmp -s "$dir/$f-$t.$x" "$ref/$f-$t.$x"; then
          echo "latency.sh: $f $t: the $([ $x = dat ] && echo 'download file' || echo output) of" \
            "${label[$1]}, $2 differs from this tree's direct run ($dir/$f-$t.$x, $ref/$f-$t.$x)" >&2
          exit 1
        fi
      done
    done
  done
}

runs=$(( ${#functions[@]} * ${#terminals[@]} ))
echo "$runs runs (${functions[*]} x ${terminals[*]}) on $badges_total badges, $repeat passes, proxy delay $delay_ms ms"
for ((pass = 1; pass <= repeat; pass++)); do
  for b in current base; do
    for w in direct proxy; do
      : >"$server_log"
      run_all "$b" "$w"
      requests[$b-$w]=$(grep -cvE '^(PRELOGIN|LOGIN7)' "$server_log" || true)
      check_same "$b" "$w"
      if [ -z "${best[$b-$w]:-}" ] || awk -v a="$elapsed" -v b="${best[$b-$w]}" 'BEGIN { exit !(a < b) }'; then
        best[$b-$w]=$elapsed
      fi
    done
  done
done
for b in current base; do
  [ "${requests[$b-direct]}" = "${requests[$b-proxy]}" ] \
    || echo "note: ${label[$b]}: ${requests[$b-direct]} requests direct, ${requests[$b-proxy]} through the proxy" >&2
done

for b in "${builds[@]}"; do
  printf '%s\t%s\t%s\t%s\t%s\n' "${label[$b]}" "${best[$b-direct]}" "${best[$b-proxy]}" "${requests[$b-direct]}" \
    "${best[base-proxy]}"
done | awk -F'\t' -v d="$delay_ms ms" '
  BEGIN { printf "%-22s %9s %12s %14s %9s %16s\n", "build", "direct s", d " s", d " / base", "requests",
          "ms per request" }
  { printf "%-22s %9.2f %12.2f %14.2f %9d %16.3f\n", $1, $2, $3, $3 / $5, $4, $4 ? ($3 - $2) * 1000 / $4 : 0 }'
echo "ms per request: what the proxy adds to a request, its delay and its own passing on"
echo "files and outputs: the same for both builds, direct and through the proxy"
