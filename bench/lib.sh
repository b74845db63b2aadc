# Shared by the benchmark scripts (sourced; needs $build).

# Writes the benchmark's configuration file (login bench, password bench)
# naming data source $2.
write_bench_config() {  # cfg dsn
  local cfg=$1
  rm -f "$cfg"
  "$build/gentrmx-config" set "$cfg" LOGIN bench >/dev/null 2>&1
  printf 'bench\n' | "$build/gentrmx-config" set "$cfg" PASS - >/dev/null 2>&1
  "$build/gentrmx-config" set "$cfg" DATABASE "$2" >/dev/null 2>&1
  "$build/gentrmx-config" set "$cfg" DB_SYSTEM MSSQL >/dev/null 2>&1
  "$build/gentrmx-config" set "$cfg" SCHEMA 'Dravonix.' >/dev/null 2>&1
}
