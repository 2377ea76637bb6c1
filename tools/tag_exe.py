#!/usr/bin/env python3
"""Writes a copy of a signed bootstrapper with an information block at its end.

    tag_exe.py IN OUT (--info TEXT | --info-file FILE) [--allow-unsigned]

The block is the marker "MRDC", the information, then 6 zero bytes, and it ends the copy.
The bootstrapper scans the last 4116 bytes of its own file for the marker (the very last
6 bytes never belong to the information) and writes what follows it to "info.xml" in its
private folder, for the wizard.

Sign first, tag last. The block goes inside the certificate table, after the PKCS #7
signature and zero bytes that keep the table a multiple of 8 bytes long; the security
directory's size, the WIN_CERTIFICATE length and the PE checksum grow to match. None of
these is covered by the Authenticode hash, so the copy still verifies. A signature made
after the tag would put the block inside the signed image, where the scan never looks,
so an unsigned IN is refused unless --allow-unsigned is given; it then gets the block
appended after everything it holds (an installer's data after its image is kept).

Tagging a tagged file replaces its block: in a signed file, whatever follows the
signature inside its certificate table; in an unsigned one, a block that ends the file.

--info TEXT is written in Windows code page 1252, the ANSI code page in which the
bootstrapper logs it; --info-file FILE is copied byte for byte.

Refused, because the bootstrapper would not find the information or would find
something else: an empty block, a block longer than 4106 bytes, a block that itself
holds "MRDC" (the scan takes the marker nearest the end of the file), and a result of
4116 bytes or less. Refused as the signer refuses them, rather than have bytes dropped or
a copy written that no longer verifies: a file whose PE image or certificate table is
cut short or damaged, data after the certificate table, a second certificate entry, and
other bytes after the signature. OUT must not be IN.

Errors end the program with exit status 1, usage errors with 2.
"""

import argparse
import os
import sys

import info_block
import pe_image

MARKER = info_block.MARKER
PADDING = info_block.PADDING
MAX_INFO = info_block.MAX_INFO
SCAN_WINDOW = info_block.SCAN_WINDOW
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
    return info_block.make_block(info)


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def _plan(data, allow_unsigned):
    """How the tagged copy of data is made: (the layout of a signed PE file or None, how
    many of data's bytes are copied, the end of its PKCS #7 signature or 0)."""
    try:
        pe_image.pe_header_offset(data)
    except pe_image.PeError:
        if not allow_unsigned:
            raise TagError("it is not a signed PE file; sign first, tag last (or give --allow-unsigned)")
        return None, len(data), 0
    try:
        layout = pe_image.parse(data)
    except pe_image.PeError as e:
        raise TagError("the file is damaged or cut short (%s)" % e)
    if not layout.signed:
        if not allow_unsigned:
            raise TagError("it is not signed, and a signature made after the tag would hide it; "
                           "sign first, tag last (or give --allow-unsigned)")
        start = info_block.trailing_block(data, layout.image_end, len(data))
        return None, len(data) if start is None else start, 0
    try:
        table = info_block.SignedTable(data, layout)
    except info_block.DamagedTable as e:
        raise TagError("the signed file cannot be tagged: %s" % e)
    return layout, layout.cert_offset, table.blob_end


def tag(in_path, out_path, info, allow_unsigned=False):
    if _same_file(in_path, out_path):
        raise TagError("OUT is the same file as IN: %s" % out_path)
    block = tail_block(info)
    try:
        with pe_image.mapped(in_path) as data, open(in_path, "rb") as source:
            try:
                layout, copied, blob_end = _plan(data, allow_unsigned)
            except TagError as e:
                raise TagError("%s: %s" % (in_path, e))
            if layout:
                size = blob_end + len(block)
                size += -(size - layout.cert_offset) % 8
            else:
                size = copied + len(block)
            if size <= SCAN_WINDOW:
                raise TagError("the result would have %d bytes; the bootstrapper scans only files of more than %d"
                               % (size, SCAN_WINDOW))
            with pe_image.whole_file(out_path, in_path) as out:
                if layout:
                    info_block.write_signed(out, source, data, layout, blob_end, block)
                else:
                    pe_image.copy_range(source, out, 0, copied)
                    out.write(block)
    except pe_image.PeError as e:
        raise TagError(str(e))


def main(argv, prog='tag_exe.py'):
    parser = argparse.ArgumentParser(
        prog=prog, description="Append an information block to a bootstrapper.")
    parser.add_argument("input", metavar="IN", help="the bootstrapper")
    parser.add_argument("output", metavar="OUT", help="the copy to write")
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--info", metavar="TEXT", help="the information, as text (code page 1252)")
    source.add_argument("--info-file", metavar="FILE", help="the information, as the bytes of FILE")
    parser.add_argument("--allow-unsigned", action="store_true",
                        help="tag a file that is not signed (a signature made later hides the tag)")
    args = parser.parse_args(argv)

    try:
        if args.info is not None:
            try:
                info = args.info.encode(CODE_PAGE)
            except UnicodeEncodeError as e:
                bad = args.info[e.start:e.end]
                if 0xDC80 <= ord(bad[0]) <= 0xDCFF:
                    raise TagError("--info holds a byte that is not UTF-8 (0x%02X)" % (ord(bad[0]) - 0xDC00))
                raise TagError("--info holds %r, which code page 1252 cannot encode" % bad)
        else:
            try:
                with open(args.info_file, "rb") as f:
                    info = f.read()
            except OSError as e:
                raise TagError("%s: cannot read: %s" % (args.info_file, e.strerror))
        tag(args.input, args.output, info, args.allow_unsigned)
    except TagError as e:
        print(prog + ": error: %s" % e, file=sys.stderr)
        return 1
    except OSError as e:
        print(prog + ": error: %s: %s" % (e.filename or args.output, e.strerror), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
