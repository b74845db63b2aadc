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

# The benchmarks' build: Release, no busy check, no sanitizers, no tests.
bench_cmake_options=(-DCMAKE_BUILD_TYPE=Release -DGENTRMX_TESTS=OFF -DGENTRMX_BUSY_CHECK=OFF -DGENTRMX_SANITIZE=OFF)

# Configures the sources in $1 into $2 as the benchmarks build and builds
# the targets that follow.
build_bench() {  # source build target...
  local source=$1 dir=$2
  shift 2
  cmake -S "$source" -B "$dir" "${bench_cmake_options[@]}" >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target "$@" >/dev/null
}
