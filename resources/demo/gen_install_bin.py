#!/usr/bin/env python3
"""Writes install.bin of the demo payload: the stand-in for a product's installation data.

    gen_install_bin.py --mib N --out FILE

The file holds N MiB of bytes that look random and do not compress, like a real
compressed payload, yet are the same on every machine and every run: MiB number k is
the first MiB of the SHAKE-256 output for the text "Carryall demo install.bin, MiB k".
"""

import argparse
import hashlib
import os
import sys

MIB = 1 << 20
LIMIT_MIB = 1024


def mib_block(index):
    return hashlib.shake_256(b"Carryall demo install.bin, MiB %d" % index).digest(MIB)


def main(argv):
    parser = argparse.ArgumentParser(description="Write the demo payload's install.bin.")
    parser.add_argument("--mib", type=int, required=True, help="size in MiB (1 to %d)" % LIMIT_MIB)
    parser.add_argument("--out", required=True, help="file to write")
    args = parser.parse_args(argv)
    if not 1 <= args.mib <= LIMIT_MIB:
        parser.error("--mib must be 1 to %d, not %d" % (LIMIT_MIB, args.mib))

    tmp = args.out + ".tmp"
    with open(tmp, "wb") as f:
        for index in range(args.mib):
            f.write(mib_block(index))
    os.replace(tmp, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
