#!/bin/sh
# The fault-injection suite (tests/faults/faults.sh) on a native build: the whole demo export
# under full file systems, failing or missing tools, broken device files and a damaged signing
# key, with the invariant checked after every run. As root (it mounts small tmpfs).
#   scripts/test-faults.sh [BUILD_DIR]
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
EXTRA_PACKAGES="strace util-linux procps" "$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CLONE_WERROR:+-DCLONE_WERROR=$CLONE_WERROR} >/dev/null
cmake --build "$build" -j"$(nproc)" --target clone_demo clonefile sample_plugins >/dev/null
exec "$src/tests/faults/faults.sh" "$build"
