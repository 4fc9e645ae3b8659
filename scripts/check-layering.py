#!/usr/bin/env python3
"""Checks that no module includes the headers of a module above it.

The layers, lowest first (a module may include its own headers and those of
lower layers, never those of a higher one or of a peer in its own layer):
  platform < galreader, servicecontrol < service/parameters < service/core
  < service/export < service/contacts < service/host < tools, wizard
Tests (*_test.cpp and the tests/ and bench/ folders) may include anything.
Prints each offending include and exits 1 when there is one.
"""
import pathlib
import re
import sys

LAYERS = [
    ["platform"],
    ["galreader", "servicecontrol"],
    ["service/parameters"],
    ["service/core"],
    ["service/export"],
    ["service/contacts"],
    ["service/host"],
    ["tools", "wizard"],
]
MODULES = {m: level for level, group in enumerate(LAYERS) for m in group}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def module_of(path):
    """The module a repository path belongs to, or None (tests, bench, ...)."""
    for m in sorted(MODULES, key=len, reverse=True):
        if path == m or path.startswith(m + "/"):
            return m
    return None


def main(root):
    bad = []
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".h", ".cpp") or "build" in source.relative_to(root).parts[:1]:
            continue
        rel = source.relative_to(root).as_posix()
        own = module_of(rel)
        if own is None or source.name.endswith("_test.cpp"):
            continue
        for header in INCLUDE.findall(source.read_text(errors="replace")):
            other = module_of(header)
            if header.startswith(("tests/", "bench/")) or (
                other is not None and other != own and MODULES[other] >= MODULES[own]
            ):
                bad.append(f"{rel}: includes {header} ({other or 'a test'} is not below {own})")
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()))
