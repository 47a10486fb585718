#!/usr/bin/env python3
"""Reads the house: which module includes which, and where the platform
libraries are seen. Fails when a module includes one it does not use (its
CMakeLists.txt says which, in USES), when the uses form a cycle, or when a
platform library's header is included outside the files that wrap it.

The build already refuses an include of a module a library does not link;
this is the reading of it a person can check at a glance."""

import pathlib
import re
import sys

MODULES = ["base", "notes", "freebusy", "directory", "app", "tools"]
# Each platform library is seen by the one module that wraps it.
PLATFORM = {
    "SQLite": (re.compile(r"^sqlite3\.h$"), "notes/local/"),
    "libcurl": (re.compile(r"^curl/"), "freebusy/"),
    "libical": (re.compile(r"^libical/|^ical\.h$"), "freebusy/"),
    "ICU": (re.compile(r"^unicode/"), "freebusy/"),
}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)

root = pathlib.Path(__file__).resolve().parent.parent


def declared_uses(module):
    text = (root / module / "CMakeLists.txt").read_text()
    call = re.search(r"harvest_module\((.*?)\)", text, re.S).group(1)
    return [w for w in call.split() if w in MODULES and w != module]


def find_cycle(uses):
    state = {}

    def visit(module, path):
        if state.get(module) == "open":
            return path[path.index(module):] + [module]
        if state.get(module) == "done":
            return None
        state[module] = "open"
        for used in uses[module]:
            cycle = visit(used, path + [module])
            if cycle:
                return cycle
        state[module] = "done"
        return None

    for module in MODULES:
        cycle = visit(module, [])
        if cycle:
            return cycle
    return None


def closure(uses, module):
    seen, todo = set(), list(uses[module])
    while todo:
        used = todo.pop()
        if used not in seen:
            seen.add(used)
            todo.extend(uses[used])
    return seen


def main():
    uses = {m: declared_uses(m) for m in MODULES}
    faults = []
    cycle = find_cycle(uses)
    if cycle:
        faults.append("the modules' uses form a cycle: " + " -> ".join(cycle))

    edges = {m: {} for m in MODULES}
    seen_by = {name: set() for name in PLATFORM}
    for module in MODULES:
        allowed = closure(uses, module) | {module}
        for path in sorted((root / module).rglob("*")):
            if path.suffix not in (".h", ".cc"):
                continue
            relative = path.relative_to(root).as_posix()
            for quote, header in INCLUDE.findall(path.read_text(errors="replace")):
                target = header.split("/")[0]
                if quote == '"' and target in MODULES and target != module:
                    edges[module][target] = edges[module].get(target, 0) + 1
                    if target not in allowed:
                        faults.append(f"{relative} includes {header}, but {module} does not use {target}")
                for name, (pattern, home) in PLATFORM.items():
                    if quote == "<" and pattern.search(header):
                        seen_by[name].add(relative)
                        if not relative.startswith(home):
                            faults.append(f"{relative} includes <{header}>; only {home} sees {name}")

    for module in MODULES:
        listed = ", ".join(f"{t} ({n})" for t, n in sorted(edges[module].items())) or "nothing"
        print(f"{module:<10} uses {', '.join(uses[module]) or 'nothing':<34} includes {listed}")
    for name, files in seen_by.items():
        print(f"{name:<10} seen in {len(files)} file(s) under {PLATFORM[name][1]}")
    for fault in faults:
        print("FAULT:", fault, file=sys.stderr)
    print("layers: " + ("clean" if not faults else f"{len(faults)} fault(s)"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
