#!/usr/bin/env bash
# Sets everything up and runs gentrmx end to end on a sample installation of
# the embedded SQLite data source: builds the tool, generates the sample
# database, writes the ODBC set-up and the encrypted configuration file, runs
# every download function for the sample terminals and shows the files.
#
#   bash scripts/demo.sh [badges]        (default 200 badges)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
badges=${1:-200}

bash scripts/setup.sh
cmake -S "$root" -B build-demo -DCMAKE_BUILD_TYPE=Release -DGENTRMX_TESTS=OFF >/dev/null
cmake --build build-demo -j"$(nproc)" >/dev/null
bin=$root/build-demo

# The installation: the tool runs in demo/work/dir and finds its
# configuration at ../../files/quillnest.ini, that is demo/files/quillnest.ini.
demo=$root/demo
rm -rf "$demo"
mkdir -p "$demo/files" "$demo/work/dir" "$demo/out"
"$bin/gentrmx-sample" --db "$demo/dravonix.db" --badges "$badges" --seed 1

"$bin/gentrmx-odbc-setup" sqlite "$demo" GENTRMX_DEMO "$demo/dravonix.db" "$bin/gentrmx_sqlext.so" --step-api
export ODBCSYSINI=$demo ODBCINI=$demo/odbc.ini

cfg=$demo/files/quillnest.ini
"$bin/gentrmx-config" set "$cfg" LOGIN gentrmx
printf 'demo-secret\n' | "$bin/gentrmx-config" set "$cfg" PASS -   # never on a command line
"$bin/gentrmx-config" set "$cfg" DATABASE GENTRMX_DEMO
"$bin/gentrmx-config" set "$cfg" DB_SYSTEM MSSQL
"$bin/gentrmx-config" set "$cfg" SCHEMA 'Dravonix.'
echo "== configuration file $cfg (decrypted, password masked) =="
"$bin/gentrmx-config" list "$cfg"

# The SQLite driver only warns when LoadExt fails: make sure convert() and
# the Dravonix schema are there before going on.
probe=$(printf 'SELECT convert(char(8), CURRENT_TIMESTAMP, 112), COUNT(*) FROM Dravonix.Xel301Asw\n' |
  isql -b -d, GENTRMX_DEMO 2>&1 || true)
if ! grep -Eq '^[0-9]{8},[0-9]+' <<<"$probe"; then
  echo "demo: the SQLite extension did not load (convert/Dravonix missing):" >&2
  echo "$probe" >&2
  exit 1
fi

# Shows a fixed-width file one record a line, columns apart.
show_fixed() {
  local file=$1 length=$2 columns=$3
  local size; size=$(stat -c %s "$file")
  echo "   $size bytes = $((size / length)) records of $length characters"
  head -c $((12 * length)) "$file" | fold -b -w "$length" | cut -c"$columns" --output-delimiter='|' |
    iconv -f latin1 -t utf-8 | sed 's/^/   |/; s/$/|/'
  [ "$size" -gt $((12 * length)) ] && echo "   ..."
  return 0
}

run() {
  local function=$1 terminal=$2 file=$demo/out/$1-$2.dat
  echo
  echo "== gentrmx $function $terminal $file 1 =="
  local status=0
  (cd "$demo/work/dir" && "$bin/gentrmx" "$function" "$terminal" "$file" 1) >"$file.out" || status=$?
  iconv -f latin1 -t utf-8 <"$file.out" | tail -n 6 | sed 's/^/   > /'
  echo "   exit status: $status"
  case $function in
    MGDNL17P) show_fixed "$file" 85 1-13,14-21,22,23,24-30,31-35,36-40,41-45,46-50,51-55,56-60,61-65,66-70,71-75,76-80,81-85 ;;
    MGDNL18P) show_fixed "$file" 173 1-13,14-33,34-53,54-73,74-93,94-113,114-133,134-153,154-173 ;;
    MGDNL31P) show_fixed "$file" 48 1-13,14-21,22-29,30,31,32-39,40-42,43-45,46-48 ;;
    MGDNL60P) show_fixed "$file" 45 1-13,14-21,22,23,24-30,31-35,36-40,41-45 ;;
    IDSTAMM)
      echo "   $(wc -l <"$file") lines (CR LF line ends)"
      head -n 12 "$file" | tr -d '\r' | iconv -f latin1 -t utf-8 | sed 's/^/   /' ;;
  esac
}

for terminal in TERM01 TERM02 TERM03; do
  for function in IDSTAMM MGDNL17P MGDNL31P MGDNL60P MGDNL18P; do
    run "$function" "$terminal"
  done
done

# The production path: the same download through FreeTDS and SQL Server's
# wire protocol, served by the project's TDS test server from the same
# database file (the FreeTDS data source recipe of the README).
python=/usr/bin/python3
[ -x "$python" ] || python=python3
coproc TDS { exec "$python" "$root/tests/tds/tds_server.py" --db "$demo/dravonix.db" --ext "$bin/gentrmx_sqlext.so" \
  --user gentrmx --password demo-secret 2>"$demo/tds-server.err"; }
tds_pid=$TDS_PID
read -r -t 20 word port <&"${TDS[0]}" || true
if [ "${word:-}" = PORT ]; then
  "$bin/gentrmx-odbc-setup" freetds "$demo" GENTRMX_DEMO_TDS 127.0.0.1 "$port"
  "$bin/gentrmx-config" set "$cfg" DATABASE GENTRMX_DEMO_TDS >/dev/null 2>&1
  tds_file=$demo/out/MGDNL17P-TERM01.tds.dat
  echo
  echo "== gentrmx MGDNL17P TERM01 $tds_file 1, through FreeTDS (127.0.0.1:$port) =="
  (cd "$demo/work/dir" && "$bin/gentrmx" MGDNL17P TERM01 "$tds_file" 1) | sed 's/^/   > /'
  if cmp -s "$tds_file" "$demo/out/MGDNL17P-TERM01.dat"; then
    echo "   the same bytes as through the SQLite ODBC driver"
  else
    echo "demo: the file through FreeTDS differs from the SQLite driver's" >&2
    exit 1
  fi
  "$bin/gentrmx-config" set "$cfg" DATABASE GENTRMX_DEMO >/dev/null 2>&1
else
  echo "demo: the TDS test server did not start:" >&2
  cat "$demo/tds-server.err" >&2
fi
kill "$tds_pid" 2>/dev/null || true

# The operator tools on the access class file of TERM01: the file, what
# changes after two changes to the database, and why a badge is left out.
file=$demo/out/MGDNL31P-TERM01.dat
echo
echo "== gentrmx-view $file (first records) =="
"$bin/gentrmx-view" "$file" | sed -n '1,8s/^/   /p'

# A badge with at least two classes loses its last one; the next badge is
# blocked (status 4).
numbers=$(fold -b -w 48 "$file" | cut -c1-13 | sed 's/ *$//')
lose=$(uniq -d <<<"$numbers" | sed -n 1p)
class=$(fold -b -w 48 "$file" | grep "^$lose " | tail -n 1 | cut -c43-45 | sed 's/ *$//')
block=$(uniq <<<"$numbers" | grep -vx "$lose" | sed -n 1p)
echo
echo "== sqlite3: badge $lose loses access class $class, badge $block is blocked =="
sqlite3 "$demo/dravonix.db" "DELETE FROM Xel301Awb WHERE AwbAsw = '$lose' AND AwbBkl = '$class';
  UPDATE Xel301Asw SET AswSta = 4 WHERE AswNum = '$block';"
mkdir -p "$demo/out/after"
after=$demo/out/after/MGDNL31P-TERM01.dat
(cd "$demo/work/dir" && "$bin/gentrmx" MGDNL31P TERM01 "$after" 1 >/dev/null)
echo
echo "== gentrmx-diff (before and after the change) =="
"$bin/gentrmx-diff" "$file" "$after" | sed 's/^/   /' || true
echo
echo "== gentrmx-explain MGDNL31P TERM01 $block =="
(cd "$demo/work/dir" && "$bin/gentrmx-explain" MGDNL31P TERM01 "$block") | sed 's/^/   /'

echo
echo "Files are in $demo/out."
