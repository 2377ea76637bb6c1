"""Where the information block of a bootstrapper lies, shared by tag_exe.py and sign_exe.py
so that signing and tagging agree on what a tag is and what else a file carries.

The block is the marker "MRDC", the information, then 6 zero bytes, and it ends the file:
the bootstrapper scans the last 4116 bytes of its own file for the marker nearest the end.

In a signed file the block lies inside the certificate table, after the PKCS #7 signature
and the zero bytes that keep the table a multiple of 8 bytes long, inside the one
WIN_CERTIFICATE entry (none of which the Authenticode hash covers). In an unsigned file
it is appended after everything else: what follows the PE image that is not a block (an
NSIS installer's data, say) is the file's own and is kept.
"""

import struct

import pe_image
from pe_image import PeError

MARKER = b"MRDC"
PADDING = b"\0" * 6
MAX_INFO = 4106
SCAN_WINDOW = 4116


class DamagedTable(Exception):
    """A signed file whose certificate table holds what a rewrite would drop or cannot
    read; the message says what, for the tool to prefix with the file's name."""


def make_block(info):
    return MARKER + info + PADDING


def trailing_block(data, start, end):
    """Where a block as make_block writes it starts if one ends data[start:end], else None:
    the last marker before the 6 zero bytes, with at least one byte of information."""
    if end - start < len(MARKER) + 1 + len(PADDING) or data[end - len(PADDING):end] != PADDING:
        return None
    low = max(start, end - len(PADDING) - MAX_INFO - len(MARKER))
    at = bytes(data[low:end - len(PADDING)]).rfind(MARKER)
    if at < 0 or low + at + len(MARKER) >= end - len(PADDING):
        return None
    return low + at


class SignedTable:
    """The certificate table of a signed file, read as the tools rewrite it.

    blob_end    end of the PKCS #7 signature of the one WIN_CERTIFICATE entry
    block       the information block after the signature, or b""
    """

    def __init__(self, data, layout):
        table_end = layout.cert_offset + layout.cert_size
        if table_end != len(data):
            raise DamagedTable("%d bytes follow the certificate table" % (len(data) - table_end))
        try:
            self.blob_end = pe_image.signature_blob_end(data, layout)
        except PeError as e:
            raise DamagedTable("the certificate table cannot be read (%s)" % e)
        length = struct.unpack_from("<I", data, layout.cert_offset)[0]
        entry_end = layout.cert_offset + length + (-length % 8)
        if entry_end < table_end and any(data[entry_end:table_end]):
            raise DamagedTable("the certificate table holds a second entry after the signature's "
                               "(%d bytes)" % (table_end - entry_end))
        rest = bytes(data[self.blob_end:layout.cert_offset + length])
        block = rest.lstrip(b"\0")
        if block and trailing_block(block, 0, len(block)) != 0:
            raise DamagedTable("the certificate table holds %d bytes after the signature that are "
                               "not an information block" % len(block))
        self.block = block


def write_signed(out, source, data, layout, blob_end, block):
    """Writes data's PE file with its first signature followed by block (may be b"") as its
    one certificate table entry: zero bytes between signature and block keep the table a
    multiple of 8 bytes long and let the block end the file. The security directory, the
    entry's length and the PE checksum are set to match; the checksum is summed as the
    bytes go by and written last."""
    after = b"\0" * (-(blob_end - layout.cert_offset + len(block)) % 8) + block
    length = blob_end - layout.cert_offset + len(after)
    total = pe_image.Checksum()
    head = bytearray(data[:layout.security_entry_offset + 8])
    struct.pack_into("<I", head, layout.checksum_offset, 0)
    cert_offset = layout.cert_offset
    struct.pack_into("<II", head, layout.security_entry_offset, cert_offset, length)
    total.add(head, 0)
    out.write(head)
    pe_image.copy_range(source, out, len(head), cert_offset, total.add)
    table = bytearray(data[cert_offset:blob_end]) + after
    struct.pack_into("<I", table, 0, length)
    total.add(table, cert_offset)
    out.write(table)
    out.seek(layout.checksum_offset)
    out.write(struct.pack("<I", total.value(cert_offset + length)))
