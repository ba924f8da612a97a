#!/bin/sh
# Builds the device flavour of the library (literal device paths, firmware symbols left for the
# device to resolve) and checks that it reaches the device's own paths and never the environment.
#   scripts/device-build-check.sh [BUILD_DIR] [extra cmake arguments, e.g. a toolchain file]
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-device}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
[ $# -gt 0 ] && shift
cmake -S "$src" -B "$build" -DCLONE_DEVICE_BUILD=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" --target cloneCreator
lib="$build/cloneCreator/libcloneCreator.so"
nm=$(sed -n 's/^CMAKE_NM:FILEPATH=//p' "$build/CMakeCache.txt")
[ -n "$nm" ] || nm=nm

fail=0
if "$nm" -D --undefined-only "$lib" | grep -qw getenv; then
    echo "device build: $lib refers to getenv" >&2
    fail=1
fi
for text in "/xpaths/tmp_cloningData/" "/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml" \
            "/xpaths/tmp_cloningData/.cloneCreator.lock" "/xpaths/tmp_cloningData/cfg_attr_list" \
            "/xpaths/nc_var_etc/ssl/trusted/"; do
    if ! strings -a "$lib" | grep -qF -- "$text"; then
        echo "device build: $lib lacks the device path \"$text\"" >&2
        fail=1
    fi
done
if strings -a "$lib" | grep -qF "CLONE_DEVICE_ROOT"; then
    echo "device build: $lib mentions CLONE_DEVICE_ROOT" >&2
    fail=1
fi
[ "$fail" -eq 0 ] && echo "device build: $lib holds the literal device paths and no environment lookup"
exit "$fail"
