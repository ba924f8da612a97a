#!/bin/bash
# Runs the same exports with two builds on the same simulated devices and compares everything a
# caller can observe: result, output files, archive members in order with modes, sizes and bytes,
# the manifest, the device log records with trace records (source lines, time, process and export
# number left out, and the export's summary record) and the tools' command lines.
# Changes meant to keep behaviour (speed-ups) are checked with it.
#   scripts/compare-exports.sh BUILD_BEFORE BUILD_AFTER        (Release or RelWithDebInfo builds)
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
[ $# -eq 2 ] || { echo "usage: compare-exports.sh BUILD_BEFORE BUILD_AFTER" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for build in "$1" "$2"; do
    cmake --build "$build" -j"$(nproc)" --target clone_demo clonefile sample_plugins >/dev/null
done
plugins() { sed -n 's/^CLONE_SAMPLE_PLUGIN_DIR:INTERNAL=//p' "$1/CMakeCache.txt"; }
clonefile=$1/tools/clonefile/clonefile
# One layout for both builds: keys and certificates are made at random when a device is laid out.
"$src/device/mkdevice.sh" --plugins "$(plugins "$1")" --clonefile "$clonefile" "$work/demo" >/dev/null
"$src/device/mkdevice.sh" --plugins "$(plugins "$1")" --clonefile "$clonefile" --profile 0.1 "$work/profile" >/dev/null

export_all() {  # BUILD OUT
    local build=$1 out=$2 name root groups
    for root in "$work/demo" "$work/profile"; do
        cp "$(plugins "$build")"/*.so "$root/usr/lib/plugins/cloning/"
    done
    while IFS='|' read -r name root groups; do
        local o=$out/$name
        mkdir -p "$o"
        rm -rf "$root/out" "$root/var/log/clone.log" "$root/var/log/tools.log"
        mkdir -p "$root/out"
        set +e
        echo clone-demo | CLONE_LOG_TRACE=1 CLONE_DEVICE_ROOT=$root PATH="$root/bin:$PATH" "$build/tools/demo/clone_demo" \
            "$root/out" "$groups" > /dev/null
        echo "result $?" > "$o/result"
        set -e
        # Time, process and export number (a second field, where a build writes them) and source
        # lines differ by nature. The export's summary record is left out: it is new beside the
        # records compared, and its own test checks it.
        sed -E 's/^([A-Z]+)\t[0-9]{4}-[0-9T:.Z-]+ pid=[0-9]+ export=[0-9]+\t/\1\t/' "$root/var/log/clone.log" |
            cut -f1,3- | sed 's/clone file size: [0-9]*/clone file size: N/' |
            { grep -v '^INFO	Clone file elements: ' || true; } > "$o/log"
        cp "$root/var/log/tools.log" "$o/tools" 2>/dev/null || true
        ls "$root/out" > "$o/outputs"
        if [ -f "$root/out/cloning.dlm" ]; then
            "$clonefile" list "$root/out/cloning.dlm" > "$o/members"
            "$clonefile" manifest "$root/out/cloning.dlm" > "$o/manifest"
            mkdir "$o/tree"
            "$clonefile" extract "$root/out/cloning.dlm" "$o/tree" > /dev/null
            (cd "$o/tree" && find . -printf '%p %m %s\n' | sort && find . -type f -print0 | sort -z |
                xargs -0 -r sha256sum) > "$o/files"
            rm -rf "$o/tree"
        fi
    done <<LINES
demo|$work/demo|SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP CLONE_TO_SELF_GROUP 
demo-network-first|$work/demo|NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP PRINT_GROUP 
demo-self|$work/demo|CLONE_TO_SELF_GROUP 
demo-unknown-group|$work/demo|NO_SUCH_GROUP SCAN_GROUP 
profile|$work/profile|$(cat "$work/profile/config/profile_groups")
profile-self|$work/profile|PROFILE2_GROUP CLONE_TO_SELF_GROUP PROFILE1_GROUP 
LINES
}

export_all "$1" "$work/before"
export_all "$2" "$work/after"
if diff -r "$work/before" "$work/after"; then
    echo "compare-exports: the same in all $(ls "$work/before" | wc -l) exports"
else
    echo "compare-exports: the exports differ (above)" >&2
    exit 1
fi
