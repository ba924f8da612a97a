#!/bin/sh
# Builds and runs the benchmarks (release build), printing their figures.
#   scripts/bench.sh [BUILD_DIR] [benchmark options]
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-bench}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
[ $# -gt 0 ] && shift
EXTRA_PACKAGES=libbenchmark-dev "$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCLONE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target export_benchmark
"$build/benchmarks/export_benchmark" "$@"
