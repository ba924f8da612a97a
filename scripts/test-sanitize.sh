#!/bin/sh
# The whole test suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/test-sanitize.sh [BUILD_DIR]
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-asan}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
"$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Debug ${CLONE_WERROR:+-DCLONE_WERROR=$CLONE_WERROR} -DCLONE_SANITIZE=ON
cmake --build "$build" -j"$(nproc)"
# Leaks are errors; a sanitizer report stops the test that made it.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure
