#!/bin/sh
# Lays out a fresh simulated device, exports its clone groups with createCloneDLM, checks the
# clone file's signature with the device's public key and prints the manifest it carries.
# Installs and builds what it needs first.
#   scripts/demo.sh [GROUPS]     (GROUPS: names each followed by a space)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=$src/build
groups=${1:-"NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP PRINT_GROUP "}
"$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target clone_demo clonefile simulated-device
export CLONE_DEVICE_ROOT="$build/device"
export PATH="$CLONE_DEVICE_ROOT/bin:$PATH"
clonefile=$build/tools/clonefile/clonefile
out="$build/demo-output"
rm -rf "$out"
echo "== createCloneDLM(\"$out\", <password>, \"$groups\") on the device at $CLONE_DEVICE_ROOT"
status=0
echo clone-demo | "$build/tools/demo/clone_demo" "$out" "$groups" || status=$?
echo "== device log ($CLONE_DEVICE_ROOT/var/log/clone.log)"
cat "$CLONE_DEVICE_ROOT/var/log/clone.log"
echo "== output directory"
ls -l "$out" 2>/dev/null || echo "(none)"
[ "$status" -eq 0 ] || exit "$status"
dlm=$(ls "$out"/*.dlm)
echo "== clonefile verify"
"$clonefile" verify --key "$CLONE_DEVICE_ROOT/config/clone_signing_key.pub.pem" "$dlm"
echo "== clonefile info"
"$clonefile" info "$dlm"
echo "== clonefile list"
"$clonefile" list "$dlm"
echo "== clonefile manifest"
"$clonefile" manifest "$dlm"
