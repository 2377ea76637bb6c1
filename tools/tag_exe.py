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


def _plan(data, block):
    """How the tagged copy of data is made: (the layout of a signed PE file or None, how
    many of data's bytes are copied, the end of its PKCS #7 signature or 0, the bytes
    that follow the copied ones)."""
    try:
        layout = pe_image.parse(data)
    except pe_image.PeError:
        return None, len(data), 0, block
    if not layout.signed:
        return None, layout.image_end, 0, block
    try:
        if layout.cert_offset + layout.cert_size != len(data):
            raise pe_image.PeError("%d bytes follow the certificate table"
                                   % (len(data) - layout.cert_offset - layout.cert_size))
        blob_end = pe_image.signature_blob_end(data, layout)
    except pe_image.PeError as e:
        raise TagError("the signed file cannot be tagged: %s" % e)
    padding = b"\0" * (-(blob_end - layout.cert_offset + len(block)) % 8)
    return layout, layout.cert_offset, blob_end, padding + block


def _write_signed(out, source, data, layout, blob_end, after):
    """The signed copy: the image, its signature, then after, inside a certificate table
    grown to match; the checksum is summed as the bytes go by and written last."""
    length = blob_end - layout.cert_offset + len(after)
    total = pe_image.Checksum()
    head = bytearray(data[:layout.security_entry_offset + 8])
    struct.pack_into("<I", head, layout.checksum_offset, 0)
    pe_image.set_security_directory(head, layout, layout.cert_offset, length)
    total.add(head, 0)
    out.write(head)
    pe_image.copy_range(source, out, len(head), layout.cert_offset, total.add)
    table = bytearray(data[layout.cert_offset:blob_end]) + after
    struct.pack_into("<I", table, 0, length)
    total.add(table, layout.cert_offset)
    out.write(table)
    out.seek(layout.checksum_offset)
    out.write(struct.pack("<I", total.value(layout.cert_offset + length)))


def tag(in_path, out_path, info):
    if _same_file(in_path, out_path):
        raise TagError("OUT is the same file as IN: %s" % out_path)
    block = tail_block(info)
    try:
        with pe_image.mapped(in_path) as data, open(in_path, "rb") as source:
            layout, copied, blob_end, after = _plan(data, block)
            size = copied + len(after) + (blob_end - copied if layout else 0)
            if size <= SCAN_WINDOW:
                raise TagError("the result would have %d bytes; the bootstrapper scans only files of more than %d"
                               % (size, SCAN_WINDOW))
            with pe_image.whole_file(out_path, in_path) as out:
                if layout:
                    _write_signed(out, source, data, layout, blob_end, after)
                else:
                    pe_image.copy_range(source, out, 0, copied)
                    out.write(after)
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
