"""String-table resources (RT_STRING): blocks of 16 strings, built and read.

String id n lies in block n // 16 + 1, at place n % 16. A block holds its 16 strings in
order, each a count of UTF-16 code units and the units, no NUL; an absent string is a
count of 0, so an empty text and an absent one cannot be told apart. A block is written
only when one of its 16 strings is present. Windows looks for a string in the block of
the thread's language and does not fall back string by string: a block of another
language must hold every string of the default block, which complete() gives it.
"""

import struct

RT_STRING = 6


class StringTableError(Exception):
    pass


def blocks(table):
    """{block id: bytes} of {string id: text}."""
    out = {}
    for block in sorted({string_id // 16 for string_id in table}):
        data = bytearray()
        for string_id in range(block * 16, block * 16 + 16):
            units = table.get(string_id, "").encode("utf-16-le")
            if len(units) // 2 > 0xFFFF:
                raise StringTableError("string %d has more than 65535 UTF-16 code units" % string_id)
            data += struct.pack("<H", len(units) // 2) + units
        out[block + 1] = bytes(data)
    return out


def read_block(block_id, data):
    """{string id: text} of the block block_id's bytes; absent strings are left out."""
    table = {}
    at = 0
    for place in range(16):
        if at + 2 > len(data):
            break
        count = struct.unpack_from("<H", data, at)[0]
        end = at + 2 + 2 * count
        if end > len(data):
            raise StringTableError("string %d of block %d runs past the block's end"
                                   % ((block_id - 1) * 16 + place, block_id))
        if count:
            table[(block_id - 1) * 16 + place] = bytes(data[at + 2:end]).decode("utf-16-le", errors="replace")
        at = end
    return table


def read_blocks(block_data):
    """{string id: text} of {block id: bytes}."""
    table = {}
    for block_id, data in block_data.items():
        if isinstance(block_id, int) and block_id >= 1:
            table.update(read_block(block_id, data))
    return table


def complete(language_table, default_table):
    """The table of a language: every string of the default table, its own texts over them."""
    table = dict(default_table)
    table.update(language_table)
    return table
