#!/bin/sh
# Fault injection: the whole export of the demo device (clone_demo, every group of scripts/demo.sh)
# run once per fault, each on a copy of one laid-out device, and the invariant checked after
# every run:
#   exit 0 only with one clone file that verifies, unpacks with clonefile extract into an empty
#   folder, holds no byte from outside the device, and whose manifest names only members it holds;
#   exit 1 otherwise, with no clone file; never another status, a signal or a hang; nothing but
#   the owner-only clone file in the output directory (no archive, no temporary file); nothing
#   written outside the staging area, the output directory and the device log.
# Faults (one per run): a full file system under the staging area and, separately, under the
# output directory (tmpfs, size stepped a page at a time, so each page the export takes is in turn
# the one that is refused, then the inode count stepped, so file creations fail too); each device
# tool failing, writing nothing, writing garbage, never ending, or missing; each shell command the
# export runs by name (tar, sort) never ending; each plug-in refusing its export;
# each file the export reads from the device unreadable, a directory, or a dangling link; the
# signing key missing or damaged; links from each captured file, folder and certificate store out of
# the device, FIFOs in captured folders and a tree too deep to unpack; each write, sync, close (of
# what was written) and rename of the export's own process failing in turn (strace's fault injection: a write refused at any byte,
# not only at a page), of the log records every 20th.
# Run as root (mounts); the export itself runs without the capabilities that let root read
# anything, so an unreadable file is unreadable.
#   [FAULT_ONLY=REGEX] tests/faults/faults.sh BUILD_DIR
# (clone_demo, clonefile and the sample plug-ins built)
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
one=
if [ "${1:-}" = "--one" ]; then
    one=$3
    shift
fi
build=$(cd "$1" && pwd)
# What the attacks' links lead to: never a byte of it in a clone file.
secret="SECRET bytes from outside the device"
demo=$build/tools/demo/clone_demo
clonefile=$build/tools/clonefile/clonefile
groups="SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP CLONE_TO_SELF_GROUP "
work=${FAULT_WORK:-$build/faults}
template=$work/template

# ---- one run: "FAULT ARG" (ARG may hold blanks) ------------------------------------------------
run_one() {
    fault=${1%% *} arg=${1#* }
    w=$(mktemp -d "$work/run.XXXXXX")
    root=$w/device out=$w/out
    mkdir "$w/secretdir"
    echo "$secret" > "$w/secret"
    echo "$secret" > "$w/secretdir/outside.xst"
    cp -a "$template" "$root"
    mkdir -p "$out" "$w/tmp"
    staging=$root/xpaths/tmp_cloningData
    limit= trace=
    # A coverage build's profiles of this run go to a folder of its own, for scripts/coverage.sh
    # to merge: an injected failure may cut them, and they never meet another run's.
    if [ -n "${FAULT_GCOV_DIR:-}" ]; then
        export GCOV_PREFIX="$FAULT_GCOV_DIR/${w##*/}" GCOV_PREFIX_STRIP=0
    fi
    case $fault in
        baseline) ;;
        staging-size) mount -t tmpfs -o "size=$arg" tmpfs "$staging" ;;
        staging-inodes) mount -t tmpfs -o "nr_inodes=$arg" tmpfs "$staging" ;;
        output-size) mount -t tmpfs -o "size=$arg" tmpfs "$out" ;;
        output-inodes) mount -t tmpfs -o "nr_inodes=$arg" tmpfs "$out" ;;
        tool) echo "sim.tool.${arg%%=*}=${arg#*=}" >> "$root/config/attributes"
            [ "${arg#*=}" = hang ] && limit=1 ;;
        # SYSCALL=ERRNO@N: the export's Nth call of SYSCALL fails with ERRNO (its own process only;
        # the commands it runs are not traced).
        syscall) call=${arg%%=*} failure=${arg#*=}
            trace="strace -o /dev/null -e signal=none -e trace=$call -e inject=$call:error=${failure%@*}:when=${failure#*@}" ;;
        command-hang) printf '#!/bin/sh\nwhile :; do sleep 1; done\n' > "$root/bin/$arg" && chmod +x "$root/bin/$arg"
            limit=1 ;;
        tool-missing) rm -f "$root/$arg" ;;
        plugin-fail) echo "sim.plugin.$arg.fail=TRUE" >> "$root/config/attributes" ;;
        file-unreadable) chmod 000 "$root/$arg" ;;
        file-directory) rm -f "$root/$arg" && mkdir "$root/$arg" ;;
        file-dangling) rm -f "$root/$arg" && ln -s "$root/nowhere/${arg##*/}" "$root/$arg" ;;
        key-missing) rm -f "$root/config/clone_signing_key.pem" ;;
        key-truncated) head -c 40 "$template/config/clone_signing_key.pem" > "$root/config/clone_signing_key.pem" ;;
        key-garbage) head -c 300 /dev/urandom > "$root/config/clone_signing_key.pem" ;;
        key-public) cp "$root/config/clone_signing_key.pub.pem" "$root/config/clone_signing_key.pem" ;;
        key-directory) rm -f "$root/config/clone_signing_key.pem" && mkdir "$root/config/clone_signing_key.pem" ;;
        # Attacks on the capture boundary: links out of the device to a file or folder of the
        # run's own ($w/secret*), special files, a tree too deep to unpack.
        attack-link) rm -rf "$root/$arg" && ln -s "$w/secret" "$root/$arg" ;;
        attack-entry) ln -s "$w/secret" "$root/$arg" ;;
        attack-fifo) mkfifo "$root/$arg" ;;
        attack-folder) rm -rf "$root/$arg" && ln -s "$w/secretdir" "$root/$arg" ;;
        attack-deep) mkdir -p "$root/$arg" && (cd "$root/$arg" && i=0 && while [ $i -lt 300 ]; do
            mkdir deep-folder && cd deep-folder || exit 1; i=$((i + 1)); done && : > bottom.xst) ;;
        *) echo "faults: unknown fault $fault" >&2; exit 2 ;;
    esac
    : > "$w/marker"
    status=0
    # A hang is stopped at the command time limit, one second here.
    (cd "$w" && echo clone-demo | TMPDIR=$w/tmp CLONE_DEVICE_ROOT=$root PATH=$root/bin:$PATH \
        env ${limit:+CLONE_COMMAND_TIME_LIMIT=$limit} \
        timeout -k 5 60 setpriv --bounding-set=-dac_override,-dac_read_search \
        $trace "$demo" "$out" "$groups" > "$w/demo.out" 2>&1) || status=$?
    problem=$(check "$status")
    # The output directory may be a mount: checked, then let go before the copy is removed.
    mountpoint -q "$staging" && umount "$staging"
    mountpoint -q "$out" && umount "$out"
    if [ -z "$problem" ]; then
        echo "HELD $fault $arg exit=$status"
        rm -rf "$w"
    else
        echo "BROKEN $fault $arg exit=$status: $problem (kept in $w)"
    fi
}

# Prints what breaks the invariant for the run in $w (nothing when it held).
check() {
    status=$1
    dlms=$(cd "$out" && ls -A | grep '\.dlm$' || true)
    case $status in
        0)
            [ "$(echo "$dlms" | grep -c .)" -eq 1 ] || { echo "exit 0 with clone files: $dlms"; return; }
            dlm=$out/$dlms
            "$clonefile" verify --key "$root/config/clone_signing_key.pub.pem" "$dlm" > /dev/null 2>&1 ||
                { echo "exit 0 but $dlms does not verify"; return; }
            "$clonefile" list "$dlm" > "$w/members" 2>/dev/null || { echo "exit 0 but $dlms cannot be listed"; return; }
            "$clonefile" extract "$dlm" "$w/unpacked" > "$w/extract" 2>&1 ||
                { echo "exit 0 but $dlms does not unpack: $(head -c 300 "$w/extract")"; return; }
            ! grep -rlqF "$secret" "$w/unpacked" || { echo "exit 0 with bytes from outside the device in $dlms"; return; }
            "$clonefile" manifest "$dlm" > "$w/manifest" 2>/dev/null || { echo "exit 0 without a manifest"; return; }
            # Every path the manifest names is a member, or a folder with members in it.
            missing=$(sed -n 's|.*>\(data/[^<]*\)<.*|\1|p' "$w/manifest" | while IFS= read -r named; do
                awk -v f="./$named" -v d="./${named%/}/" '$0 == f || index($0, d) == 1 { found = 1 }
                    END { exit !found }' "$w/members" || echo "$named"
            done)
            [ -z "$missing" ] || { echo "manifest names what $dlms lacks: $missing"; return; }
            ;;
        1) [ -z "$dlms" ] || { echo "exit 1 but left $dlms"; return; } ;;
        124|137) echo "hung (killed after 60 s)"; return ;;
        *) echo "crashed or unexpected status $status"; return ;;
    esac
    # A stopped command leaves nothing running (every tool runs from the run's own copy).
    running=$(pgrep -f "$w/" || true)
    if [ -n "$running" ]; then
        pkill -KILL -f "$w/" || true
        echo "left running: $running"
        return
    fi
    # Nothing unsigned and no temporary file beside the clone file; the clone file is owner-only.
    left=$(cd "$out" && ls -A | grep -v '\.dlm$' | grep -v '^lost+found$' || true)
    [ -z "$left" ] || { echo "left in the output directory: $left"; return; }
    [ -z "$dlms" ] || [ "$(stat -c %a "$out/$dlms")" = 600 ] || { echo "$dlms is not owner-only"; return; }
    # Written since the start: only the staging area, the output, the log and the export's
    # scratch files (TMPDIR) may be; a folder counts when something in it changed.
    changed=$(find "$w" -newer "$w/marker" ! -path "$root/xpaths/tmp_cloningData*" ! -path "$out" ! -path "$out/*" \
        ! -path "$root/var/log/*" ! -path "$w/tmp" ! -path "$w/tmp/*" ! -path "$w/demo.out" ! -path "$w" \
        ! -path "$w/members" ! -path "$w/manifest" ! -path "$w/extract" ! -path "$w/unpacked" ! -path "$w/unpacked/*" \
        ! -type d | head -n 3)
    [ -z "$changed" ] || echo "wrote outside staging and output: $changed"
}

# ---- the fault table ---------------------------------------------------------------------------
# Files the export reads from the device: the sample data (its tools, stores and group files are
# faulted as tools, or are the export's own definition).
captured_files() {
    (cd "$template" && find xpaths usr -type f) | grep -v -e '/nc_dlms/clone/apps/' -e '/nc_dlms/upgrade/apps/' \
        -e '/nc_bin/' -e '/clone/data/tmp_' -e '/plugins/' | sort
}

fault_table() {
    echo "baseline -"
    # Sizes: every page up to what the staging area (lists and export tree) and the output hold.
    pages=$(( $(cat "$work/staging.bytes") / 4096 + 4 ))
    i=1; while [ "$i" -le "$pages" ]; do echo "staging-size $((i * 4))k"; i=$((i + 1)); done
    # Inodes in steps of three: each step refuses a different file or folder of the export.
    entries=$(( $(cat "$work/staging.entries") + 3 ))
    i=1; while [ "$i" -le "$entries" ]; do echo "staging-inodes $i"; i=$((i + 3)); done
    pages=$(( $(cat "$work/output.bytes") / 4096 + 4 ))
    i=1; while [ "$i" -le "$pages" ]; do echo "output-size $((i * 4))k"; i=$((i + 1)); done
    for i in 1 2 3 4; do echo "output-inodes $i"; done
    # Every installed tool, in each fault mode its own header names: a new tool is faulted too.
    grep -v '^#' "$src/device/tools/installed-at" | awk 'NF == 2 { print $2 }' | while read -r t; do
        modes=$(sed -n 's/^# Fault modes: //p' "$src/device/tools/$t")
        [ -n "$modes" ] || { echo "faults: $t names no fault modes" >&2; exit 1; }
        for mode in $modes; do echo "tool $t=$mode"; done
    done
    for c in tar sort; do echo "command-hang $c"; done
    # Each of the export's own writes, syncs, closes and renames failing in turn, at any byte.
    awk '{ print "syscall " $1 "=" ($1 == "write" ? "ENOSPC" : "EIO") "@" $2 }' "$work/syscalls"
    grep -v '^#' "$src/device/tools/installed-at" | awk 'NF == 2 { print "tool-missing " $1 }'
    for p in ConfigServer cmlAttributes fdiAttributes; do echo "plugin-fail $p"; done
    captured_files | while IFS= read -r f; do
        for kind in unreadable directory dangling; do echo "file-$kind $f"; done
    done
    for k in missing truncated garbage public directory; do echo "key-$k -"; done
    captured_files | while IFS= read -r f; do echo "attack-link $f"; done
    for d in xpaths/temp/certs/encryptionfiles xpaths/nc_dlms_data/http/data xpaths/nc_var_etc/ssl/trusted \
        xpaths/nc_var_etc/ssl/domain usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob \
        xpaths/temp/template/pool/system xpaths/temp/template/pool/web xpaths/temp/template/pool/s2home; do
        echo "attack-entry $d/evil.pem"
        echo "attack-fifo $d/fifo.pem"
    done
    echo "attack-entry xpaths/nc_dlms_data/http/data/htdocs/images/customscan/custom_scan_9_evil.png"
    echo "attack-fifo xpaths/nc_dlms_data/http/data/htdocs/images/customscan/custom_scan_9_fifo.png"
    echo "attack-entry xpaths/nc_var_etc/ssl/certstore/Evil"
    for d in system web s2home usb mailbox; do echo "attack-folder xpaths/temp/template/pool/$d"; done
    echo "attack-deep xpaths/temp/template/pool/usb/deep"
}

# ---- main --------------------------------------------------------------------------------------
if [ -n "$one" ]; then
    run_one "$one"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "faults: run as root (the file system faults mount tmpfs)" >&2; exit 1; }
for p in "$demo" "$clonefile"; do [ -x "$p" ] || { echo "faults: $p is not built" >&2; exit 1; }; done
rm -rf "$work"
mkdir -p "$work"
"$src/device/mkdevice.sh" --plugins "$build/plugins/cloning" --clonefile "$clonefile" "$template" > /dev/null
# The password check is not under test here; at the default cost it would take most of each run.
echo clone-demo | "$clonefile" set-password --root "$template" --iterations 1000 > /dev/null

# Sizes from one export on the plain device: its staging lists and export tree (the archive's
# members, a page each at least), and its output.
run_one "baseline -" > "$work/baseline.result" || true
grep -q '^HELD baseline - exit=0' "$work/baseline.result" || { cat "$work/baseline.result"; exit 1; }
w=$(mktemp -d "$work/size.XXXXXX")
root=$w/device out=$w/out
cp -a "$template" "$root"; mkdir -p "$out"
echo clone-demo | CLONE_DEVICE_ROOT=$root PATH=$root/bin:$PATH "$demo" "$out" "$groups" > /dev/null
"$clonefile" extract "$out/cloning.dlm" "$w/tree" > /dev/null
find "$w/tree" "$root/xpaths/tmp_cloningData" -type f -printf '%s\n' |
    awk '{ total += int(($1 + 4095) / 4096) * 4096 } END { print total }' > "$work/staging.bytes"
find "$w/tree" "$root/xpaths/tmp_cloningData" -mindepth 1 | wc -l > "$work/staging.entries"
du -sb "$out" | awk '{ print $1 }' > "$work/output.bytes"
# How often the export calls each system call that may fail in turn.
rm -rf "$root/xpaths/tmp_cloningData"/* "$out"/*
# Numbered per call from the process's start, as strace counts them; those of the program's
# start-up (the loader's, before the first device path is opened) are not the export's. Closes
# count where something was written (a command's process descriptor may take the number of a file
# closed before); log records all take one path, so every 20th is enough.
echo clone-demo | CLONE_DEVICE_ROOT=$root PATH=$root/bin:$PATH strace -o "$w/trace" \
    -e trace=write,fsync,close,rename,openat,pidfd_open "$demo" "$out" "$groups" > /dev/null
awk -v root="$root/" '
    /^[a-z0-9_]+\(/ { call = substr($0, 1, index($0, "(") - 1); n[call]++ }
    !/^[a-z0-9_]+\(/ { next }
    !started && call == "openat" && index($0, root) { started = 1 }
    call == "openat" || call == "pidfd_open" {
        split($0, r, "= "); fd = r[2] + 0; written[fd] = call == "openat" && $0 ~ /O_WRONLY|O_RDWR/
        logFd[fd] = $0 ~ /\/var\/log\/clone\.log"/ }
    call == "write" || call == "close" { fd = substr($0, length(call) + 2) + 0 }
    !started || call == "openat" || call == "pidfd_open" || (call == "close" && !written[fd]) { next }
    (call == "write" || call == "close") && logFd[fd] && logged[call]++ % 20 { next }
    { print call, n[call] }' "$w/trace" > "$work/syscalls"
rm -rf "$w"

# FAULT_ONLY (an extended regular expression) keeps the rows it matches, and the baseline.
fault_table | grep -E "^baseline|${FAULT_ONLY:-.}" > "$work/table"
# Runs in parallel, each on its own copy; a line per run.
FAULT_WORK=$work xargs -P "$(nproc)" -d '\n' -n 1 sh "$0" --one "$build" < "$work/table" > "$work/results" || true
runs=$(grep -c . "$work/table")
held=$(grep -c '^HELD' "$work/results" || true)
exits=$(sed -n 's/^HELD .* exit=\([0-9]*\)$/\1/p' "$work/results" | sort | uniq -c | awk '{ printf "%s exit %s, ", $1, $2 }')
echo "faults: $runs runs, $held held the invariant (${exits%, })"
grep -v '^HELD' "$work/results" >&2 || true
[ "$held" -eq "$runs" ]
