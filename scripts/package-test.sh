#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and runs the
# installed programs there, away from the source tree: gentrmx-sample makes
# a database, gentrmx-odbc-setup points a data source at it with the
# installed extension, gentrmx-config writes the configuration and the
# installed gentrmx writes download files, and the installed gentrmx-batch
# writes them again. The same run with the build tree's programs must give
# the same bytes. Also checks the package's
# fields and the helpers' --version against VERSION. Exits non-zero on any
# difference.
#
#   bash scripts/package-test.sh [build folder]
#
# Without a build folder it makes a Release build of its own in
# build-package (tests off). A given build folder must be configured; it is
# brought up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
version=$(head -n 1 VERSION)

die() { echo "package-test: FAILED: $*" >&2; exit 1; }

for tool in cmake cpack dpkg-deb; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/setup.sh installs it)"
done

if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd) || die "no build folder $1"
  [ -f "$build/CPackConfig.cmake" ] || die "$build is not a configured gentrmx build folder"
else
  bash scripts/setup.sh
  build=$root/build-package
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGENTRMX_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/gentrmx-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# ---- the package -------------------------------------------------------------
(cd "$build" && cpack -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; die "cpack"; }
deb=$(find "$work/cpack" -maxdepth 1 -name 'gentrmx_*.deb')
[ -n "$deb" ] && [ "$(wc -l <<<"$deb")" -eq 1 ] || die "expected one gentrmx_*.deb, found: ${deb:-none}"
echo "package-test: built $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = gentrmx ] || die "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || die "Version is '$(field Version)', VERSION says $version"
[ -n "$(field Maintainer)" ] || die "no Maintainer"
[ -n "$(field Description)" ] || die "no Description"
# Whether a list of package relations names a package.
names() {  # list package
  [[ ", $1," == *", $2 "* || ", $1," == *", $2,"* ]]
}
depends=$(field Depends)
for p in unixodbc libodbc2 libc6 libstdc++6; do
  names "$depends" "$p" || die "Depends lacks $p: $depends"
done
! names "$depends" libsqliteodbc || die "the SQLite ODBC driver must only be suggested: $depends"
suggests=$(field Suggests)
for p in libsqliteodbc tdsodbc; do
  names "$suggests" "$p" || die "Suggests lacks $p: $suggests"
done

pkg=$work/root
dpkg-deb -x "$deb" "$pkg"
programs="gentrmx gentrmx-config gentrmx-sample gentrmx-odbc-setup gentrmx-view gentrmx-diff gentrmx-explain gentrmx-batch"
for program in $programs; do
  for f in usr/bin/$program usr/share/man/man1/$program.1.gz; do
    [ -f "$pkg/$f" ] || die "the package lacks /$f"
  done
  gzip -t "$pkg/usr/share/man/man1/$program.1.gz" || die "/usr/share/man/man1/$program.1.gz is not gzip"
done
[ -f "$pkg/usr/share/doc/gentrmx/README.md" ] || die "the package lacks /usr/share/doc/gentrmx/README.md"
! find "$pkg/usr/share/man" -name '*.1' | grep -q . || die "uncompressed manual pages in the package"
ext=$(find "$pkg/usr/lib" -name gentrmx_sqlext.so)
[ -n "$ext" ] && [ "$(wc -l <<<"$ext")" -eq 1 ] || die "expected one gentrmx_sqlext.so under /usr/lib, found: ${ext:-none}"
echo "package-test: unpacked, extension at ${ext#"$pkg"}"

for program in gentrmx-sample gentrmx-config gentrmx-odbc-setup gentrmx-view gentrmx-diff gentrmx-explain gentrmx-batch; do
  said=$("$pkg/usr/bin/$program" --version) || die "$program --version failed"
  [ "$said" = "$program $version" ] || die "$program --version says '$said', expected '$program $version'"
  "$pkg/usr/bin/$program" --help >/dev/null || die "$program --help failed"
done

# ---- one run with the installed programs, one with the build tree's ----------
# Each side has its own ODBC folder, configuration and working folder; the
# data source has the same name on both sides.
dsn=GENTRMX_PACKAGE
setup_side() {  # name bin-folder extension
  local side=$work/$1 bin=$2 extension=$3
  mkdir -p "$side/files" "$side/work/dir" "$side/out"
  # Run from the scratch folder with nothing of the source tree around.
  (cd "$side" && "$bin/gentrmx-sample" --db "$side/db.sqlite" --badges 400 --seed 11 >"$side/sample.out") ||
    die "$1: gentrmx-sample failed"
  "$bin/gentrmx-odbc-setup" sqlite "$side" "$dsn" "$side/db.sqlite" "$extension" --step-api ||
    die "$1: gentrmx-odbc-setup failed"
  local cfg=$side/files/quillnest.ini
  "$bin/gentrmx-config" set "$cfg" LOGIN gentrmx 2>/dev/null &&
    "$bin/gentrmx-config" set "$cfg" PASS package-secret 2>/dev/null &&
    "$bin/gentrmx-config" set "$cfg" DATABASE "$dsn" 2>/dev/null &&
    "$bin/gentrmx-config" set "$cfg" DB_SYSTEM MSSQL 2>/dev/null &&
    "$bin/gentrmx-config" set "$cfg" SCHEMA 'Dravonix.' 2>/dev/null || die "$1: gentrmx-config set failed"
}
setup_side installed "$pkg/usr/bin" "$ext"
setup_side built "$build" "$build/gentrmx_sqlext.so"

same() {  # what file-a file-b
  cmp -s "$2" "$3" || { cmp "$2" "$3" >&2 || true; die "$1 differs between the installed and the built programs"; }
}
same "the sample database" "$work/installed/db.sqlite" "$work/built/db.sqlite"
same "the configuration file" "$work/installed/files/quillnest.ini" "$work/built/files/quillnest.ini"

runs=0
for terminal in TERM01 TERM02; do
  for function in MGDNL31P IDSTAMM MGDNL17P; do
    for side in installed built; do
      if [ $side = installed ]; then gentrmx=$pkg/usr/bin/gentrmx; else gentrmx=$build/gentrmx; fi
      status=0
      (cd "$work/$side/work/dir" &&
        env -u ODBCINSTINI -u GENTRMX_SQL_LOG ODBCSYSINI="$work/$side" ODBCINI="$work/$side/odbc.ini" \
          "$gentrmx" "$function" "$terminal" "$work/$side/out/$function-$terminal" 1) \
        >"$work/$side/out/$function-$terminal.stdout" 2>&1 || status=$?
      [ "$status" -eq 0 ] || { cat "$work/$side/out/$function-$terminal.stdout" >&2
                               die "$side gentrmx $function $terminal exited with $status"; }
      [ -s "$work/$side/out/$function-$terminal" ] || die "$side gentrmx $function $terminal wrote an empty file"
    done
    same "$function $terminal" "$work/installed/out/$function-$terminal" "$work/built/out/$function-$terminal"
    same "the messages of $function $terminal" "$work/installed/out/$function-$terminal.stdout" \
      "$work/built/out/$function-$terminal.stdout"
    runs=$((runs + 1))
  done
done

# The installed gentrmx-batch runs the installed gentrmx beside it: the same
# files again, and --verify finds them unchanged.
batch_out=$work/installed/batch
for verify in "" --verify; do
  (cd "$work/installed/work/dir" &&
    env -u ODBCINSTINI -u GENTRMX_SQL_LOG ODBCSYSINI="$work/installed" ODBCINI="$work/installed/odbc.ini" \
      "$pkg/usr/bin/gentrmx-batch" --terminals TERM01,TERM02 --functions MGDNL31P,IDSTAMM,MGDNL17P \
      --out "$batch_out/{terminal}.{function}" --jobs 2 $verify) >"$work/batch$verify.stdout" 2>&1 ||
    { cat "$work/batch$verify.stdout" >&2; die "the installed gentrmx-batch $verify failed"; }
done
for terminal in TERM01 TERM02; do
  for function in MGDNL31P IDSTAMM MGDNL17P; do
    same "gentrmx-batch's $function $terminal" "$batch_out/$terminal.$function" "$work/built/out/$function-$terminal"
  done
done
echo "package-test: ok: $runs download files of the installed gentrmx equal the build tree's, byte for byte," \
  "and the installed gentrmx-batch's"
