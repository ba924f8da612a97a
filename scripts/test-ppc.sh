#!/bin/sh
# The whole test suite built for the target (32-bit big-endian PowerPC) and run under qemu-user,
# then the device flavour of the library built for the target and checked.
#   scripts/test-ppc.sh [BUILD_DIR]
# The PowerPC builds of libxml2 and libcrypto are cached in $CLONE_PPC_CACHE
# (default /var/cache/clonecreator-ppc), so only the first run builds them.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-ppc}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
toolchain=$src/cmake/toolchains/powerpc-linux-gnu.cmake
"$src/scripts/install-deps.sh"
bash "$src/scripts/ppc-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CLONE_WERROR:+-DCLONE_WERROR=$CLONE_WERROR}
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure
"$src/scripts/device-build-check.sh" "$build-device" -DCMAKE_TOOLCHAIN_FILE="$toolchain"
