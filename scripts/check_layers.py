#!/usr/bin/env python3
"""Checks that the core's folders include only folders of their own layer or
below, that the toolkit includes no core header, and that the core includes
no Python header. Prints every offending include and exits 1 when there is one."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
RANK = {"foundation": 0, "core": 1, "algorithms": 2, "analysis": 2, "io": 3, "manager": 4}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]', re.M)

bad = []
for path in sorted((ROOT / "src").rglob("*.[ch]pp")):
    layer = path.relative_to(ROOT / "src").parts[0]
    for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
        head = target.split("/")[0]
        if head in RANK and RANK[head] > RANK[layer]:
            bad.append(f"{path.relative_to(ROOT)}: {layer} includes {target}")
        if target in ("Python.h", "frame/python.hpp"):
            bad.append(f"{path.relative_to(ROOT)}: core includes {target}")
for path in sorted((ROOT / "toolkit").rglob("*.[ch]pp")):
    for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
        if target.split("/")[0] in RANK:
            bad.append(f"{path.relative_to(ROOT)}: toolkit includes {target}")
print("\n".join(bad) if bad else "layers: every include points to its own layer or below")
sys.exit(1 if bad else 0)
