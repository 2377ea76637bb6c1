#!/usr/bin/env python3
"""Prints the table of bench/build_memory.sh from its log: one line per build step with
its peak resident memory (GNU time's %M, the largest process of the step) and wall time,
and the peak against the payload's size. Standard library only.

    build_memory.py --log FILE --mib MIB --exe EXE

Each log line is "KiB<TAB>seconds<TAB>command"; lines of make itself (whose figures are
those of the steps it ran) and steps that do not touch the payload are left out.
"""

import argparse
import os
import sys

# (what the step is, words its command holds); the first match names a line.
STEPS = [
    ("demo payload generator (gen_install_bin.py)", "gen_install_bin.py"),
    ("payload list check and manifest (gen_payload.py --manifest)", "gen_payload.py --list"),
    ("payload packer (carryall.py pack)", "carryall.py pack"),
    ("image check (check_pe.py)", "check_pe.py"),
    ("signer (carryall.py sign)", "carryall.py sign"),
    ("tagger (carryall.py tag)", "carryall.py tag"),
]


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--mib", type=int, required=True)
    parser.add_argument("--exe", required=True)
    args = parser.parse_args(argv)
    rows = []
    with open(args.log) as f:
        for line in f:
            kib, seconds, command = line.rstrip("\n").split("\t", 2)
            if os.path.basename(command.split(" ", 1)[0]) in ("make", "gmake"):
                continue
            for name, words in STEPS:
                if words in command:
                    rows.append((name, int(kib) / 1024, float(seconds)))
                    break
    print("payload %d MiB, bootstrapper %.1f MiB" % (args.mib, os.path.getsize(args.exe) / (1 << 20)))
    print("| step | peak resident memory | / payload | wall time |")
    print("|---|---|---|---|")
    order = [name for name, _ in STEPS]
    for name, mib, seconds in sorted(rows, key=lambda row: order.index(row[0])):
        print("| %s | %.0f MiB | %.2f | %.1f s |" % (name, mib, mib / args.mib, seconds))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
