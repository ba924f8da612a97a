#!/bin/sh
# Builds the libFuzzer targets (fuzz/, clang with AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each for SECONDS (default 12), one after the other, from the seed corpus in
# fuzz/corpus/TARGET plus what earlier runs in the same build folder found. Fails on the first
# crash, leak, timeout or out-of-memory, and names the input that caused it.
#   scripts/fuzz.sh [SECONDS]
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_TARGETS (default all),
# FUZZ_ARGS (more libFuzzer options, e.g. -runs=N).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-12}
build=${FUZZ_BUILD:-$src/build-fuzz}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
targets=${FUZZ_TARGETS:-"groups manifest attribute_lists clonefile xfile"}
EXTRA_PACKAGES="clang-14 libclang-rt-14-dev" "$src/scripts/install-deps.sh"
cmake -S "$src/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
# The element tables' names first, then the rest of the dictionary.
"$build/element_dict" > "$build/clone.dict"
cat "$src/fuzz/clone.dict" >> "$build/clone.dict"
# Scratch device roots on a memory file system when there is one: every input writes files.
scratch=$build/scratch
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm/clonefuzz-$(id -u)
mkdir -p "$scratch"
for target in $targets; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus" "$build/artifacts"
    echo "== fuzz $target for ${seconds}s"
    # -close_fd_mask=3: the targets' own output is noise; libFuzzer and the sanitizers still report.
    # shellcheck disable=SC2086
    if ! TMPDIR=$scratch "$build/${target}_fuzzer" -dict="$build/clone.dict" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" ${FUZZ_ARGS:-} \
        "$corpus" "$src/fuzz/corpus/$target" 2>"$build/$target.log"; then
        tail -n 60 "$build/$target.log" >&2
        echo "fuzz: $target failed; the input is in $build/artifacts/" >&2
        exit 1
    fi
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/$target.log" | tr '\n' ' '
    echo
done
echo "fuzz: no crash in $targets"
