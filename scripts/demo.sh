#!/bin/sh
# Lays out a fresh simulated device, exports its clone groups with createCloneDLM, checks the
# clone file's signature with the device's public key and ends with a short summary. The device
# log, the manifest and the member list are kept in files whose paths it prints.
# Installs and builds what it needs first.
#   scripts/demo.sh [GROUPS]     (GROUPS: names each followed by a space)
#   CLONE_BUILD_DIR=DIR scripts/demo.sh ...   (another build folder than build/)
#   scripts/demo.sh --pcl-fonts  (places a manifest with a "pclFont" element in the export tree
#                                 and exports it with a null group line: pclFonts.dlm)
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${CLONE_BUILD_DIR:-$src/build}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
# Together these groups fill every clone helper's element but the PCL fonts'. The scan group comes
# first so that the address book is staged before its certificates, which go into its folder; with
# CLONE_TO_SELF_GROUP the export is a clone of this device for itself, which also carries what only
# the device itself may take back (serial number, wireless certificates, its own configuration).
groups=${1:-"SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP CLONE_TO_SELF_GROUP "}
"$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CLONE_WERROR:+-DCLONE_WERROR=$CLONE_WERROR} >/dev/null
cmake --build "$build" -j"$(nproc)" --target clone_demo clonefile simulated-device >/dev/null
CLONE_DEVICE_ROOT=$(sed -n 's/^CLONE_DEFAULT_DEVICE_ROOT:PATH=//p' "$build/CMakeCache.txt")
export CLONE_DEVICE_ROOT
export PATH="$CLONE_DEVICE_ROOT/bin:$PATH"
clonefile=$build/tools/clonefile/clonefile
out="$build/demo-output"
rm -rf "$out"
mkdir -p "$out"
log=$CLONE_DEVICE_ROOT/var/log/clone.log

status=0
if [ "$groups" = "--pcl-fonts" ]; then
    # The caller's part of the PCL font flow: a manifest naming only "pclFont", in an export tree
    # of its own, then a call without a group line.
    tree=$CLONE_DEVICE_ROOT/xpaths/tmp_cloningData/cloningExport
    rm -rf "$tree"
    mkdir -p "$tree"
    cat > "$tree/CloningManifest.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<CloningManifest xmlns="http://www.clonecreator.local/ConfigManifest"><cloningData><pclFont/></cloningData></CloningManifest>
EOF
    echo "== createCloneDLM(\"$out\", <password>, NULL) with a placed manifest, device at $CLONE_DEVICE_ROOT"
    echo clone-demo | "$build/tools/demo/clone_demo" "$out" --placed-manifest || status=$?
else
    echo "== createCloneDLM(\"$out\", <password>, \"$groups\") on the device at $CLONE_DEVICE_ROOT"
    echo clone-demo | "$build/tools/demo/clone_demo" "$out" "$groups" || status=$?
fi

records=$(wc -l < "$log" 2>/dev/null || echo 0)
errors=$(grep -c '^ERROR' "$log" 2>/dev/null || true)
if [ "$status" -ne 0 ]; then
    echo "== no clone file; the last errors of the device log:"
    grep '^ERROR' "$log" | tail -n 5 | cut -f4-
    echo "device log: $log ($records records, ${errors:-0} errors)"
    exit "$status"
fi

dlm=$(ls "$out"/*.dlm)
verify=OK
"$clonefile" verify --key "$CLONE_DEVICE_ROOT/config/clone_signing_key.pub.pem" "$dlm" >/dev/null || verify=FAILED
"$clonefile" manifest "$dlm" > "$out/manifest.xml"
"$clonefile" list "$dlm" > "$out/members.txt"
# Filled elements are the ones that carry text: <name>text</name> on one line.
filled=$(sed -n 's|^ *<\([A-Za-z]*\)[^>]*>[^<][^<]*</\1>$|\1|p' "$out/manifest.xml")
files=$(grep -v '/$' "$out/members.txt" | grep -vc 'Manifest.xml$' || true)
echo "== summary"
echo "clone file:      $dlm ($(wc -c < "$dlm") bytes)"
echo "verification:    $verify (clonefile verify with the device's public key)"
echo "elements filled: $(echo "$filled" | grep -c .)"
echo "$filled" | tr '\n' ' ' | fold -s -w 78 | sed 's/^/  /'
echo
echo "files staged:    $files (list: $out/members.txt)"
echo "manifest:        $out/manifest.xml"
echo "device log:      $log ($records records, ${errors:-0} errors)"
[ "$verify" = OK ]
