"""The parts of a PE file's layout that packing, signing and tagging a bootstrapper touch,
the minimal DER reading they need, and the streaming that keeps their memory flat.

The headers are read with Debian's pefile: where the checksum field and the security
directory entry lie, the certificate table's offset and size (the security directory is
the one entry that holds a file offset), and where the image's own bytes end. What pefile
does not do stays here: the Authenticode digest, the checksum of a changed file (pefile's
own walks the file a word at a time in Python: 6.4 s for the 64 MiB demo here), and
writing the security directory and the certificate table.

A bootstrapper carries its payload, up to the limit that gen_payload.py enforces (over a
gigabyte), so no tool holds a whole file: pefile reads the headers from a read-only map of
the file (only the pages it touches become resident), and the bytes themselves pass
through in chunks of CHUNK bytes (copy_range), hashed and summed on the way.
"""

import contextlib
import mmap
import os
import shutil
import struct
import tempfile

import pefile  # Debian's python3-pefile

SECURITY_DIRECTORY = 4
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
WIN_CERTIFICATE_HEADER = 8
# The bytes that pass through the tools at a time: large enough that the per-chunk cost
# of Python vanishes, small beside any payload.
CHUNK = 1 << 20


class PeError(Exception):
    pass


def der(tag, content):
    """One DER element: tag, definite length, content."""
    length = len(content)
    if length < 0x80:
        head = bytes([length])
    else:
        size = length.to_bytes((length.bit_length() + 7) // 8, "big")
        head = bytes([0x80 | len(size)]) + size
    return bytes([tag]) + head + content


class PeLayout:
    """Offsets in one PE file.

    checksum_offset       file offset of the optional header's CheckSum field
    security_entry_offset file offset of the security data-directory entry (8 bytes)
    cert_offset, cert_size the certificate table as that entry gives it (0, 0: unsigned)
    image_end             end of the headers, the sections' raw data and the COFF symbol
                          and string tables, whichever lies furthest into the file
    """

    def __init__(self, checksum_offset, security_entry_offset, cert_offset, cert_size, image_end):
        self.checksum_offset = checksum_offset
        self.security_entry_offset = security_entry_offset
        self.cert_offset = cert_offset
        self.cert_size = cert_size
        self.image_end = image_end

    @property
    def signed(self):
        return self.cert_size != 0


def _u16(data, pos):
    return struct.unpack_from("<H", data, pos)[0]


def _u32(data, pos):
    return struct.unpack_from("<I", data, pos)[0]


def pe_header_offset(data):
    """Where the PE signature ("PE" and two zero bytes) of the file whose bytes are data
    starts, checked to be followed by a whole file header; PeError when data is not a PE
    file."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise PeError("not a PE file (no MZ header)")
    pe = _u32(data, 0x3C)
    if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise PeError("not a PE file (no PE signature)")
    return pe


def parse(data):
    """The layout of the PE file whose bytes are data, read with Debian's pefile; PeError
    when it is not one, or when its security directory points outside the file."""
    pe_header_offset(data)  # what is no PE file at all is refused in our own words
    try:
        pe = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError as error:
        raise PeError(str(error)) from error
    optional = pe.OPTIONAL_HEADER
    if optional.Magic not in (0x10B, 0x20B):
        raise PeError("unknown optional header magic 0x%x" % optional.Magic)
    if len(optional.DATA_DIRECTORY) <= SECURITY_DIRECTORY:
        raise PeError("the optional header has no security directory")
    security = optional.DATA_DIRECTORY[SECURITY_DIRECTORY]
    # The security directory alone holds a file offset, not an address.
    cert_offset, cert_size = security.VirtualAddress, security.Size
    if cert_size and (cert_offset < WIN_CERTIFICATE_HEADER or cert_offset + cert_size > len(data)):
        raise PeError("the security directory (offset %d, size %d) points outside the file of %d bytes"
                      % (cert_offset, cert_size, len(data)))
    image_end = optional.SizeOfHeaders
    for section in pe.sections:
        if section.SizeOfRawData:
            image_end = max(image_end, section.PointerToRawData + section.SizeOfRawData)
    header = pe.FILE_HEADER
    if header.PointerToSymbolTable:
        strings_at = header.PointerToSymbolTable + 18 * header.NumberOfSymbols
        strings_size = _u32(data, strings_at) if strings_at + 4 <= len(data) else 4
        image_end = max(image_end, strings_at + max(strings_size, 4))
    if image_end > len(data):
        raise PeError("the sections run past the end of the file (%d of %d bytes)" % (image_end, len(data)))
    return PeLayout(optional.get_field_absolute_offset("CheckSum"), security.get_file_offset(),
                    cert_offset if cert_size else 0, cert_size, image_end)


class Checksum:
    """The PE checksum of a file, from its bytes handed over in pieces with their offsets,
    in any order; the checksum field must be handed over as zero bytes (or not at all).

    The checksum is the sum of the file's 16-bit little-endian words with every carry
    folded back in (a ones' complement sum, so 0xFFFF stands for a positive multiple of
    it), plus the file's length. Since 0x10000 is 1 modulo 0xFFFF, a piece read as one
    little-endian number is congruent to the sum of its words, shifted by 8 bits when it
    starts at an odd offset. So the pieces' numbers are simply
    added up (big-integer addition runs at memory speed) and reduced once, at the end:
    converting the bytes into a number is the only cost per byte."""

    def __init__(self):
        self._total = 0

    def add(self, data, offset):
        value = int.from_bytes(data, "little")
        self._total += value << 8 if offset & 1 else value

    def value(self, length):
        folded = self._total % 0xFFFF
        # A sum congruent to 0 is 0xFFFF unless every word is zero.
        if folded == 0 and self._total:
            folded = 0xFFFF
        return (folded + length) & 0xFFFFFFFF


def set_security_directory(data, layout, offset, size):
    """Points the security directory of the bytearray data at (offset, size)."""
    struct.pack_into("<II", data, layout.security_entry_offset, offset, size)
    layout.cert_offset, layout.cert_size = offset, size


def win_certificate_header(length):
    return struct.pack("<IHH", length, WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA)


def signature_blob_end(data, layout):
    """File offset just past the PKCS #7 DER blob of the first WIN_CERTIFICATE entry of a
    signed file; PeError when the entry is not a PKCS #7 signature."""
    at = layout.cert_offset
    length, revision, kind = struct.unpack_from("<IHH", data, at)
    if kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA or length < WIN_CERTIFICATE_HEADER or length > layout.cert_size:
        raise PeError("the certificate table does not start with a PKCS #7 signature "
                      "(length %d, revision 0x%x, type 0x%x)" % (length, revision, kind))
    tag, _, end = der_header(data, at + WIN_CERTIFICATE_HEADER, at + length)
    if tag != 0x30:
        raise PeError("the signature is not a DER SEQUENCE")
    return end


def der_header(data, pos, limit=None):
    """(tag, content start, content end) of the DER element at pos; PeError when it is
    malformed or runs past limit (default: the end of data)."""
    limit = len(data) if limit is None else limit
    if pos + 2 > limit:
        raise PeError("DER element at %d runs past its end" % pos)
    tag, first = data[pos], data[pos + 1]
    if tag & 0x1F == 0x1F:
        raise PeError("DER element at %d has a multi-byte tag" % pos)
    start = pos + 2
    if first < 0x80:
        length = first
    else:
        count = first & 0x7F
        if count == 0 or count > 4 or start + count > limit:
            raise PeError("DER element at %d has a bad length" % pos)
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    if start + length > limit:
        raise PeError("DER element at %d runs past its end" % pos)
    return tag, start, start + length


def der_children(data, start, end):
    """[(tag, element start, content start, content end)] of the elements in data[start:end]."""
    children = []
    pos = start
    while pos < end:
        tag, content, after = der_header(data, pos, end)
        children.append((tag, pos, content, after))
        pos = after
    return children


def authenticode_excluded(layout):
    """The (start, end) file ranges that the Authenticode hash leaves out before the
    certificate table: the checksum field and the security directory entry."""
    return [(layout.checksum_offset, layout.checksum_offset + 4),
            (layout.security_entry_offset, layout.security_entry_offset + 8)]


def hash_excluding(digest, data, offset, excluded):
    """Feeds data, which lies at offset in the file, to digest without the bytes of the
    excluded (start, end) file ranges."""
    view = memoryview(data)
    at = offset
    for start, end in excluded:
        if end <= at or start >= offset + len(view):
            continue
        digest.update(view[at - offset:max(start, at) - offset])
        at = min(end, offset + len(view))
    digest.update(view[at - offset:])


def copy_range(source, out, start, end, each=None):
    """Copies the bytes start to end of the file object source to out's current position,
    CHUNK bytes at a time, and calls each(chunk, offset) for every chunk with its offset in
    out. Raises PeError when source ends early."""
    buffer = bytearray(min(CHUNK, max(end - start, 0)))
    at = start
    while at < end:
        view = memoryview(buffer)[:min(len(buffer), end - at)]
        try:
            source.seek(at)
            count = source.readinto(view)
        except OSError as e:
            raise PeError("%s: cannot read at %d: %s" % (source.name, at, e.strerror)) from e
        if not count:
            raise PeError("%s: the file ended at %d bytes, before %d" % (source.name, at, end))
        chunk = view[:count]
        if each:
            each(chunk, out.tell())
        out.write(chunk)
        at += count


@contextlib.contextmanager
def mapped(path):
    """The file at path as a read-only map (an empty file as b""); PeError naming it when
    it cannot be read."""
    try:
        f = open(path, "rb")
    except OSError as e:
        raise PeError("%s: cannot read: %s" % (path, e.strerror)) from e
    with f:
        if os.fstat(f.fileno()).st_size == 0:
            yield b""
            return
        try:
            data = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        except (OSError, ValueError) as e:
            raise PeError("%s: cannot read: %s" % (path, e)) from e
        with data:
            yield data


@contextlib.contextmanager
def whole_file(path, mode_from):
    """A file object to write path's new content to: a temporary file beside it that
    replaces path, with the permissions of mode_from (which may be path itself), only when
    the block ends without an exception, so that path holds either its old content or all
    of the new. Raises PeError naming path when it cannot be written."""
    directory = os.path.dirname(os.path.abspath(path))
    try:
        handle, tmp = tempfile.mkstemp(prefix=".carryall_", dir=directory)
    except OSError as e:
        raise PeError("%s: cannot write: %s" % (path, e.strerror))
    try:
        with os.fdopen(handle, "w+b") as f:
            yield f
        shutil.copymode(mode_from, tmp)
        os.replace(tmp, path)
    except BaseException as e:
        try:
            os.remove(tmp)
        except OSError:
            pass
        if isinstance(e, OSError):
            raise PeError("%s: cannot write: %s" % (path, e.strerror)) from e
        raise
