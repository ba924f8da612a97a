#!/bin/sh
# clonefile diff of a large profile's clone file against a changed copy, beside tar -tzf of both
# archives: wall time and peak memory (/usr/bin/time), median of 3 runs. The copy is a second
# export of the same profile after one configuration value was changed and one template removed.
# Prints one table row per profile; the profile is removed afterwards.
# The diff itself (its last lines) goes to standard error.
#   scripts/bench-diff.sh [SCALE...]        (default scales: 1 10)
# BUILD is $CLONE_BENCH_BUILD, else build-bench (configured as Release when it is new).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
scales=${*:-1 10}
build=${CLONE_BENCH_BUILD:-$src/build-bench}
"$src/scripts/install-deps.sh"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCLONE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target clonefile sample_plugins profile_export >/dev/null
clonefile=$build/tools/clonefile/clonefile
plugins=$(sed -n 's/^CLONE_SAMPLE_PLUGIN_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-diff.XXXXXX")
trap 'rm -rf "$work"' EXIT
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
measure() {  # NAME COMMAND...: three runs, "NAME seconds kib" (median of each)
    name=$1
    shift
    for i in 1 2 3; do
        /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null 2>&1 || [ $? -eq 1 ]
        cat "$work/time"
    done > "$work/runs"
    echo "$name $(cut -d' ' -f1 "$work/runs" | median) $(cut -d' ' -f2 "$work/runs" | median)"
}
printf '| profile | archive (each) | members | diff | tar -tzf both | diff / tar | diff peak RSS | tar peak RSS |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for scale in $scales; do
    root=$work/profile
    rm -rf "$root"
    "$src/device/mkdevice.sh" --plugins "$plugins" --clonefile "$clonefile" --profile "$scale" "$root" >/dev/null
    export CLONE_DEVICE_ROOT=$root PATH="$root/bin:$PATH"
    groups=$(cat "$root/config/profile_groups")
    "$build/benchmarks/profile_export" export "$root/a" "$groups" clone-demo >/dev/null
    name=$(sed -n 's/^\(profile\.[^=]*\)=.*/\1/p' "$root/config/attributes" | head -n 1)
    sed -i "s/^$name=.*/&-changed/" "$root/config/attributes"
    rm -f "$(find "$root/xpaths/temp/template/pool/usb" -type f | sort | head -n 1)"
    "$build/benchmarks/profile_export" export "$root/b" "$groups" clone-demo >/dev/null
    mv "$root/a" "$root/b" "$work/"
    rm -rf "$root"
    sync
    a=$work/a
    b=$work/b
    # Warm the page cache for all of them alike.
    cat "$a"/* "$b"/* > /dev/null
    diff=$(measure diff "$clonefile" diff "$a/cloning.dlm" "$b/cloning.dlm")
    tar=$(measure tar sh -c "tar -tzf '$a/cloning.tar' && tar -tzf '$b/cloning.tar'")
    members=$(tar -tzf "$a/cloning.tar" | wc -l)
    echo "$diff $tar" | awk -v s="$scale" -v size="$(stat -c %s "$a/cloning.dlm")" -v n="$members" '{
        printf "| x%s | %.0f MB | %d | %.2f s | %.2f s | %.2f | %.1f MiB | %.1f MiB |\n",
            s, size / 1e6, n, $2, $5, $2 / $5, $3 / 1024, $6 / 1024 }'
    "$clonefile" diff "$a/cloning.dlm" "$b/cloning.dlm" | tail -n 8 >&2 || true
    rm -rf "$a" "$b"
done
