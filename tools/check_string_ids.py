#!/usr/bin/env python3
"""Fails when base/string_ids.h and resources/strings.txt disagree.

    check_string_ids.py [--root DIR]

The string table's ids are a public contract kept in two places: the table itself
(resources/strings.txt, the texts the build ships) and the constants the code loads them
by (base/string_ids.h, `constexpr uint32_t kIds<Name> = <id>;`). Every constant must name
an id of the table, and every id of the table must have a constant, except the ids of
the .NET settings after kIdsDotNet20 (138 to 144, read in a loop from it). One line per
disagreement is printed, and the exit status is 1 when there is any.
"""

import argparse
import re
import sys
from pathlib import Path

CONSTANT = re.compile(r"constexpr\s+uint32_t\s+(kIds\w+)\s*=\s*(\d+)\s*;")
DOTNET_SETTINGS = 7  # kIdsDotNet20 and the six versions after it


def table_ids(path: Path) -> set:
    ids = set()
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.strip() and not line.startswith("#"):
            ids.add(int(line.split("\t", 1)[0]))
    return ids


def disagreements(root: Path) -> list:
    constants = {name: int(value) for name, value in
                 CONSTANT.findall((root / "base" / "string_ids.h").read_text(encoding="utf-8"))}
    table = table_ids(root / "resources" / "strings.txt")
    found = ["base/string_ids.h: %s = %d is not an id of resources/strings.txt" % (name, value)
             for name, value in sorted(constants.items(), key=lambda item: item[1]) if value not in table]
    named = set(constants.values())
    first = constants.get("kIdsDotNet20")
    if first is not None:
        named |= set(range(first, first + DOTNET_SETTINGS))
    found += ["resources/strings.txt: id %d has no constant in base/string_ids.h" % i for i in sorted(table - named)]
    return found


def main(argv) -> int:
    parser = argparse.ArgumentParser(description="Checks the string ids of the code against the string table.")
    parser.add_argument("--root", type=Path, default=Path(__file__).resolve().parent.parent)
    args = parser.parse_args(argv)
    try:
        found = disagreements(args.root)
    except (OSError, ValueError) as e:
        print("check_string_ids: %s" % e, file=sys.stderr)
        return 1
    for line in found:
        print("check_string_ids: %s" % line, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
