#!/usr/bin/env python3
"""Checks a freshly linked bootstrapper's image before it is signed.

    check_pe.py EXE [--file-alignment BYTES]

The checks (each prints one line naming the file on failure):

  file alignment  the optional header's FileAlignment equals BYTES (default 4096) and
                  its SectionAlignment, and every section's raw data starts on a multiple
                  of it. Only then can the loader map the file as the image: with a
                  smaller alignment Windows and Wine read the whole image, payload
                  resources included, into private memory at start-up, which costs a
                  read and the payload's size in memory before the first byte is unpacked.

The checks read the file only; a signature, if there is one, is not looked at (signing
leaves these fields as they are). Exit status 0 when every check passes, 1 otherwise.
"""

import argparse
import mmap
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from pe_image import PeError  # noqa: E402


def _u16(data, pos):
    return struct.unpack_from("<H", data, pos)[0]


def _u32(data, pos):
    return struct.unpack_from("<I", data, pos)[0]


class Image:
    """The header fields the checks read. Raises PeError when data is not a PE file."""

    def __init__(self, data):
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("not a PE file (no MZ header)")
        pe = _u32(data, 0x3C)
        if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
            raise PeError("not a PE file (no PE signature)")
        count = _u16(data, pe + 6)
        optional = pe + 24
        optional_size = _u16(data, pe + 20)
        table = optional + optional_size
        if optional_size < 40 or table + 40 * count > len(data):
            raise PeError("the headers run past the end of the file")
        self.section_alignment = _u32(data, optional + 32)
        self.file_alignment = _u32(data, optional + 36)
        # (name, PointerToRawData, SizeOfRawData) of each section.
        self.sections = []
        for index in range(count):
            header = table + 40 * index
            name = data[header:header + 8].rstrip(b"\0").decode("latin-1")
            raw_size, raw_at = struct.unpack_from("<II", data, header + 16)
            self.sections.append((name, raw_at, raw_size))


def check_file_alignment(image, expected):
    """The problems that keep the loader from mapping the image, as text lines."""
    problems = []
    if image.file_alignment != expected:
        problems.append("file alignment is %d bytes, not %d" % (image.file_alignment, expected))
    if image.section_alignment != image.file_alignment:
        problems.append("file alignment %d differs from section alignment %d"
                        % (image.file_alignment, image.section_alignment))
    for name, raw_at, raw_size in image.sections:
        if raw_size and raw_at % expected:
            problems.append("section %s starts at file offset 0x%x, not a multiple of %d"
                            % (name, raw_at, expected))
    return problems


def main(argv):
    parser = argparse.ArgumentParser(description="Checks a linked bootstrapper's image.")
    parser.add_argument("exe")
    parser.add_argument("--file-alignment", type=int, default=4096)
    args = parser.parse_args(argv)
    try:
        # Mapped, not read: a bootstrapper carries its payload, up to gigabytes.
        with open(args.exe, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
            image = Image(data)
    except (OSError, ValueError, PeError) as error:
        print("check_pe: %s: %s" % (args.exe, error), file=sys.stderr)
        return 1
    problems = check_file_alignment(image, args.file_alignment)
    for problem in problems:
        print("check_pe: %s: %s" % (args.exe, problem), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
