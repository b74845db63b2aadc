#!/usr/bin/env bash
# Benchmarks the five download functions on sample installations of growing
# size and holds the tool against a floor: the same statements, replayed
# through the same ODBC driver with no further work (gentrmx-floor).
#
#   bash bench/run.sh [badges ...]          (default: 1000 10000 100000)
#
# For each function, on TERM01 (a terminal with Xel115Tfz rows: badges of one
# licence and client) and TERM02 (none: all valid badges), and each size:
# wall time, badges per second, peak resident memory, and the wall time of
# the floor replaying the statement log of the same run. Then, under
# callgrind on a smaller installation: the share of the process's
# instructions spent in the gentrmx executable itself, and the tool's
# instructions against the floor's. Each figure is printed with its target.
#
# Settings (environment):
#   BENCH_FUNCTIONS          functions to run (default: all five)
#   BENCH_TERMINALS          terminals (default: TERM01 TERM02)
#   BENCH_CALLGRIND_BADGES   installation size for callgrind (default 1000;
#                            0 skips callgrind; 10000 takes about 30 minutes
#                            more)
#   BENCH_REPEAT             timed runs of tool and floor per case (default
#                            3), alternating, one pass over all cases after
#                            the other; the fastest of each counts
#   BENCH_STEPAPI            the SQLite driver's StepAPI option (default 1)
#   BENCH_BATCH_BADGES       installation size for the batch part,
#                            bench/batch.sh (default 10000; 0 skips it)
#
# Time: about 15 minutes on 2 cores for the defaults (the 100,000-badge runs
# take most of it, callgrind on 1,000 badges about 4). Everything goes to
# bench/out/: the installations (kept and reused while the generator, the
# schema, the size and the date are unchanged), the logs, the callgrind files
# and results.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ $# -gt 0 ]; then sizes=("$@"); else sizes=(1000 10000 100000); fi
read -r -a functions <<<"${BENCH_FUNCTIONS:-MGDNL17P MGDNL18P MGDNL31P MGDNL60P IDSTAMM}"
read -r -a terminals <<<"${BENCH_TERMINALS:-TERM01 TERM02}"
cg_badges=${BENCH_CALLGRIND_BADGES:-1000}
repeat=${BENCH_REPEAT:-}
step_api=${BENCH_STEPAPI:-1}
batch_badges=${BENCH_BATCH_BADGES:-10000}
seed=1
# The badge cursor, which the tool keeps open while it runs the statements of
# each badge (see bench/floor_replay.cpp, --hold).
badge_cursor_prefix='SELECT  AswNum, '

for n in "${sizes[@]}" "$cg_badges" "$batch_badges"; do
  [[ $n =~ ^[0-9]+$ ]] || { echo "run.sh: not a number of badges: $n" >&2; exit 2; }
done

bash scripts/setup.sh

# A Release build of its own: no busy check, no sanitizers, no tests.
build=$root/build-bench
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
build_bench "$root" "$build" gentrmx gentrmx-config gentrmx-sample gentrmx_sqlext gentrmx-floor

out=$root/bench/out
mkdir -p "$out/logs" "$out/files" "$out/callgrind"
results=$out/results.txt
: >"$results"
say() { echo "$@" | tee -a "$results"; }
note() { echo "bench: $*" >&2; }

# The ODBC set-up: one data source per installation size.
export ODBCSYSINI=$out ODBCINI=$out/odbc.ini
rm -f "$out/odbcinst.ini" "$out/odbc.ini"
step_api_option=()
[ "$step_api" = 1 ] && step_api_option=(--step-api)

dsn_of() { echo "GENTRMX_BENCH_$1"; }

# Creates (or reuses) the installation of n badges.
prepare() {
  local n=$1 inst=$out/inst-$1 dsn; dsn=$(dsn_of "$1")
  local stamp
  stamp="$(sha256sum "$build/gentrmx-sample" sqlite/schema.sql | cut -d' ' -f1 | tr '\n' ' ') $n $seed $(date +%Y%m%d)"
  if [ ! -f "$inst/stamp" ] || [ "$(cat "$inst/stamp")" != "$stamp" ]; then
    note "generating $n badges"
    rm -rf "$inst"
    mkdir -p "$inst/files" "$inst/work/dir"
    "$build/gentrmx-sample" --db "$inst/db.sqlite" --badges "$n" --seed "$seed" >/dev/null
    echo "$stamp" >"$inst/stamp"
  fi
  "$build/gentrmx-odbc-setup" sqlite "$out" "$dsn" "$inst/db.sqlite" "$build/gentrmx_sqlext.so" "${step_api_option[@]}"
  write_bench_config "$inst/files/quillnest.ini" "$dsn"
  # The driver only warns when LoadExt fails.
  local probe
  probe=$(printf 'SELECT convert(char(8), CURRENT_TIMESTAMP, 112), COUNT(*) FROM Dravonix.Xel301Asw\n' |
    isql -b -d, "$dsn" 2>&1 || true)
  if ! grep -Eq "^[0-9]{8},$n\$" <<<"$probe"; then
    echo "run.sh: data source $dsn not usable:" >&2
    echo "$probe" >&2
    exit 1
  fi
}

all_sizes=$(printf '%s\n' "${sizes[@]}" | sort -n -u)
if [ "$cg_badges" -gt 0 ]; then all_sizes=$(printf '%s\n' $all_sizes "$cg_badges" | sort -n -u); fi
for n in $all_sizes; do prepare "$n"; done

# Runs a command in a folder under /usr/bin/time. Sets wall (seconds, from
# bash's microsecond clock), cpu (user and system seconds) and peak (peak RSS
# in KiB). Output goes to the file named first.
usage_file=$out/usage.tmp
timed() {
  local output=$1 folder=$2; shift 2
  local start=$EPOCHREALTIME
  (cd "$folder" && /usr/bin/time -f '%M %U %S' -o "$usage_file" "$@" >"$output" 2>&1) || {
    echo "run.sh: failed: $*" >&2; tail -5 "$output" >&2; exit 1; }
  local end=$EPOCHREALTIME
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')
  local user system
  read -r peak user system < <(tail -1 "$usage_file")
  cpu=$(awk -v a="$user" -v b="$system" 'BEGIN { printf "%.2f", a + b }')
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print ((a == "" || b + 0 < a + 0) ? b : a) }'; }

declare -A badges tool_wall tool_cpu tool_rss floor_wall floor_cpu statements

# One function on one terminal of installation n, first step: a run that
# captures the statement log (not timed: the log costs a write per
# statement).
capture() {
  local n=$1 function=$2 terminal=$3
  local inst=$out/inst-$n key=$1-$2-$3
  local log=$out/logs/$key.log file=$out/files/$key
  rm -f "$log"
  GENTRMX_SQL_LOG=$log timed "$file.captured.out" "$inst/work/dir" \
    "$build/gentrmx" "$function" "$terminal" "$file.captured" 1
  badges[$key]=$(sed -n 's/^Ausweise gesamt: \([0-9]*\) .*/\1/p' "$file.captured.out")
  statements[$key]=$(grep -c '^@@STMT ' "$log")
  tool_rss[$key]=0
}

# One timed run of the tool and one of the floor replaying the captured log;
# keeps the fastest of each and the largest peak RSS.
measure() {
  local n=$1 function=$2 terminal=$3
  local inst=$out/inst-$n dsn key=$1-$2-$3; dsn=$(dsn_of "$n")
  local log=$out/logs/$key.log file=$out/files/$key
  timed "$file.out" "$inst/work/dir" "$build/gentrmx" "$function" "$terminal" "$file" 1
  local this_tool=$wall
  tool_wall[$key]=$(min "${tool_wall[$key]:-}" "$wall")
  tool_cpu[$key]=$(min "${tool_cpu[$key]:-}" "$cpu")
  [ "$peak" -gt "${tool_rss[$key]}" ] && tool_rss[$key]=$peak
  # The same statements give the same file.
  cmp -s "$file" "$file.captured" || { echo "run.sh: $key: output differs between runs" >&2; exit 1; }
  timed "$file.floor" "$inst/work/dir" "$build/gentrmx-floor" --hold "$badge_cursor_prefix" "$dsn" "$log"
  floor_wall[$key]=$(min "${floor_wall[$key]:-}" "$wall")
  floor_cpu[$key]=$(min "${floor_cpu[$key]:-}" "$cpu")
  grep -q "^gentrmx-floor: ${statements[$key]} statements, [0-9]* rows, 0 failed" "$file.floor" || {
    echo "run.sh: $key: floor replay incomplete:" >&2; cat "$file.floor" >&2; exit 1; }
  note "$key: ${badges[$key]} badges, tool ${this_tool}s, floor ${wall}s"
}

# Self instructions of the executable, and of the whole process, from a
# callgrind output file: every cost line counts for the object named by the
# last ob= line, except the line after calls=, which is a call's inclusive
# cost. Prints "<own> <total>".
own_and_total() {
  awk -v own="$2" '
    function name(text,   id, rest) {
      if (match(text, /^\([0-9]+\)/)) {
        id = substr(text, 2, RLENGTH - 2); rest = substr(text, RLENGTH + 1); sub(/^ /, "", rest)
        if (rest != "") names[id] = rest
        return names[id]
      }
      return text
    }
    /^ob=/ { current = name(substr($0, 4)); next }
    /^cob=/ { name(substr($0, 5)); next }
    /^calls=/ { skip = 1; next }
    /^[0-9+*-]/ { if (skip) { skip = 0; next } if (current == own) mine += $2; sum += $2; next }
    /^totals:/ { total = $2 }
    END {
      if (total != "" && total != sum) { print "cost lines do not add up to the total" > "/dev/stderr"; exit 1 }
      printf "%.0f %.0f\n", mine, sum  # beyond 32 bits: not %d, not print
    }' "$1"
}

declare -A cg_own cg_tool cg_floor
callgrind_case() {
  local n=$1 function=$2 terminal=$3
  local inst=$out/inst-$n dsn key=$1-$2-$3; dsn=$(dsn_of "$n")
  local log=$out/logs/$key.log cg=$out/callgrind/$key
  (cd "$inst/work/dir" && valgrind --tool=callgrind --callgrind-out-file="$cg.tool" \
    "$build/gentrmx" "$function" "$terminal" "$out/files/$key.cg" 1 >"$cg.tool.out" 2>&1) &
  local tool_pid=$!
  (cd "$inst/work/dir" && valgrind --tool=callgrind --callgrind-out-file="$cg.floor" \
    "$build/gentrmx-floor" --hold "$badge_cursor_prefix" "$dsn" "$log" >"$cg.floor.out" 2>&1) &
  local floor_pid=$!
  wait "$tool_pid" || { echo "run.sh: callgrind of gentrmx failed ($key)" >&2; exit 1; }
  wait "$floor_pid" || { echo "run.sh: callgrind of gentrmx-floor failed ($key)" >&2; exit 1; }
  local own total floor_own floor_total
  read -r own total < <(own_and_total "$cg.tool" "$(readlink -f "$build/gentrmx")")
  read -r floor_own floor_total < <(own_and_total "$cg.floor" "$(readlink -f "$build/gentrmx-floor")")
  cg_own[$key]=$own
  cg_tool[$key]=$total
  cg_floor[$key]=$floor_total
  note "$key callgrind: own $own of $total, floor $floor_total"
}

# ---- the runs ----------------------------------------------------------------
for n in $all_sizes; do
  for function in "${functions[@]}"; do
    for terminal in "${terminals[@]}"; do capture "$n" "$function" "$terminal"; done
  done
done
# The timed runs go round all cases once per pass, so that a spell of load
# from elsewhere slows one run of a case, not all of them.
for ((pass = 1; pass <= ${repeat:-3}; pass++)); do
  note "timed runs, pass $pass"
  for n in $all_sizes; do
    for function in "${functions[@]}"; do
      for terminal in "${terminals[@]}"; do measure "$n" "$function" "$terminal"; done
    done
  done
done
for n in $all_sizes; do
  [ "$n" = "$cg_badges" ] || rm -f "$out"/logs/"$n"-*.log
done
if [ "$cg_badges" -gt 0 ]; then
  for function in "${functions[@]}"; do
    for terminal in "${terminals[@]}"; do
      note "callgrind $cg_badges $function $terminal"
      callgrind_case "$cg_badges" "$function" "$terminal"
      rm -f "$out/logs/$cg_badges-$function-$terminal.log"
    done
  done
fi

# ---- the report --------------------------------------------------------------
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
# a / b in format f, or "-" when b is 0 (times below the clock's resolution).
ratio() { awk -v f="$1" -v a="$2" -v b="$3" 'BEGIN { if (b + 0 == 0) print "-"; else printf f, a / b }'; }
verdict() { awk "BEGIN { print (($1) ? \"ok\" : \"MISSED\") }"; }

# The two largest sizes asked for give the growth figures (normally 10,000
# and 100,000).
read -r -a asked <<<"$(printf '%s\n' "${sizes[@]}" | sort -n -u | tr '\n' ' ')"
big=${asked[-1]}
small=""
[ "${#asked[@]}" -ge 2 ] && small=${asked[-2]}

say ""
say "gentrmx benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), StepAPI=$step_api, fastest of ${repeat:-3} runs"
say "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
  "$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory"
say ""
say "Timed runs: wall time, badges per second and peak RSS of the tool; the floor replays the"
say "same statements; cpu = user + system seconds (less disturbed by other load than wall time)."
say "$(printf '%-9s %-7s %7s %7s %8s %9s %8s %8s %8s %10s %8s' function termnl size badges 'wall s' \
  'badges/s' 'RSS MiB' 'floor s' 'cpu s' 'floor cpu' tool/floor)"
for function in "${functions[@]}"; do
  for terminal in "${terminals[@]}"; do
    for n in "${asked[@]}"; do
      key=$n-$function-$terminal
      say "$(printf '%-9s %-7s %7s %7s %8.3f %9s %8.2f %8.3f %8.2f %10.2f %8s' "$function" "$terminal" "$n" \
        "${badges[$key]}" "${tool_wall[$key]}" "$(ratio %.0f "${badges[$key]}" "${tool_wall[$key]}")" \
        "$(calc %.2f "${tool_rss[$key]} / 1024")" "${floor_wall[$key]}" "${tool_cpu[$key]}" "${floor_cpu[$key]}" \
        "$(ratio %.3f "${tool_wall[$key]}" "${floor_wall[$key]}")")"
    done
  done
done

missed=0
check() {  # label value target condition
  local v; v=$(verdict "$4")
  [ "$v" = ok ] || missed=$((missed + 1))
  say "$(printf '  %-34s %10s   target %-10s %s' "$1" "$2" "$3" "$v")"
}

say ""
say "Figures against their targets:"
for function in "${functions[@]}"; do
  for terminal in "${terminals[@]}"; do
    say "$function $terminal"
    b=$big-$function-$terminal
    if [ -n "$small" ]; then
      s=$small-$function-$terminal
      t_ratio=$(calc %.2f "${tool_wall[$b]} / ${tool_wall[$s]}")
      scale=$(calc %.2f "$big / $small * 1.1")
      check "t($big)/t($small)" "$t_ratio" "<= $scale" "$t_ratio <= $scale"
      say "    the same ratio for the floor: $(ratio %.2f "${floor_wall[$b]}" "${floor_wall[$s]}");" \
        "in cpu time: tool $(ratio %.2f "${tool_cpu[$b]}" "${tool_cpu[$s]}")," \
        "floor $(ratio %.2f "${floor_cpu[$b]}" "${floor_cpu[$s]}")"
      growth=$(calc %.2f "(${tool_rss[$b]} - ${tool_rss[$s]}) / 1024")
      check "RSS($big) - RSS($small) MiB" "$growth" "<= 4" "$growth <= 4"
    fi
    wall_ratio=$(calc %.3f "${tool_wall[$b]} / ${floor_wall[$b]}")
    check "tool/floor wall ($big)" "$wall_ratio" "<= 1.10" "$wall_ratio <= 1.10"
    if [ "$cg_badges" -gt 0 ]; then
      c=$cg_badges-$function-$terminal
      own=$(calc %.3f "100 * ${cg_own[$c]} / ${cg_tool[$c]}")
      check "own executable % of Ir ($cg_badges)" "$own" "<= 2" "$own <= 2"
      ir_ratio=$(calc %.4f "${cg_tool[$c]} / ${cg_floor[$c]}")
      check "tool/floor Ir ($cg_badges)" "$ir_ratio" "<= 1.04" "$ir_ratio <= 1.04"
    fi
  done
done
if [ "$cg_badges" -gt 0 ]; then
  say ""
  say "Instructions under callgrind ($cg_badges badges):"
  say "$(printf '%-9s %-7s %15s %15s %12s %8s %10s' function termnl 'tool Ir' 'floor Ir' 'own Ir' 'own %' 'tool/floor')"
  for function in "${functions[@]}"; do
    for terminal in "${terminals[@]}"; do
      c=$cg_badges-$function-$terminal
      say "$(printf '%-9s %-7s %15s %15s %12s %8.3f %10.4f' "$function" "$terminal" "${cg_tool[$c]}" "${cg_floor[$c]}" \
        "${cg_own[$c]}" "$(calc %.4f "100 * ${cg_own[$c]} / ${cg_tool[$c]}")" \
        "$(calc %.5f "${cg_tool[$c]} / ${cg_floor[$c]}")")"
    done
  done
fi
# ---- gentrmx-batch: all terminals and functions with --jobs 1, 2, 4 --------
if [ "$batch_badges" -gt 0 ]; then
  note "batch part ($batch_badges badges)"
  BENCH_REPEAT=${repeat:-3} bash bench/batch.sh "$batch_badges" | tee -a "$results"
fi
say ""
if [ "$missed" -eq 0 ]; then say "All targets met."; else say "$missed figure(s) missed their target."; fi
say "(results in $results)"
