#!/bin/sh
# Installs BUILD_DIR into a temporary prefix and checks what an integrator gets: the example
# consumer (examples/consumer) is built against the installed tree alone, once with
# find_package(cloneCreator) and once with pkg-config, and each build runs an export on a simulated
# device of its own, whose clone file the installed clonefile then verifies.
#   scripts/test-install.sh BUILD_DIR
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: test-install.sh BUILD_DIR}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/clone-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "test-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$prefix/lib
for f in "$libdir/libcloneCreator.so" "$libdir/libclonehost.so" "$prefix/include/cloneCreator.h" \
         "$prefix/bin/clonefile" "$libdir/cmake/cloneCreator/cloneCreatorConfig.cmake" \
         "$libdir/pkgconfig/cloneCreator.pc" "$prefix/share/cloneCreator/schemas/CloningManifest.xsd"; do
    [ -e "$f" ] || fail "not installed: ${f#"$prefix"/}"
done
# The manual page and the bash completion of clonefile, both made from its help texts.
man1=$prefix/share/man/man1/clonefile.1
completion=$prefix/share/bash-completion/completions/clonefile
[ -e "$man1" ] && [ -e "$completion" ] || fail "no manual page or bash completion for clonefile"
if command -v man >/dev/null; then
    MANPATH=$prefix/share/man man clonefile 2>/dev/null | grep -q 'clonefile - check, inspect' || fail "man clonefile"
fi
# shellcheck disable=SC2016
bash -c '. "$1"; COMP_WORDS=(clonefile sh); COMP_CWORD=1; _clonefile; [ "${COMPREPLY[*]}" = show ] || exit 1
         COMP_WORDS=(clonefile diff --con); COMP_CWORD=2; _clonefile; [ "${COMPREPLY[*]}" = --content ]' \
    _ "$completion" || fail "bash completion of clonefile"
readelf -d "$libdir/libcloneCreator.so" | grep -q 'SONAME.*\[libcloneCreator\.so\.1\]' || fail "no SONAME libcloneCreator.so.1"
readelf -d "$libdir/libcloneCreator.so" | grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' || fail "libcloneCreator.so is not bound at load time"
# The header names the version the package has.
version=$(printf '#include <cloneCreator.h>\nCLONECREATOR_VERSION\n' | cc -E -P -I"$prefix/include" -x c - | tail -n 1)
[ "$version" = "\"$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion cloneCreator)\"" ] ||
    fail "cloneCreator.h names version $version, the package $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion cloneCreator)"

cmake -S "$src/examples/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS=-Werror >"$work/consumer.log"
cmake --build "$work/cmake" >>"$work/consumer.log"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror -o "$work/consumer-pkgconfig" "$src/examples/consumer/consumer.c" \
    $(pkg-config --cflags --libs cloneCreator) -Wl,-rpath,"$(pkg-config --variable=libdir cloneCreator)"

for consumer in "$work/cmake/consumer" "$work/consumer-pkgconfig"; do
    # Nothing of the build tree may be used at run time.
    ! ldd "$consumer" | grep -F "$build" || fail "$consumer loads libraries from $build"
    name=$(basename "$consumer")
    root=$work/device-$name
    "$src/device/mkdevice.sh" --plugins "$build/plugins/cloning" --clonefile "$prefix/bin/clonefile" "$root" >/dev/null
    CLONE_DEVICE_ROOT=$root PATH="$root/bin:$PATH" "$consumer" "$work/out-$name" clone-demo "NETWORK_GROUP SCAN_GROUP " \
        || fail "$name: the export failed (log: $root/var/log/clone.log)"
    "$prefix/bin/clonefile" verify --key "$root/config/clone_signing_key.pub.pem" "$work/out-$name/cloning.dlm"
done
echo "test-install: consumer built with find_package and with pkg-config, both exports verified"
