#!/usr/bin/env bash
# Counts the requests the tool sends to SQL Server's wire protocol: the five
# download functions run through FreeTDS against the project's TDS test
# server (tests/tds/tds_server.py), which logs every request it receives.
# On a network each request is a round trip, so requests per badge are what
# the production run time is made of; on the embedded data source they cost
# nothing and no other benchmark sees them.
#
#   bash bench/requests.sh [badges]          (default: 200)
#
# Prints, per function and terminal: the badges the run read, the requests
# received (login and pre-login left out) and the requests per badge by kind
# (SQL batches, cursor open, cursor option, cursor fetch, cursor close,
# ATTENTION), the statements the server ran (a batch counts each of its
# statements) against those the same run sent through the SQLite driver,
# which takes one statement per call and runs only what the writer uses: the
# difference is what went along in a badge's batch for nothing. Then the
# scroll and concurrency options the cursors were opened with. Each run's download file is compared with the same run
# through the SQLite driver; a difference fails the script, and so does a
# cursor that asks for scroll locks.
#
# Settings (environment): BENCH_FUNCTIONS, BENCH_TERMINALS as for run.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

badges_total=${1:-200}
[[ $badges_total =~ ^[0-9]+$ ]] || { echo "requests.sh: not a number of badges: $badges_total" >&2; exit 2; }
read -r -a functions <<<"${BENCH_FUNCTIONS:-MGDNL17P MGDNL18P MGDNL31P MGDNL60P IDSTAMM}"
read -r -a terminals <<<"${BENCH_TERMINALS:-TERM01 TERM02}"
seed=1

bash scripts/setup.sh

build=$root/build-bench
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
build_bench "$root" "$build" gentrmx gentrmx-config gentrmx-sample gentrmx_sqlext

out=$root/bench/out/requests
rm -rf "$out"
mkdir -p "$out/files" "$out/work/dir"
export ODBCSYSINI=$out ODBCINI=$out/odbc.ini
"$build/gentrmx-sample" --db "$out/db.sqlite" --badges "$badges_total" --seed "$seed" >/dev/null

python=/usr/bin/python3
[ -x "$python" ] || python=python3
server_log=$out/server.log
coproc SERVER { exec "$python" "$root/tests/tds/tds_server.py" --db "$out/db.sqlite" \
  --ext "$build/gentrmx_sqlext.so" --user bench --password bench --log "$server_log" 2>"$out/server.err"; }
server_pid=$SERVER_PID
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
port=
read -r -t 20 word port <&"${SERVER[0]}" || true
[ "${word:-}" = PORT ] && [ -n "$port" ] || { echo "requests.sh: the TDS test server did not start" >&2; cat "$out/server.err" >&2; exit 1; }

"$build/gentrmx-odbc-setup" sqlite "$out" GENTRMX_REQ_SQLITE "$out/db.sqlite" "$build/gentrmx_sqlext.so" --step-api
"$build/gentrmx-odbc-setup" freetds "$out" GENTRMX_REQ_TDS 127.0.0.1 "$port"

configure() { write_bench_config "$out/files/quillnest.ini" "$1"; }

kinds=(SQLBATCH RPC:sp_cursoropen RPC:sp_cursoroption RPC:sp_cursorfetch RPC:sp_cursorclose ATTENTION)
printf '%-9s %-7s %7s %9s %8s | %-47s | %s\n' function terminal badges requests 'per badge' \
  'per badge by kind: batch, open, option, fetch, close, attention' 'statements: server, used, for nothing'
all=0
all_statements=0
all_used=0
declare -A by_kind by_options
for f in "${functions[@]}"; do
  for t in "${terminals[@]}"; do
    configure GENTRMX_REQ_SQLITE
    rm -f "$out/sql.log"
    (cd "$out/work/dir" && GENTRMX_SQL_LOG=$out/sql.log "$build/gentrmx" "$f" "$t" "$out/$f-$t.sqlite" 1 \
      >"$out/$f-$t.sqlite.out") || true
    used=$(grep -c '^@@STMT ' "$out/sql.log" || true)
    configure GENTRMX_REQ_TDS
    : >"$server_log"
    (cd "$out/work/dir" && "$build/gentrmx" "$f" "$t" "$out/$f-$t.tds" 1 >"$out/$f-$t.tds.out") || true
    if ! cmp -s "$out/$f-$t.sqlite" "$out/$f-$t.tds" || ! cmp -s "$out/$f-$t.sqlite.out" "$out/$f-$t.tds.out"; then
      echo "requests.sh: $f $t differs between the SQLite driver and FreeTDS" >&2
      exit 1
    fi
    n=$(sed -n 's/.*Ausweise gesamt: \([0-9]*\) .*/\1/p' "$out/$f-$t.tds.out" | tail -1)
    [ -n "$n" ] || { echo "requests.sh: no summary line from $f $t" >&2; cat "$out/$f-$t.tds.out" >&2; exit 1; }
    total=$(grep -cvE '^(PRELOGIN|LOGIN7)' "$server_log" || true)
    line=$(printf '%-9s %-7s %7d %9d %8.2f |' "$f" "$t" "$n" "$total" "$(awk -v a="$total" -v b="$n" 'BEGIN { print b ? a / b : 0 }')")
    for k in "${kinds[@]}"; do
      c=$(cut -f1 "$server_log" | grep -cxF "$k" || true)
      line+=$(printf ' %6.2f' "$(awk -v a="$c" -v b="$n" 'BEGIN { print b ? a / b : 0 }')")
      by_kind[$k]=$(( ${by_kind[$k]:-0} + c ))
    done
    # Each statement of a batch after the first follows ";\n" (logged as ";\\n").
    statements=$(awk -F'\t' '$1 == "SQLBATCH" { n += 1 + gsub(/;\\n/, "") } $1 == "RPC:sp_cursoropen" { n++ }
      END { print n + 0 }' "$server_log")
    line+=$(printf ' | %6d %6d %5.1f %%' "$statements" "$used" \
      "$(awk -v a="$statements" -v b="$used" 'BEGIN { print a ? 100 * (a - b) / a : 0 }')")
    echo "$line"
    all=$((all + total))
    all_statements=$((all_statements + statements))
    all_used=$((all_used + used))
    while IFS= read -r options; do
      by_options[$options]=$(( ${by_options[$options]:-0} + 1 ))
    done < <(grep '^RPC:sp_cursoropen' "$server_log" | cut -f3)
  done
done
echo "all runs: $all requests: ${by_kind[SQLBATCH]} batches, ${by_kind[RPC:sp_cursoropen]} cursor opens," \
  "${by_kind[RPC:sp_cursoroption]} options, ${by_kind[RPC:sp_cursorfetch]} fetches," \
  "${by_kind[RPC:sp_cursorclose]} closes, ${by_kind[ATTENTION]} ATTENTION"
echo "statements the server ran: $all_statements, used: $all_used, for nothing:" \
  "$(awk -v a="$all_statements" -v b="$all_used" 'BEGIN { printf "%.1f %%", a ? 100 * (a - b) / a : 0 }')"
locks=0
for options in "${!by_options[@]}"; do
  echo "cursor opens with $options: ${by_options[$options]}"
  ccopt=${options##*ccopt }
  if [[ $ccopt =~ ^0x[0-9A-Fa-f]+$ ]] && (( ccopt & 0x0002 )); then locks=1; fi
done
[ "$locks" = 0 ] || { echo "requests.sh: a cursor asks for scroll locks (concurrency option 0x0002)" >&2; exit 1; }
