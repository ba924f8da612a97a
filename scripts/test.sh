#!/bin/sh
# Builds everything and runs every test on this machine, then checks the device flavour of the
# library. Installs what it needs first.
#   scripts/test.sh [BUILD_DIR]
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
"$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure
"$src/scripts/test-install.sh" "$build"
"$src/scripts/device-build-check.sh" "$build-device"
