#!/bin/sh
# Simulated database dump.
#   get_sql_data.sh SELECTOR...
# SELECTOR is one of --dab_contacts, --accounts, --attributes, --maps, --roles,
# --qtm_print_exceptions, --jba_print_exceptions, each naming the table of the same name (without
# the dashes). The database is ROOT/config/sql/: one text file per table, its first line the
# column names, then one row per line, fields separated by "|"; blank lines and lines starting
# with "#" are ignored. For each selector, in order, standard output gets "[TABLE]" and the
# table's lines. A table the database lacks is reported on standard error with exit status 1,
# after the tables before it were written; an unknown selector, or none, is exit status 2.
# sim.tool.get_sql_data.sh=fail|empty|garbage in ROOT/config/attributes makes it fail (exit 1, no
# output), write nothing (exit 0), or write bytes that are no text (exit 0).
# Fault modes: fail empty garbage hang
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
root=${CLONE_DEVICE_ROOT:?}
mkdir -p "$root/var/log"
printf 'get_sql_data.sh %s\n' "$*" >> "$root/var/log/tools.log"

usage() {
    echo "usage: get_sql_data.sh --dab_contacts|--accounts|--attributes|--maps|--roles|--qtm_print_exceptions|--jba_print_exceptions..." >&2
    exit 2
}
[ $# -gt 0 ] || usage
for selector in "$@"; do
    case $selector in
        --dab_contacts|--accounts|--attributes|--maps|--roles|--qtm_print_exceptions|--jba_print_exceptions) ;;
        *) usage ;;
    esac
done

mode=$(sed -n 's/^sim\.tool\.get_sql_data\.sh=//p' "$root/config/attributes" 2>/dev/null | tail -n 1)
case $mode in
    fail) exit 1 ;;
    # Starts its output, then never ends: only a tool that ends has written all of it.
    hang) echo "partial=1"; while :; do sleep 1; done ;;
    empty) exit 0 ;;
    garbage)
        printf 'a.b=\000\377\200\n'
        head -c 8192 /dev/zero | tr '\0' '\351'
        printf '\n'
        exit 0 ;;
esac

for selector in "$@"; do
    table=${selector#--}
    file=$root/config/sql/$table
    [ -r "$file" ] || { echo "get_sql_data.sh: no such table: $table" >&2; exit 1; }
    printf '[%s]\n' "$table"
    # Every byte as it is: rows with NUL bytes or bytes that are not UTF-8 are rows too.
    LC_ALL=C grep -a -v -e '^$' -e '^#' "$file"
done
exit 0
