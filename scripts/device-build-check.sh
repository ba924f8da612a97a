#!/bin/sh
# Builds the device flavour of the library (literal device paths, firmware symbols from the
# firmware's library) as RelWithDebInfo and as MinSizeRel (what a device image uses), and checks
# each: it reaches the device's own paths and never the environment; every symbol is bound at load
# time with read-only relocations; every firmware symbol it needs is in
# docs/device-integration.md; and the installed package links a program (examples/consumer, with
# find_package and with pkg-config) with the linker's default checks. Prints the stripped size of
# the MinSizeRel library.
#   scripts/device-build-check.sh [BUILD_DIR] [extra cmake arguments, e.g. a toolchain file]
# The MinSizeRel build goes to BUILD_DIR-minsize. CLONE_WERROR=ON makes warnings fail the builds.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-device}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
[ $# -gt 0 ] && shift
work=$(mktemp -d "${TMPDIR:-/tmp}/clone-device.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail=0
problem() { echo "device build: $*" >&2; fail=1; }
cached() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

check() {  # BUILD_DIR BUILD_TYPE [cmake arguments]
    dir=$1 type=$2
    shift 2
    cmake -S "$src" -B "$dir" -DCLONE_DEVICE_BUILD=ON -DCMAKE_BUILD_TYPE="$type" \
        ${CLONE_WERROR:+-DCLONE_WERROR=$CLONE_WERROR} "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" --target cloneCreator
    prefix=$work/$type
    DESTDIR=$prefix cmake --install "$dir" --prefix /usr >/dev/null
    prefix=$prefix/usr
    lib=$prefix/lib/libcloneCreator.so.1
    nm=$(cached "$dir" CMAKE_NM)
    [ -n "$nm" ] || nm=nm

    if "$nm" -D --undefined-only "$lib" | grep -qw getenv; then
        problem "$lib refers to getenv"
    fi
    for text in "/xpaths/tmp_cloningData/" "/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml" \
                "/xpaths/tmp_cloningData/.cloneCreator.lock" "/xpaths/tmp_cloningData/cfg_attr_list" \
                "/xpaths/nc_var_etc/ssl/trusted/"; do
        strings -a "$lib" | grep -qF -- "$text" || problem "$lib lacks the device path \"$text\""
    done
    if strings -a "$lib" | grep -qF "CLONE_DEVICE_ROOT"; then
        problem "$lib mentions CLONE_DEVICE_ROOT"
    fi
    # A child between fork and exec must not enter the lazy resolver.
    readelf -d "$lib" | grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' || problem "$lib is not bound at load time (no BIND_NOW)"
    readelf -lW "$lib" | grep -q GNU_RELRO || problem "$lib has no read-only relocations (no GNU_RELRO)"
    readelf -d "$lib" | grep -q 'RUNPATH\|RPATH' && problem "$lib carries a run path: $(readelf -d "$lib" | grep 'R.*PATH')"
    # Every firmware symbol the library leaves to the device is written down for the integrator.
    "$nm" -D --undefined-only "$lib" | awk '$1 == "U" && $2 !~ /@/ { print $2 }' | c++filt | sed 's/(.*//' |
        while read -r symbol; do
            grep -qF -- "\`$symbol" "$src/docs/device-integration.md" ||
                echo "device build: firmware symbol $symbol is not in docs/device-integration.md" >&2
        done 2>&1 | grep . >&2 && fail=1
    # The schemas are built in; only clonefile, a host tool, reads .xsd files.
    [ -z "$(find "$prefix" -name '*.xsd')" ] || problem "the device package installs .xsd files"
    # A program links against the installed package as an integrator builds it.
    cmake -S "$src/examples/consumer" -B "$work/consumer-$type" -DcloneCreator_DIR="$prefix/lib/cmake/cloneCreator" \
        "$@" >"$work/consumer.log" 2>&1 && cmake --build "$work/consumer-$type" >>"$work/consumer.log" 2>&1 ||
        { cat "$work/consumer.log" >&2; problem "examples/consumer does not build with find_package against the $type package"; }
    cc=$(sed -n 's/^set(CMAKE_C_COMPILER "\(.*\)")$/\1/p' "$work/consumer-$type"/CMakeFiles/*/CMakeCCompiler.cmake)
    ldflags=$(cached "$work/consumer-$type" CMAKE_EXE_LINKER_FLAGS)
    # shellcheck disable=SC2046,SC2086
    "$cc" -Wall -Wextra -Werror -o "$work/consumer-pc-$type" "$src/examples/consumer/consumer.c" $ldflags \
        $(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH="" PKG_CONFIG_SYSROOT_DIR="" \
          pkg-config --cflags --libs cloneCreator) ||
        problem "examples/consumer does not link with pkg-config against the $type package"
    if [ "$fail" -eq 0 ]; then
        echo "device build ($type): $lib holds the literal device paths, no environment lookup, BIND_NOW and RELRO; a consumer links"
    fi
}

check "$build" RelWithDebInfo "$@"
check "$build-minsize" MinSizeRel "$@"
strip=$(cached "$build-minsize" CMAKE_STRIP)
[ -n "$strip" ] || strip=strip
"$strip" -o "$work/stripped.so" "$work/MinSizeRel/usr/lib/libcloneCreator.so.1"
machine=$(readelf -h "$work/stripped.so" | sed -n 's/^ *Machine: *//p')
echo "device build: stripped MinSizeRel libcloneCreator.so.1 ($machine): $(wc -c < "$work/stripped.so") bytes"
exit "$fail"
