#!/bin/sh
# Applies the faults of tests/mutants/mutants.txt to the source, one at a time, rebuilds, and
# reports for each whether the tests catch it, else whether the fault suite does, else that it
# survived (or that it does not build). The source is restored after each, also when interrupted.
# Runs on demand, not in CI: each fault costs a rebuild and a test run (the fault suite only for
# those the tests let through).
#   scripts/mutants.sh [BUILD_DIR [NAME...]]   (default build-mutants; NAMEs: only those faults)
# The report goes to BUILD_DIR/mutants-report.txt as well.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-mutants}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
[ $# -gt 0 ] && shift
"$src/scripts/install-deps.sh"
[ -z "$(git -C "$src" status --porcelain --untracked-files=no)" ] ||
    { echo "mutants: the work tree has changes; commit or stash them first" >&2; exit 2; }
# A fault may leave a variable unused; that must not stop the build it is tried in.
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-Wno-error=unused-variable -Wno-error=unused-but-set-variable -Wno-error=unused-function" \
    >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
python3 - "$src" "$build" "$@" <<'EOF'
import os, signal, subprocess, sys
src, build, only = sys.argv[1], sys.argv[2], set(sys.argv[3:])
jobs = str(os.cpu_count() or 1)

def parse(path):
    mutants, current = [], None
    for line in open(path, encoding="utf-8").read().split("\n"):
        if line.startswith("== "):
            name, _, what = line[3:].partition(": ")
            current = {"name": name, "what": what, "file": None, "old": [], "new": []}
            mutants.append(current)
        elif current is None or line.startswith("#") or line == "":
            continue
        elif line.startswith("file: "):
            current["file"] = line[6:]
        elif line.startswith("-"):
            current["old"].append(line[1:])
        elif line.startswith("+"):
            current["new"].append(line[1:])
    return mutants

def quiet(command, **kw):
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw).returncode == 0

mutants = parse(os.path.join(src, "tests/mutants/mutants.txt"))
unknown = only - {m["name"] for m in mutants}
if unknown:
    sys.exit("mutants: no such fault: " + " ".join(sorted(unknown)))
results = []
for m in mutants:
    if only and m["name"] not in only:
        continue
    path = os.path.join(src, m["file"])
    original = open(path, encoding="utf-8").read()
    old, new = "\n".join(m["old"]) + "\n", "\n".join(m["new"]) + ("\n" if m["new"] else "")
    if original.count(old) != 1:
        results.append((m, "not applied: its lines occur %d times" % original.count(old)))
        print("%-28s %s" % (m["name"], results[-1][1]), flush=True)
        continue
    restore = lambda *_: open(path, "w", encoding="utf-8").write(original)
    for sig in (signal.SIGINT, signal.SIGTERM):
        signal.signal(sig, lambda *_: (restore(), sys.exit(130)))
    try:
        open(path, "w", encoding="utf-8").write(original.replace(old, new))
        if not quiet(["cmake", "--build", build, "-j", jobs]):
            verdict = "does not build"
        elif not quiet(["ctest", "--test-dir", build, "-j", jobs, "--stop-on-failure"]):
            verdict = "caught by the tests"
        elif not quiet(["sh", os.path.join(src, "tests/faults/faults.sh"), build]):
            verdict = "caught by the fault suite"
        else:
            verdict = "SURVIVED"
    finally:
        restore()
    results.append((m, verdict))
    print("%-28s %s" % (m["name"], verdict), flush=True)
# Back to the source as it stands, so the build folder can be used again.
quiet(["cmake", "--build", build, "-j", jobs])
with open(os.path.join(build, "mutants-report.txt"), "w") as report:
    for m, verdict in results:
        report.write("%s\t%s\t%s\t%s\n" % (m["name"], verdict, m["file"], m["what"]))
count = lambda v: sum(1 for _, verdict in results if verdict == v)
print("mutants: %d tried, %d caught by the tests, %d more by the fault suite, %d survived, %d did not build"
      % (len(results), count("caught by the tests"), count("caught by the fault suite"), count("SURVIVED"),
         count("does not build")))
sys.exit(1 if count("SURVIVED") or count("does not build") or any(v.startswith("not applied") for _, v in results) else 0)
EOF
