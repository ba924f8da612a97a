#!/bin/bash
# The export of large device profiles side by side with what it cannot avoid (its floor): the
# device tools it runs, "cp -rp" of the device files it captures, "tar -cz -b 64" of the same staged
# tree, and the signing library's password check. Prints one table row per profile, the library's own instruction count
# (callgrind, commands and the platform's stand-ins left out) and peak memory (with the pages of
# the signing stand-in's libcrypto and libarchive shown apart), and draws
# docs/profile-overhead.svg.
#   scripts/bench-profile.sh [--ppc] [SCALE...]        (default scales: 0.1 1 10)
# --ppc runs the same export under qemu-ppc from the PowerPC build (times only).
# Figures go to $BUILD/profile-figures.txt; BUILD is build-bench (build-ppc-bench with --ppc).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
ppc=false
if [ "${1:-}" = --ppc ]; then
    ppc=true
    shift
fi
scales=${*:-0.1 1 10}
runs=${CLONE_BENCH_RUNS:-3}
password=clone-demo

EXTRA_PACKAGES="valgrind gnuplot-nox" "$src/scripts/install-deps.sh"
if $ppc; then
    build=$src/build-ppc-bench
    "$src/scripts/install-deps.sh"
    bash "$src/scripts/ppc-deps.sh"
    toolchain=$src/cmake/toolchains/powerpc-linux-gnu.cmake
    cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCLONE_BUILD_TESTS=OFF >/dev/null
    host=$src/build-bench
else
    build=$src/build-bench
    host=$build
fi
cmake -S "$src" -B "$host" -DCMAKE_BUILD_TYPE=Release -DCLONE_BUILD_TESTS=OFF >/dev/null
cmake --build "$host" -j"$(nproc)" --target clonefile sample_plugins profile_export command_timer >/dev/null
$ppc && cmake --build "$build" -j"$(nproc)" --target sample_plugins profile_export command_timer >/dev/null

driver=$build/benchmarks/profile_export
timer=$build/benchmarks/libcommand_timer.so
plugins=$(sed -n 's/^CLONE_SAMPLE_PLUGIN_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
run_driver() {  # the driver natively, or under qemu-ppc with the target's libraries
    if $ppc; then
        sysroot=$(sed -n 's/^CLONE_PPC_SYSROOT:PATH=//p' "$build/CMakeCache.txt")
        qemu-ppc -L /usr/powerpc-linux-gnu -E LD_LIBRARY_PATH="$sysroot/lib" ${PRELOAD:+-E LD_PRELOAD=$PRELOAD} \
            "$driver" "$@"
    else
        LD_PRELOAD=${PRELOAD:-} "$driver" "$@"
    fi
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
value() { sed -n "s/^$1 //p" "$2" | tail -n 1; }

figures=$build/profile-figures.txt
: > "$figures"
printf '| profile | export | commands | cp alone | tar alone | password check | floor | export / floor | signing | export / (floor + signing) | own overhead | own instructions | peak RSS above load-only (of it the signing stand-in) |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
for scale in $scales; do
    root=$build/profile-$scale
    if [ ! -f "$root/.complete" ]; then
        rm -rf "$root"
        "$src/device/mkdevice.sh" --plugins "$plugins" --clonefile "$host/tools/clonefile/clonefile" \
            --profile "$scale" "$root" >/dev/null
        touch "$root/.complete"
    fi
    export CLONE_DEVICE_ROOT=$root PATH="$root/bin:$PATH"
    groups=$(cat "$root/config/profile_groups")
    out=$root/out
    work=$root/bench
    rm -rf "$work"
    mkdir -p "$work"
    for i in $(seq "$runs"); do
        rm -rf "$out"
        CLONE_COMMAND_TIMES=$work/commands.$i PRELOAD=$timer run_driver export "$out" "$groups" "$password" \
            > "$work/export.$i" || { echo "export of profile x$scale failed" >&2; exit 1; }
        # The same staged tree, archived alone the way the export does.
        rm -rf "$work/tree"
        "$host/tools/clonefile/clonefile" extract "$out/cloning.dlm" "$work/tree" >/dev/null
        ( cd "$work/tree" && /usr/bin/time -f "tar_alone_s %e" -o "$work/tar.$i" tar -cz -b 64 -f "$work/alone.tar" . )
        # What the profile's captures copy (the template pool, the scan-to-home templates, the IPsec
        # configuration), as cp copies it.
        rm -rf "$work/cp" && mkdir -p "$work/cp"
        ( cd "$root/xpaths" && /usr/bin/time -f "cp_alone_s %e" -o "$work/cp.$i" sh -c '
            for s in temp/template/pool/system temp/template/pool/web temp/template/pool/mailbox \
                     temp/template/pool/usb temp/template/pool/s2home ipsec/cfgipsec.xml; do
                [ -e "$s" ] && cp -rp "$s" "$1/$(echo "$s" | tr / _)"
            done; :' sh "$work/cp" )
    done
    exp=$(for i in $(seq "$runs"); do value export_s "$work/export.$i"; done | median)
    cmds=$(for i in $(seq "$runs"); do value commands_s "$work/commands.$i"; done | median)
    tarin=$(for i in $(seq "$runs"); do value tar_s "$work/commands.$i"; done | median)
    tar=$(for i in $(seq "$runs"); do value tar_alone_s "$work/tar.$i"; done | median)
    cp=$(for i in $(seq "$runs"); do value cp_alone_s "$work/cp.$i"; done | median)
    pass=$(for i in $(seq "$runs"); do value password_s "$work/commands.$i"; done | median)
    sign=$(for i in $(seq "$runs"); do value sign_s "$work/commands.$i"; done | median)
    rss=$(for i in $(seq "$runs"); do value peak_rss_kib "$work/export.$i"; done | median)
    crypto=$(for i in $(seq "$runs"); do value stand_in_rss_kib "$work/export.$i"; done | median)
    run_driver load-only > "$work/load-only"
    base=$(value peak_rss_kib "$work/load-only")
    basecrypto=$(value stand_in_rss_kib "$work/load-only")
    instructions=-
    if ! $ppc; then
        # Collected inside createCloneDLM only, with the platform's stand-ins (signing, password
        # check, log, configuration, plug-in loader) toggled off; commands run in child processes,
        # which callgrind does not follow.
        rm -rf "$out"
        valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" --collect-atstart=no \
            --toggle-collect=createCloneDLM '--toggle-collect=CloneMaker::*' '--toggle-collect=Log_SpecEntry' \
            '--toggle-collect=Cfg_*' '--toggle-collect=xpaths_get_path' '--toggle-collect=kel::plugin::LoadPlugins*' \
            "$driver" export "$out" "$groups" "$password" > /dev/null 2> "$work/callgrind.log"
        instructions=$(sed -n 's/^summary: //p' "$work/callgrind.out")
    fi
    awk -v s="$scale" -v e="$exp" -v c="$cmds" -v k="$cp" -v ti="$tarin" -v t="$tar" -v p="$pass" -v g="$sign" \
        -v ir="$instructions" -v r="$rss" -v b="$base" -v cr="$crypto" -v cb="$basecrypto" -v fig="$figures" 'BEGIN {
        floor = c + k + t + p; own = e - c - ti - p - g
        # Under qemu the process is the emulator, whose memory says nothing of the library.
        printf "| x%s | %.2f s | %.2f s | %.2f s | %.2f s | %.2f s | %.2f s | %.3f | %.2f s | %.3f | %.3f s | %s | %s |\n",
            s, e, c, k, t, p, floor, e / floor, g, e / (floor + g), own, (ir == "-" ? "-" : sprintf("%.1f M", ir / 1e6)),
            (ir == "-" ? "-" : sprintf("%.1f MiB (%.1f)", (r - b) / 1024, (cr - cb) / 1024))
        printf "%s %.4f %.4f %.4f %.4f %.4f %.4f %s %d %d %d %d %.4f\n", s, e, c, t, p, g, own, ir, r, b, cr, cb, k >> fig
    }'
done
echo "(figures: $figures; export, commands and tar are medians of $runs runs)"

if ! $ppc && [ "$(wc -l < "$figures")" -gt 1 ]; then
    gnuplot <<GNUPLOT
set terminal svg size 640,400 font "sans,11"
set output "$src/docs/profile-overhead.svg"
set logscale xy
set xlabel "profile size (x1 = 500 subgroups, 20,000 attribute lines, 2,000 files)"
set ylabel "seconds"
set key top left
set grid
plot "$figures" using 1:2 with linespoints title "whole export", \
     "$figures" using 1:(\$3+\$4+\$5+\$13) with linespoints title "floor (commands, cp, tar alone, password check)", \
     "$figures" using 1:(\$7 > 0.001 ? \$7 : 0.001) with linespoints title "library's own overhead"
GNUPLOT
    echo "chart: $src/docs/profile-overhead.svg"
fi
