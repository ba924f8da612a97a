#!/bin/sh
# Line and branch coverage of the library, its file utilities, the clone file format and the
# clonefile command, reached by every native test and by the fault suite. Prints the figures per
# folder, writes a browsable report to BUILD/coverage/index.html and fails when a folder falls
# below its floor in docs/coverage.md's table (the figures landed with the stage, rounded down).
#   scripts/coverage.sh [BUILD_DIR]     (default build-coverage)
# Environment: COVERAGE_SKIP_FAULTS=1 leaves the fault suite out (quicker, lower figures).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-coverage}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
EXTRA_PACKAGES="gcovr" "$src/scripts/install-deps.sh"

# No optimisation, so that every line and branch of the source stands in the report as written.
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Debug ${CLONE_WERROR:+-DCLONE_WERROR=$CLONE_WERROR} -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage \
    >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
# Counters of an earlier run would add to these.
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure >"$build/coverage-ctest.log" 2>&1 ||
    { tail -n 40 "$build/coverage-ctest.log" >&2; echo "coverage: a test failed" >&2; exit 1; }
if [ "${COVERAGE_SKIP_FAULTS:-0}" != 1 ]; then
    # Each run of the fault suite writes its profiles to a folder of its own: a failure injected
    # into its system calls may cut them, and a cut profile merged into the build's would reset
    # the counts of every run before it. Whole runs are merged, one at a time; a cut one is left out.
    profiles=$build.fault-profiles
    rm -rf "$profiles" "$build.merged" && mkdir -p "$profiles"
    FAULT_GCOV_DIR=$profiles sh "$src/tests/faults/faults.sh" "$build" >"$build/coverage-faults.log" 2>&1 ||
        { tail -n 20 "$build/coverage-faults.log" >&2; echo "coverage: the fault suite failed" >&2; exit 1; }
    merged=0 cut=0
    for run in "$profiles"/*; do
        [ -d "$run$build" ] || continue
        if [ ! -d "$build.merged" ]; then
            mv "$run$build" "$build.merged"
        elif gcov-tool merge "$build.merged" "$run$build" -o "$build.merging" >/dev/null 2>&1; then
            rm -rf "$build.merged" && mv "$build.merging" "$build.merged"
        else
            rm -rf "$build.merging"
            cut=$((cut + 1))
            continue
        fi
        merged=$((merged + 1))
    done
    if [ -d "$build.merged" ]; then
        gcov-tool merge "$build" "$build.merged" -o "$build.merging" >/dev/null
        (cd "$build.merging" && find . -name '*.gcda' -exec cp --parents {} "$build" \;)
    fi
    rm -rf "$build.merging" "$build.merged" "$profiles"
    echo "coverage: $(tail -n 1 "$build/coverage-faults.log"); $merged runs' profiles merged, $cut cut by their injected failure"
fi

# Branches the compiler adds for exceptions and for what it proved unreachable are not the code's.
mkdir -p "$build/coverage"
gcovr -r "$src" --object-directory "$build" -j "$(nproc)" \
    --filter "$src/cloneCreator/" --filter "$src/xfile/" --filter "$src/cloneFormat/" --filter "$src/tools/clonefile/" \
    --exclude-throw-branches --exclude-unreachable-branches \
    --html-details "$build/coverage/index.html" --json-summary "$build/coverage/summary.json" >/dev/null

# Figures per folder, and each against its floor: the rows "| `FOLDER` | LINES % | BRANCHES % |" of
# the floors table in docs/coverage.md.
python3 - "$build/coverage/summary.json" "$src/docs/coverage.md" <<'EOF'
import json, re, sys
summary = json.load(open(sys.argv[1]))
floors = {}
for line in open(sys.argv[2]):
    m = re.match(r"\|\s*`([^`]+)`\s*\|\s*([0-9.]+)\s*%\s*\|\s*([0-9.]+)\s*%\s*\|\s*floor\s*\|", line)
    if m:
        floors[m.group(1)] = (float(m.group(2)), float(m.group(3)))
folders = {}
for f in summary["files"]:
    name = f["filename"]
    folder = next((k for k in sorted(floors, key=len, reverse=True) if name.startswith(k)), None)
    if folder is None:
        folder = name.split("/")[0] + "/"
    t = folders.setdefault(folder, [0, 0, 0, 0])
    t[0] += f["line_covered"]; t[1] += f["line_total"]; t[2] += f["branch_covered"]; t[3] += f["branch_total"]
low = []
print("%-22s %14s %18s" % ("folder", "lines", "branches"))
for folder in sorted(folders):
    lc, lt, bc, bt = folders[folder]
    lines = 100.0 * lc / lt if lt else 100.0
    branches = 100.0 * bc / bt if bt else 100.0
    print("%-22s %5.1f%% %4d/%-4d %5.1f%% %5d/%-5d" % (folder, lines, lc, lt, branches, bc, bt))
    if folder in floors and (lines < floors[folder][0] or branches < floors[folder][1]):
        low.append("%s: %.1f%% of lines, %.1f%% of branches, below the floor %.1f%% and %.1f%%"
                   % (folder, lines, branches, floors[folder][0], floors[folder][1]))
for folder in floors:
    if folder not in folders:
        low.append("%s: no coverage data" % folder)
for message in low:
    print("coverage: " + message, file=sys.stderr)
sys.exit(1 if low else 0)
EOF
echo "coverage: report in $build/coverage/index.html"
