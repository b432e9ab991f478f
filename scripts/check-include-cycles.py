#!/usr/bin/env python3
"""Fails when the folders of the program include each other in a cycle.

Each folder may include only the folders below it; an include that runs back up closes a cycle between the two.
Tests, benchmarks and the fuzz target stand outside the layers and are not looked at.
"""
import pathlib
import re
import subprocess
import sys

OUTSIDE = {"tests", "bench", "fuzz"}
top = pathlib.Path(__file__).resolve().parent.parent
files = subprocess.run(["git", "ls-files", "*.h", "*.cpp"], cwd=top, capture_output=True, text=True,
                       check=True).stdout.split()
folders = {f.split("/")[0] for f in files if "/" in f} - OUTSIDE

# folder -> {included folder: a file that includes it}
edges = {}
for name in files:
    folder = name.split("/")[0]
    if folder not in folders:
        continue
    for included in re.findall(r'#\s*include\s+"([^"/]+)/', (top / name).read_text(errors="replace")):
        if included in folders and included != folder:
            edges.setdefault(folder, {}).setdefault(included, name)


def reach(start):
    seen, todo = set(), [start]
    while todo:
        for there in edges.get(todo.pop(), {}):
            if there not in seen:
                seen.add(there)
                todo.append(there)
    return seen


reachable = {folder: reach(folder) for folder in folders}
# Folders that reach each other form one cycle; each is reported once with the includes that close it.
groups = {frozenset({f} | {g for g in reachable[f] if f in reachable[g]}) for f in folders if f in reachable[f]}
for group in sorted(groups, key=sorted):
    print("folders that include each other: " + ", ".join(sorted(group)), file=sys.stderr)
    for folder in sorted(group):
        for included, example in sorted(edges.get(folder, {}).items()):
            if included in group:
                print(f"  {folder} -> {included} ({example})", file=sys.stderr)
if groups:
    sys.exit(1)
print(f"no include cycles among {len(folders)} folders")
