#!/bin/sh
# The end-to-end tests (whole exports through createCloneDLM) and the capture helpers under
# valgrind's memcheck: no memory error and no definite leak is allowed.
#   scripts/test-valgrind.sh [BUILD_DIR]   (a native build made by scripts/test.sh)
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
EXTRA_PACKAGES=valgrind "$src/scripts/install-deps.sh"
cmake --build "$build" -j"$(nproc)"
mkdir -p "$build/test-tmp"
export TMPDIR="$build/test-tmp"
# program:filter — the suites that run whole exports, and the capture helpers (the attack rows of
# races and other processes aside: they try timing, not memory, and run many exports).
runs="cloneCreator/packaging_test:PackagingTest.*
cloneCreator/capture/attribute_lists_test:*
cloneCreator/capture/nvram_attributes_test:*
cloneCreator/capture/configuration_attributes_test:*
cloneCreator/capture/service_data_test:*
cloneCreator/capture/accounting_test:*
cloneCreator/capture/certificates_test:*
cloneCreator/capture/templates_test:*
cloneCreator/capture/network_files_test:*
cloneCreator/capture/custom_logo_test:*
cloneCreator/capture/pcl_fonts_test:*
cloneCreator/plugin_helpers_test:*
endtoend/export_test:*-*EntriesSwappedForLinksOut:*KilledHost:*AnotherUserWritesDuringTheExport"
status=0
for run in $runs; do
    program=$build/tests/${run%%:*}
    filter=${run#*:}
    [ -x "$program" ] || { echo "valgrind: $program is missing" >&2; status=1; continue; }
    echo "== valgrind $program --gtest_filter=$filter"
    # Without libc's clean-up at exit: under valgrind it would run in the library's command
    # supervisor too (a child that never runs another program), flushing the test's stdio again.
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        --run-libc-freeres=no \
        --show-leak-kinds=definite --track-origins=yes --quiet \
        "$program" --gtest_filter="$filter" --gtest_brief=1 || status=1
done
[ "$status" -eq 0 ] && echo "valgrind: no memory errors, no definite leaks"
exit "$status"
