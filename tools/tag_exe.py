#!/usr/bin/env python3
"""Writes a copy of a bootstrapper with an information block at its end.

    tag_exe.py IN OUT (--info TEXT | --info-file FILE)

The block is the marker "MRDC", the information, then 6 zero bytes, and it ends the copy.
The bootstrapper scans the last 4116 bytes of its own file for the marker (the very last
6 bytes never belong to the information) and writes what follows it to "info.xml" in its
private folder, for the wizard.

A signed IN keeps its signature: the block goes inside the certificate table, after the
PKCS #7 signature and zero bytes that keep the table a multiple of 8 bytes long; the
security directory's size, the WIN_CERTIFICATE length and the PE checksum grow to match.
None of these is covered by the Authenticode hash, so the copy still verifies. An
unsigned IN gets the block appended and is otherwise unchanged.

Tagging a tagged file replaces its block. In a signed file the old block is whatever
follows the PKCS #7 signature inside the certificate table; in an unsigned one, whatever
follows the PE image (its headers, sections and symbol table). A file that is not a PE
image is appended to as it is.

--info TEXT is written in Windows code page 1252, the ANSI code page in which the
bootstrapper logs it; --info-file FILE is copied byte for byte.

Refused, because the bootstrapper would not find the information or would find
something else: an empty block, a block longer than 4106 bytes, a block that itself
holds "MRDC" (the scan takes the marker nearest the end of the file), and a result of
4116 bytes or less. Also refused: a signed file with data after its certificate table.
OUT must not be IN.

Errors end the program with exit status 1.
"""

import argparse
import os
import struct
import sys

import pe_image

MARKER = b"MRDC"
PADDING = b"\0" * 6
MAX_INFO = 4106
SCAN_WINDOW = 4116
CODE_PAGE = "cp1252"


class TagError(Exception):
    pass


def tail_block(info):
    """The bytes appended after the bootstrapper for the information block info."""
    if not info:
        raise TagError("the information is empty; the bootstrapper ignores an empty block")
    if len(info) > MAX_INFO:
        raise TagError("the information has %d bytes; the bootstrapper finds at most %d"
                       % (len(info), MAX_INFO))
    if MARKER in info:
        raise TagError("the information holds %r; the bootstrapper would take that as the marker"
                       % MARKER.decode("ascii"))
    return MARKER + info + PADDING


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def tagged(data, block):
    """The bytes of the tagged copy of data."""
    try:
        layout = pe_image.parse(data)
    except pe_image.PeError:
        return data + block
    if not layout.signed:
        return data[:layout.image_end] + block
    try:
        if layout.cert_offset + layout.cert_size != len(data):
            raise pe_image.PeError("%d bytes follow the certificate table"
                                   % (len(data) - layout.cert_offset - layout.cert_size))
        blob_end = pe_image.signature_blob_end(data, layout)
    except pe_image.PeError as e:
        raise TagError("the signed file cannot be tagged: %s" % e)
    padding = b"\0" * (-(blob_end - layout.cert_offset + len(block)) % 8)
    out = bytearray(data[:blob_end] + padding + block)
    length = len(out) - layout.cert_offset
    struct.pack_into("<I", out, layout.cert_offset, length)
    pe_image.set_security_directory(out, layout, layout.cert_offset, length)
    pe_image.update_checksum(out, layout)
    return bytes(out)


def tag(in_path, out_path, info):
    if _same_file(in_path, out_path):
        raise TagError("OUT is the same file as IN: %s" % out_path)
    block = tail_block(info)
    try:
        with open(in_path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise TagError("%s: cannot read: %s" % (in_path, e.strerror))
    data = tagged(data, block)
    if len(data) <= SCAN_WINDOW:
        raise TagError("the result would have %d bytes; the bootstrapper scans only files of more than %d"
                       % (len(data), SCAN_WINDOW))
    try:
        pe_image.write_whole(out_path, data, in_path)
    except pe_image.PeError as e:
        raise TagError(str(e))


def main(argv):
    parser = argparse.ArgumentParser(description="Append an information block to a bootstrapper.")
    parser.add_argument("input", metavar="IN", help="the bootstrapper")
    parser.add_argument("output", metavar="OUT", help="the copy to write")
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--info", metavar="TEXT", help="the information, as text (code page 1252)")
    source.add_argument("--info-file", metavar="FILE", help="the information, as the bytes of FILE")
    args = parser.parse_args(argv)

    try:
        if args.info is not None:
            try:
                info = args.info.encode(CODE_PAGE)
            except UnicodeEncodeError as e:
                raise TagError("--info holds %r, which code page 1252 cannot encode"
                               % args.info[e.start:e.end])
        else:
            try:
                with open(args.info_file, "rb") as f:
                    info = f.read()
            except OSError as e:
                raise TagError("%s: cannot read: %s" % (args.info_file, e.strerror))
        tag(args.input, args.output, info)
    except TagError as e:
        print("tag_exe.py: error: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
