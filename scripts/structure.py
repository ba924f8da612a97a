#!/usr/bin/env python3
"""Draws the floors of cloneCreator/src and fails when the house has a flaw: an include that
reaches up a floor, files that include each other in a circle, or object files that call each
other in a circle.
  scripts/structure.py [BUILD_DIR]     (with BUILD_DIR: the call circles too, from its objects)
A new source file must be given a floor below; the check fails until it has one."""
import os
import re
import subprocess
import sys

SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cloneCreator", "src")

# Floor by file stem (both .h and .cpp), top to bottom. A file may include headers of its own
# floor and of those below it.
FLOORS = [
    ("entry", ["createCloneDLM"]),
    ("pipeline steps", ["CloneCreator.cpp", "CloneGroupsProcessor", "StubManifest", "ManifestPruning",
                        "Packaging", "ExportSummary", "ElementTables", "ManifestSchema"]),
    ("captures", ["CloneCreator.h", "capture/*", "CloningExportPortal"]),
    ("staging and boundary", ["Staging", "CaptureBoundary", "Descriptors", "InputFile", "XmlNodes",
                              "ConfigValue"]),
    ("commands and device paths", ["Command", "HostGuard", "DevicePath", "StagingPaths", "Handles", "CloneLog",
                                   "LogNotes"]),
]


def floor_of(path):
    stem = os.path.splitext(path)[0]
    for level, (_, names) in enumerate(FLOORS):
        for name in names:
            if name == path or name == stem or (name.endswith("/*") and path.startswith(name[:-1])):
                return level
    return None


def sources():
    for folder, _, files in os.walk(SRC):
        for name in sorted(files):
            if name.endswith((".h", ".cpp")):
                yield os.path.relpath(os.path.join(folder, name), SRC)


def local_includes(path, known):
    found = []
    with open(os.path.join(SRC, path), encoding="utf-8") as text:
        for line in text:
            m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            if not m:
                continue
            for candidate in (os.path.normpath(os.path.join(os.path.dirname(path), m.group(1))), m.group(1)):
                if candidate in known:
                    found.append(candidate)
                    break
    return found


def circles(graph):
    """Strongly connected components of more than one node (Tarjan)."""
    index, low, stack, on, out = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in graph.get(v, ()):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            part = []
            while True:
                w = stack.pop()
                on.discard(w)
                part.append(w)
                if w == v:
                    break
            if len(part) > 1:
                out.append(sorted(part))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def call_graph(build):
    objects = {}
    top = os.path.join(build, "cloneCreator", "CMakeFiles", "clonecreator_core.dir", "src")
    for folder, _, files in os.walk(top):
        for name in files:
            if name.endswith(".cpp.o"):
                objects[os.path.relpath(os.path.join(folder, name), top)[:-2]] = os.path.join(folder, name)
    defined, wanted = {}, {}
    for source, obj in objects.items():
        listing = subprocess.run(["nm", "--defined-only", "-g", obj], capture_output=True, text=True, check=True).stdout
        for line in listing.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[1] in "TWVBDR":
                defined.setdefault(parts[2], source)
        listing = subprocess.run(["nm", "-u", obj], capture_output=True, text=True, check=True).stdout
        # A class's vtable and type data live with its first virtual function; referring to them
        # is no call.
        wanted[source] = {line.split()[-1] for line in listing.splitlines()
                          if line.strip() and not line.split()[-1].startswith(("_ZTV", "_ZTI", "_ZTS"))}
    return {s: sorted({defined[x] for x in syms if x in defined and defined[x] != s}) for s, syms in wanted.items()}


def main():
    files = sorted(sources())
    known = set(files)
    flaws = []
    graph = {}
    for path in files:
        level = floor_of(path)
        if level is None:
            flaws.append(f"{path} has no floor: give it one in scripts/structure.py")
            continue
        graph[path] = local_includes(path, known)
        for included in graph[path]:
            there = floor_of(included)
            if there is not None and there < level:
                flaws.append(f"{path} ({FLOORS[level][0]}) includes {included} ({FLOORS[there][0]}): up a floor")
    for part in circles(graph):
        flaws.append("includes in a circle: " + " -> ".join(part))
    if len(sys.argv) > 1:
        for part in circles(call_graph(sys.argv[1])):
            flaws.append("calls in a circle: " + " <-> ".join(part))

    for level, (name, _) in enumerate(FLOORS):
        members = [p for p in files if floor_of(p) == level]
        print(f"{level + 1}. {name}: " + ", ".join(members))
    for flaw in flaws:
        print("structure: " + flaw, file=sys.stderr)
    return 1 if flaws else 0


if __name__ == "__main__":
    sys.exit(main())
