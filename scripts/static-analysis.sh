#!/bin/sh
# clang-tidy (checks in .clang-tidy) over the library, the tools, the host stand-ins and the
# plug-ins, then cppcheck over those and the tests and benchmarks; any finding fails. The build
# folder is only configured (compile_commands.json and the generated headers), never built.
#   scripts/static-analysis.sh [BUILD_DIR]   (default build-tidy)
# Environment: TIDY_JOBS (parallel clang-tidy runs, default the number of processors).
# Suppressions: NOLINT(check) or cppcheck-suppress at the line, each with its reason; the few
# project-wide ones are in scripts/cppcheck-suppressions.txt. See docs/static-analysis.md.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-tidy}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
jobs=${TIDY_JOBS:-$(nproc)}
EXTRA_PACKAGES="clang-tidy cppcheck" "$src/scripts/install-deps.sh"
cmake -S "$src" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

# The project's own sources in the compilation database. The tests, fuzz targets and benchmarks
# are left to cppcheck: they run under the sanitizers, and the GoogleTest macros would double
# clang-tidy's time for findings in code that only the tests run.
sources=$(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" | sort -u)
tidy_sources=$(printf '%s\n' "$sources" |
    grep -E "^$src/(cloneCreator|xfile|cloneFormat|tools|platform|plugin|device)/" || true)
[ -n "$tidy_sources" ] || { echo "static-analysis: no sources in $build/compile_commands.json" >&2; exit 1; }

status=0
echo "== clang-tidy: $(printf '%s\n' "$tidy_sources" | wc -l) files"
# --quiet: only findings; each run prints nothing when its file is clean.
printf '%s\n' "$tidy_sources" | xargs -P "$jobs" -n 1 clang-tidy -p "$build" --quiet \
    >"$build/clang-tidy.log" 2>"$build/clang-tidy.err" || status=1
if grep -q ': \(warning\|error\):' "$build/clang-tidy.log"; then
    status=1
fi
if [ "$status" -ne 0 ]; then
    cat "$build/clang-tidy.log" >&2
    grep -v ' warnings\{0,1\} generated\.$\|^Suppressed \|^Use -header-filter\|NOLINT' \
        "$build/clang-tidy.err" >&2 || true
    echo "static-analysis: clang-tidy findings above" >&2
fi

echo "== cppcheck"
mkdir -p "$build/cppcheck"
# -isystem paths are not searched by cppcheck, so libxml2's feature macro is given here: the
# clonefile's schema check needs it.
if ! cppcheck --project="$build/compile_commands.json" -j "$jobs" --quiet --inline-suppr \
    --enable=warning,style,performance,portability --std=c++17 \
    --library=posix,gnu,googletest,openssl,zlib -DLIBXML_SCHEMAS_ENABLED \
    --cppcheck-build-dir="$build/cppcheck" --suppressions-list="$src/scripts/cppcheck-suppressions.txt" \
    --suppress="*:/usr/*" --suppress="*:$build/*" --error-exitcode=1 \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]'; then
    echo "static-analysis: cppcheck findings above" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "static-analysis: no findings"
exit "$status"
