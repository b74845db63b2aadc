#!/usr/bin/env bash
# Memory and time of the operator tools on a large download file: gentrmx-view
# (table and CSV) and gentrmx-diff on MGDNL31P files of the given size.
#
#   bash bench/operator-tools.sh [megabytes]        (default: 200)
#
# The file is made of well-formed records (badge numbers counting up, two
# classes each); the new file of the diff has every 1000th badge's date
# changed. Prints each tool's wall time and peak resident memory with its
# target: view's memory stays flat in the file's size (under 50 MiB), diff
# keeps about the old file's records. Everything goes to bench/out/tools/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
megabytes=${1:-200}
[[ $megabytes =~ ^[0-9]+$ ]] || { echo "operator-tools.sh: not a number of megabytes: $megabytes" >&2; exit 2; }

build=$root/build-bench
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
build_bench "$root" "$build" gentrmx-view gentrmx-diff

out=$root/bench/out/tools
mkdir -p "$out"
records=$((megabytes * 1000000 / 48))
old=$out/MGDNL31P.old new=$out/MGDNL31P.new
if [ ! -f "$old" ] || [ ! -f "$new" ] || [ "$(stat -c %s "$old")" -ne $((records * 48)) ]; then
  echo "making $records records ($((records * 48)) bytes)"
  awk -v n="$records" -v old="$old" -v new="$new" 'BEGIN {
    for (i = 0; i < n; i++) {
      badge = sprintf("%-13d", 10000000 + int(i / 2))
      from = sprintf("2024%02d%02d", 1 + i % 12, 1 + i % 28)
      rest = sprintf("20991231%s%sXXXX,XX-001%-3s%-3s", "0", "1", (i % 2 ? "A02" : "A01"), "7")
      printf "%s%s%s", badge, from, rest > old
      printf "%s%s%s", badge, (int(i / 2) % 1000 == 0 ? "20230101" : from), rest > new
    }
  }'
fi

fail=0
measure() {  # label target-MiB command...
  local label=$1 target=$2; shift 2
  local log=$out/$label.time
  set +e
  /usr/bin/time -f '%e %M' -o "$log" "$@" >"$out/$label.out" 2>"$out/$label.err"
  local status=$?
  set -e
  wall=$(tail -1 "$log" | cut -d' ' -f1) peak=$(tail -1 "$log" | cut -d' ' -f2)
  local mib=$((peak / 1024)) verdict=met
  if [ -n "$target" ] && [ "$mib" -ge "$target" ]; then verdict=MISSED; fail=1; fi
  printf '%-12s exit %d  %8.2f s  %6d MiB peak RSS  (target: %s)  %s\n' "$label" "$status" "$wall" "$mib" \
    "${target:+< $target MiB}" "$verdict"
}

echo "gentrmx-view and gentrmx-diff on $((records * 48)) bytes ($records MGDNL31P records)"
measure view-table 50 "$build/gentrmx-view" "$old" --function MGDNL31P
measure view-csv 50 "$build/gentrmx-view" "$old" --function MGDNL31P --csv
measure diff "" "$build/gentrmx-diff" "$old" "$new" --function MGDNL31P
echo "diff: $(tail -1 "$out/diff.out")"
[ "$fail" -eq 0 ] && echo "All targets met." || echo "A target was missed."
