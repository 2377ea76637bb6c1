"""The version resource (RT_VERSION 1): build its bytes and read them back.

A VS_VERSIONINFO is a tree of nodes. Each node is wLength (its bytes, up to the end of
its last child, without the padding after it), wValueLength, wType (1 text, 0 binary),
its key as NUL-terminated UTF-16, zero bytes up to a multiple of 4, its value, zero
bytes up to a multiple of 4, then its children, each starting on a multiple of 4. The
root's value is the VS_FIXEDFILEINFO; a text value's wValueLength counts UTF-16 code
units with the NUL, a binary value's counts bytes. GetFileVersionInfoW/VerQueryValueW
walk exactly these lengths, so they must be exact; the layout is the one windres and
rc.exe write.

    build(info) -> bytes
    parse(data) -> VersionInfo      (VersionError when the bytes do not hold one)
"""

import struct

FIXED_SIGNATURE = 0xFEEF04BD
FIXED_STRUCT_VERSION = 0x00010000
VS_FF_MASK = 0x3F
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1
# en-US, Unicode: the one StringFileInfo table and its Translation entry.
DEFAULT_TRANSLATION = (0x0409, 1200)
STRING_KEYS = ("CompanyName", "FileDescription", "FileVersion", "InternalName",
               "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion")


class VersionError(Exception):
    pass


class VersionInfo:
    """file_version, product_version: 4 numbers each; strings: {key: text} in the order
    written; translation: (language id, code page); flags_mask, flags, os, type, subtype
    of the fixed part."""

    def __init__(self, file_version=(0, 0, 0, 0), product_version=(0, 0, 0, 0), strings=None,
                 translation=DEFAULT_TRANSLATION, flags_mask=VS_FF_MASK, flags=0,
                 os=VOS_NT_WINDOWS32, type_=VFT_APP, subtype=0):
        self.file_version = tuple(file_version)
        self.product_version = tuple(product_version)
        self.strings = dict(strings or {})
        self.translation = tuple(translation)
        self.flags_mask, self.flags, self.os, self.type, self.subtype = flags_mask, flags, os, type_, subtype

    def table_key(self):
        return "%04x%04x" % self.translation


def parse_version(text):
    """(a, b, c, d) of "A.B.C.D", each 0 to 65535; VersionError otherwise."""
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isascii() and p.isdigit() and int(p) <= 0xFFFF for p in parts):
        raise VersionError("version %r is not four numbers from 0 to 65535, A.B.C.D" % text)
    return tuple(int(p) for p in parts)


def version_text(numbers):
    return ".".join(str(n) for n in numbers)


def _pad(data):
    return data + b"\0" * (-len(data) % 4)


def _node(key, value, value_length, text, children=()):
    body = _pad(struct.pack("<HHH", 0, value_length, 1 if text else 0) + (key + "\0").encode("utf-16-le"))
    body += value
    for child in children:
        body = _pad(body) + child
    return struct.pack("<H", len(body)) + body[2:]


def _split(pair):
    return (pair[0] << 16) | pair[1], (pair[2] << 16) | pair[3]


def build(info):
    fixed = struct.pack("<13I", FIXED_SIGNATURE, FIXED_STRUCT_VERSION, *_split(info.file_version),
                        *_split(info.product_version), info.flags_mask, info.flags, info.os, info.type,
                        info.subtype, 0, 0)
    strings = [_node(key, (text + "\0").encode("utf-16-le"), len(text) + 1, True)
               for key, text in info.strings.items()]
    table = _node(info.table_key(), b"", 0, True, strings)
    translation = _node("Translation", struct.pack("<HH", *info.translation), 4, False)
    return _node("VS_VERSION_INFO", fixed, len(fixed), False,
                 [_node("StringFileInfo", b"", 0, True, [table]), _node("VarFileInfo", b"", 0, True, [translation])])


def _read_node(data, at, end):
    """(key, value bytes, wType, [(child start, child end)], node end) of the node at at."""
    if at + 6 > end:
        raise VersionError("a node at %d runs past its parent's end" % at)
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    node_end = at + length
    if length < 6 or node_end > end:
        raise VersionError("the node at %d has a bad length %d" % (at, length))
    key_end = at + 6
    while True:
        if key_end + 2 > node_end:
            raise VersionError("the key of the node at %d has no end" % at)
        if data[key_end:key_end + 2] == b"\0\0":
            break
        key_end += 2
    key = bytes(data[at + 6:key_end]).decode("utf-16-le", errors="replace")
    value_at = key_end + 2
    value_at += -(value_at - at) % 4
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = bytes(data[value_at:min(value_at + value_bytes, node_end)])
    children = []
    child = value_at + value_bytes
    while True:
        child += -(child - at) % 4
        if child >= node_end:
            break
        child_length = struct.unpack_from("<H", data, child)[0] if child + 2 <= node_end else 0
        if child_length == 0:
            raise VersionError("a node of zero length at %d" % child)
        children.append((child, child + child_length))
        child += child_length
    return key, value, kind, children, node_end


def parse(data):
    key, fixed, _, children, _ = _read_node(data, 0, len(data))
    if key != "VS_VERSION_INFO":
        raise VersionError("the root is %r, not VS_VERSION_INFO" % key)
    if len(fixed) != 52 or struct.unpack_from("<I", fixed)[0] != FIXED_SIGNATURE:
        raise VersionError("no VS_FIXEDFILEINFO")
    values = struct.unpack("<13I", fixed)
    info = VersionInfo(
        (values[2] >> 16, values[2] & 0xFFFF, values[3] >> 16, values[3] & 0xFFFF),
        (values[4] >> 16, values[4] & 0xFFFF, values[5] >> 16, values[5] & 0xFFFF),
        flags_mask=values[6], flags=values[7], os=values[8], type_=values[9], subtype=values[10])
    for start, end in children:
        name, _, _, grandchildren, _ = _read_node(data, start, end)
        if name == "StringFileInfo" and grandchildren:
            table, _, _, strings, _ = _read_node(data, grandchildren[0][0], grandchildren[0][1])
            for s_start, s_end in strings:
                s_key, value, _, _, _ = _read_node(data, s_start, s_end)
                info.strings[s_key] = value.decode("utf-16-le", errors="replace").split("\0")[0]
            if len(table) == 8:
                try:
                    info.translation = (int(table[:4], 16), int(table[4:], 16))
                except ValueError:
                    pass
        elif name == "VarFileInfo":
            for v_start, v_end in grandchildren:
                v_key, value, _, _, _ = _read_node(data, v_start, v_end)
                if v_key == "Translation" and len(value) >= 4:
                    info.translation = struct.unpack_from("<HH", value)
    return info
