#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

    check_layers.py [--root DIR]

The product's code stands in layers, each using only those below it:

    base/       formatting, the log, paths, text helpers, results, ids: nothing of ours
    platform/   the interfaces to the system and their two implementations
    cmdline/ payload/ checks/ signature/ launch/ ui/
                the subsystems: each uses base/ and platform/, none another
    app/        the application object: the only place that sees everything

A file's layer is its top folder; a file in a win32/ or sim/ folder of a subsystem
belongs to that subsystem. A test (*_test.cpp, *_test.h) keeps to its folder's layer too:
it builds the subsystem's own inputs from the simulated platform (platform/sim/), and
only app/'s tests run a whole start-up through the application object. Fuzz targets, the
benchmark, the samples and the end-to-end helpers stand above everything and may include
anything. Every
`#include "folder/..."` of a product file is checked against the table below; one line
per upward include is printed, and the exit status is 1 when there is any. Standard
library and system headers (<...>) are not ours and are not checked.
"""

import argparse
import os
import re
import sys

# resources/ holds the resource script's ids, plain numbers beside base/.
ALLOWED = {
    "base": {"base", "resources"},
    "resources": {"base", "resources"},
    "platform": {"base", "resources", "platform"},
    "cmdline": {"base", "resources", "platform", "cmdline"},
    "payload": {"base", "resources", "platform", "payload"},
    "checks": {"base", "resources", "platform", "checks"},
    "signature": {"base", "resources", "platform", "signature"},
    "launch": {"base", "resources", "platform", "launch"},
    "ui": {"base", "resources", "platform", "ui"},
    "app": {"base", "resources", "platform", "cmdline", "payload", "checks", "signature", "launch", "ui", "app"},
}
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp|inc)$")
TEST = re.compile(r"_test\.(cpp|cc|h)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
TOP = ("fuzz", "bench", "samples", "tests", "build", "docs", "tools", "scripts", "cmake")


def is_above_everything(relative):
    parts = relative.split("/")
    return parts[0] in TOP or parts[0].startswith(".")


def upward_includes(root):
    """(file, line number, included path, the file's layer) of every upward include."""
    found = []
    for folder, dirs, names in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in sorted(names):
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            layer = relative.split("/")[0]
            if "/" not in relative or not SOURCE.search(name) or is_above_everything(relative):
                continue
            if layer not in ALLOWED:
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for match in INCLUDE.finditer(text):
                included = match.group(1)
                if "/" not in included:
                    continue  # a header beside the file, or a generated one
                target = included.split("/")[0]
                if TEST.search(name) and included.startswith("platform/sim/"):
                    continue  # every layer's tests run on the simulated platform
                if target in ALLOWED and target not in ALLOWED[layer]:
                    line = text.count("\n", 0, match.start()) + 1
                    found.append((relative, line, included, layer))
    return found


def main(argv):
    parser = argparse.ArgumentParser(description="Fails on an include of a higher layer.")
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    args = parser.parse_args(argv)
    found = upward_includes(os.path.abspath(args.root))
    for relative, line, included, layer in found:
        print("check_layers: %s:%d: includes %s, above %s/" % (relative, line, included, layer), file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
