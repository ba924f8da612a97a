#!/bin/sh
# Builds everything and runs every test on this machine, then checks the device flavour of the
# library. Installs what it needs first.
#   scripts/test.sh [BUILD_DIR]      (CLONE_WERROR=ON: warnings fail the build, as in CI)
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
"$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CLONE_WERROR:+-DCLONE_WERROR=$CLONE_WERROR}
cmake --build "$build" -j"$(nproc)"
# The library's floors: no include up a floor, no files calling each other in a circle.
python3 "$src/scripts/structure.py" "$build" >/dev/null
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure
# The README's order: the demo first, then the install must still find every part of the build.
CLONE_BUILD_DIR=$build "$src/scripts/demo.sh"
"$src/scripts/test-install.sh" "$build"
"$src/scripts/device-build-check.sh" "$build-device"
