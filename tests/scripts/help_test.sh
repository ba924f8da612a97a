#!/bin/sh
# Every script of scripts/ and device/ (the simulated tools too) answers --help with its usage on
# standard output and exit 0, and does nothing else: no file made, no tool call recorded.
#   tests/scripts/help_test.sh SOURCE_DIR
set -eu
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for script in "$src"/scripts/*.sh "$src"/device/*.sh "$src"/device/tools/*; do
    case $script in */installed-at) continue ;; esac
    name=${script#"$src"/}
    mkdir "$work/cwd"
    status=0
    (cd "$work/cwd" && CLONE_DEVICE_ROOT=$work/cwd sh "$script" --help > "$work/out" 2> "$work/err") || status=$?
    if [ "$status" -ne 0 ] || ! grep -q '[a-z]' "$work/out" || [ -s "$work/err" ] ||
        [ -n "$(ls -A "$work/cwd")" ]; then
        echo "$name --help: exit $status, $(wc -c < "$work/out") bytes of usage, left: $(ls -A "$work/cwd" | head -3)"
        failed=$((failed + 1))
    fi
    rm -rf "$work/cwd"
done
[ "$failed" -eq 0 ] && echo "every script answers --help"
exit "$failed"
