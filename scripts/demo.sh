#!/bin/sh
# Lays out a fresh simulated device, exports its clone groups with createCloneDLM and shows the
# result. Installs and builds what it needs first.
#   scripts/demo.sh [GROUPS]     (GROUPS: names each followed by a space)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=$src/build
groups=${1:-"NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP "}
"$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target clone_demo simulated-device
export CLONE_DEVICE_ROOT="$build/device"
out="$build/demo-output"
rm -rf "$out"
echo "== createCloneDLM(\"$out\", <password>, \"$groups\") on the device at $CLONE_DEVICE_ROOT"
status=0
"$build/tools/demo/clone_demo" "$out" clone-demo "$groups" || status=$?
echo "== device log ($CLONE_DEVICE_ROOT/var/log/clone.log)"
cat "$CLONE_DEVICE_ROOT/var/log/clone.log"
echo "== output directory"
ls -l "$out" 2>/dev/null || echo "(none)"
exit "$status"
