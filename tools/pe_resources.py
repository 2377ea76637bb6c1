"""Writes resources into a linked PE image, streaming their data from files: how a
bootstrapper gets its payload.

    pack(in_path, out_path, resources, replace)

The image's resource section is written anew: its directory tree (types, then names,
then languages, each level with the named entries first, in the order of their UTF-16
code units, then the ids in ascending order, as the loader's binary search wants them),
the name strings, the data entries, then every resource's data, 8-byte aligned. The
resources the image already has are kept, except those that replace names (a type, or a
function of type, name and language), which the new ones replace in the same pass; data that two resources share (one file under two ids) is written once.
Sections after the resource section are moved down by the growth: only the base
relocations and other discardable sections may follow it, since their own address is
written nowhere but in the headers. The headers follow: the section table, the resource
and base relocation directories, SizeOfImage, SizeOfInitializedData and the checksum.
File and section alignment stay as they are.

The checksum is either summed as the bytes are written, or left 0 ("not computed", as a
linker leaves it; Windows checks it only for drivers and the DLLs it loads at boot, and
every signer writes it, since the signature covers the file's final bytes). Summing costs
more than copying: Python turns bytes into the sum at about 1.5 s per GiB, where the
system copies a GiB in half a second; so `carryall.py pack`, which makes unsigned files
for a signer, leaves it 0.

The image holds the payload bytes once, in the file only: each file is copied in chunks
(by the system itself where it can, when nothing is summed), so the memory used does not
grow with the payload; a file of a page or more starts on a page boundary, which that copy
needs to run at full speed. An image larger than MAX_IMAGE_SIZE is refused before anything is
written, with the reason.
"""

import collections
import os
import struct

import pefile  # Debian's python3-pefile

import pe_image
from pe_image import PeError

MIB = 1 << 20
# The largest image (SizeOfImage) that a bootstrapper may have. A 32-bit program's image
# is mapped whole, in one piece, at its base of 4 MiB (ASLR moves an executable by a few
# MiB; 16 are allowed) and upward; from 0x50000000 up lies the area where Windows puts the
# system DLLs of every 32-bit process, at addresses fixed per boot (ntdll before the
# program runs). Below that area 1260 MiB are free on every supported Windows, 32-bit
# included; large-address awareness adds space above 2 GiB only, past the shared page at
# 0x7FFE0000 that no mapping can span. 1152 MiB keeps 108 MiB of those for what differs
# between Windows versions and for the program's own memory. The README's "Your own
# payload" says the same; Wine is more lenient.
MAX_IMAGE_SIZE = 1152 * MIB
LIMIT_REASON = ("Windows maps a 32-bit program's image whole, in one piece of its address space "
                "between the program's base and the system DLLs (README, \"Your own payload\")")

RESOURCE_DIRECTORY = 2
BASE_RELOCATION_DIRECTORY = 5
SECURITY_DIRECTORY = 4
IMAGE_SCN_MEM_DISCARDABLE = 0x02000000
DATA_ALIGNMENT = 8
# The data of a resource of a page or more starts on a page of its own (the section
# starts on one): the system then copies a payload file into the image page by page,
# where at another offset it shifts every byte, at half the speed (measured with
# copy_file_range and sendfile on ext4), and the bootstrapper writes it out from whole
# mapped pages. A smaller one needs no more than 8 bytes.
FILE_DATA_ALIGNMENT = 4096
# Payload smaller than this is summed in the packing process itself: starting other
# processes would cost more.

# type and name: an int (an id) or a str (a name); data: bytes, or the path of a file of
# size bytes.
Resource = collections.namedtuple("Resource", "type name language codepage data size")


class PackError(Exception):
    pass


def file_resource(type_, name, path, language=0, codepage=0):
    """A resource whose data is the file at path, as it is now."""
    return Resource(type_, name, language, codepage, path, os.path.getsize(path))


def bytes_resource(type_, name, data, language=0, codepage=0):
    return Resource(type_, name, language, codepage, bytes(data), len(data))


def _align(value, alignment):
    return -(-value // alignment) * alignment


def _sort_key(key):
    if isinstance(key, str):
        encoded = key.encode("utf-16-le")
        return (0, struct.unpack("<%dH" % (len(encoded) // 2), encoded))
    return (1, key)


def _sorted(entries):
    """The entries of one directory level in the order the loader's search needs."""
    return dict(sorted(entries.items(), key=lambda item: _sort_key(item[0])))


def _data_key(resource):
    return ("file", resource.data) if isinstance(resource.data, str) else ("bytes", resource.data)


class SectionLayout:
    """Where everything of a resource section lies, from its start."""

    def __init__(self, resources):
        tree = {}
        for r in resources:
            languages = tree.setdefault(r.type, {}).setdefault(r.name, {})
            if r.language in languages:
                raise PackError("resource %r %r language %d is given twice" % (r.type, r.name, r.language))
            languages[r.language] = r
        self.tree = {t: {n: _sorted(languages) for n, languages in _sorted(names).items()}
                     for t, names in _sorted(tree).items()}

        at = 16 + 8 * len(self.tree)
        self.directories = {}  # (type,) or (type, name) -> offset of its directory
        for t, names in self.tree.items():
            self.directories[(t,)] = at
            at += 16 + 8 * len(names)
        for t, names in self.tree.items():
            for n, languages in names.items():
                self.directories[(t, n)] = at
                at += 16 + 8 * len(languages)
        self.strings = {}
        for key in [k for t, names in self.tree.items() for k in [t] + list(names)]:
            if isinstance(key, str) and key not in self.strings:
                self.strings[key] = at
                at += 2 + len(key.encode("utf-16-le"))
        at = _align(at, 4)
        self.entries = {}  # resource -> offset of its data entry
        leaves = [r for names in self.tree.values() for languages in names.values() for r in languages.values()]
        for r in leaves:
            self.entries[r] = at
            at += 16
        # Data: the bytes first (the program's own resources, the manifest), then the files.
        self.data = {}  # data key -> (offset, resource whose data it is)
        for r in sorted(leaves, key=lambda r: isinstance(r.data, str)):
            key = _data_key(r)
            if key not in self.data:
                at = _align(at, FILE_DATA_ALIGNMENT if r.size >= FILE_DATA_ALIGNMENT else DATA_ALIGNMENT)
                self.data[key] = (at, r)
                at += r.size
        self.size = at

    def head(self, rva):
        """The section's bytes before its first resource data: the directories, the
        strings and the data entries, for a section at rva."""
        first_data = min((offset for offset, _ in self.data.values()), default=self.size)
        out = bytearray(first_data)

        def directory(at, entries):
            named = sum(isinstance(k, str) for k, _ in entries)
            struct.pack_into("<IIHHHH", out, at, 0, 0, 0, 0, named, len(entries) - named)
            for index, (key, target) in enumerate(entries):
                name = 0x80000000 | self.strings[key] if isinstance(key, str) else key
                struct.pack_into("<II", out, at + 16 + 8 * index, name, target)

        directory(0, [(t, 0x80000000 | self.directories[(t,)]) for t in self.tree])
        for t, names in self.tree.items():
            directory(self.directories[(t,)], [(n, 0x80000000 | self.directories[(t, n)]) for n in names])
            for n, languages in names.items():
                directory(self.directories[(t, n)], [(language, self.entries[r]) for language, r in languages.items()])
        for key, at in self.strings.items():
            encoded = key.encode("utf-16-le")
            struct.pack_into("<H", out, at, len(encoded) // 2)
            out[at + 2:at + 2 + len(encoded)] = encoded
        for r, at in self.entries.items():
            struct.pack_into("<IIII", out, at, rva + self.data[_data_key(r)][0], r.size, r.codepage, 0)
        return out


def _name(entry):
    return str(entry.name) if entry.name is not None else entry.id


def replacing(replace):
    """replace as a function of (type, name, language): a type or such a function."""
    if callable(replace):
        return replace
    return lambda type_, name, language: type_ == replace


def existing_resources(pe, data, replace=lambda type_, name, language: False):
    """The resources of the image, with their data, except those that replace (a type, or
    a function of type, name and language) names."""
    replace = replacing(replace)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        raise PackError("the image's resource directory cannot be read")
    found = []
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for language in n.directory.entries:
                if replace(_name(t), _name(n), language.id):
                    continue
                entry = language.data.struct
                at = pe.get_offset_from_rva(entry.OffsetToData)
                found.append(bytes_resource(_name(t), _name(n), data[at:at + entry.Size], language.id, entry.CodePage))
    return found


class _Image:
    """What pack() reads from the linked image and changes in its headers."""

    def __init__(self, data):
        try:
            pe_image.pe_header_offset(data)
            self.pe = pe = pefile.PE(data=data, fast_load=True)
            self.image_end = pe_image.parse(data).image_end
        except (PeError, pefile.PEFormatError) as e:
            raise PackError(str(e)) from e
        optional = pe.OPTIONAL_HEADER
        directories = optional.DATA_DIRECTORY
        if len(directories) <= BASE_RELOCATION_DIRECTORY:
            raise PackError("the optional header has too few data directories")
        if directories[SECURITY_DIRECTORY].Size:
            raise PackError("the image is signed: pack its resources before signing it")
        self.file_alignment = optional.FileAlignment
        self.section_alignment = optional.SectionAlignment
        rva = directories[RESOURCE_DIRECTORY].VirtualAddress
        sections = sorted(pe.sections, key=lambda s: s.VirtualAddress)
        rsrc = [s for s in sections if s.VirtualAddress == rva and rva]
        if not rsrc:
            raise PackError("the image has no resource section of its own (link it with resources)")
        self.rsrc = rsrc[0]
        self.after = [s for s in sections if s.VirtualAddress > rva]
        for s in self.after:
            if not s.Characteristics & IMAGE_SCN_MEM_DISCARDABLE:
                raise PackError("section %s follows the resource section and cannot be moved"
                                % s.Name.rstrip(b"\0").decode("latin-1"))
        self.raw_start = self.rsrc.PointerToRawData
        self.raw_end = self.raw_start + _align(self.rsrc.SizeOfRawData, self.file_alignment)
        for s in sections:
            if s not in self.after and s is not self.rsrc and s.SizeOfRawData \
                    and s.PointerToRawData + s.SizeOfRawData > self.raw_start:
                raise PackError("section %s lies after the resource section in the file"
                                % s.Name.rstrip(b"\0").decode("latin-1"))
        for index, d in enumerate(directories):
            if index not in (RESOURCE_DIRECTORY, SECURITY_DIRECTORY, BASE_RELOCATION_DIRECTORY) \
                    and d.Size and d.VirtualAddress >= rva:
                raise PackError("data directory %d lies in or after the resource section" % index)
        if self.image_end != len(data):
            raise PackError("%d bytes follow the image" % (len(data) - self.image_end))

    def header(self, data, section_size):
        """The headers for a resource section of section_size bytes, the checksum zero;
        and the new SizeOfImage."""
        pe = self.pe
        optional = pe.OPTIONAL_HEADER
        grow_va = _align(section_size, self.section_alignment) \
            - _align(self.rsrc.Misc_VirtualSize, self.section_alignment)
        raw_size = _align(section_size, self.file_alignment)
        grow_raw = raw_size - (self.raw_end - self.raw_start)
        head = bytearray(data[:optional.SizeOfHeaders])

        def put(structure, field, value):
            at = structure.get_field_absolute_offset(field)
            struct.pack_into("<I", head, at, value)

        put(self.rsrc, "Misc_VirtualSize", section_size)
        put(self.rsrc, "SizeOfRawData", raw_size)
        for s in self.after:
            put(s, "VirtualAddress", s.VirtualAddress + grow_va)
            if s.PointerToRawData:
                put(s, "PointerToRawData", s.PointerToRawData + grow_raw)
        directories = optional.DATA_DIRECTORY
        put(directories[RESOURCE_DIRECTORY], "Size", section_size)
        relocations = directories[BASE_RELOCATION_DIRECTORY]
        if relocations.Size and relocations.VirtualAddress > self.rsrc.VirtualAddress:
            put(relocations, "VirtualAddress", relocations.VirtualAddress + grow_va)
        symbols = pe.FILE_HEADER.PointerToSymbolTable
        if symbols and symbols >= self.raw_end:
            put(pe.FILE_HEADER, "PointerToSymbolTable", symbols + grow_raw)
        image_size = optional.SizeOfImage + grow_va
        put(optional, "SizeOfImage", image_size)
        put(optional, "SizeOfInitializedData", max(0, optional.SizeOfInitializedData + grow_raw))
        put(optional, "CheckSum", 0)
        return head, image_size


def too_large(what, size):
    """The message for a bootstrapper whose what would take size bytes."""
    return ("%s would take %d bytes (%.1f MiB); a bootstrapper's image may take at most %d bytes "
            "(%d MiB): %s" % (what, size, size / MIB, MAX_IMAGE_SIZE, MAX_IMAGE_SIZE // MIB, LIMIT_REASON))


def pack(in_path, out_path, resources, replace, checksum=True):
    """Writes out_path: the image at in_path with the resources added, those that replace
    (a type, or a function of type, name and language) names left out. in_path and
    out_path may be the same file. checksum False leaves the PE checksum 0."""
    with pe_image.mapped(in_path) as data, open(in_path, "rb") as source:
        image = _Image(data)
        layout = SectionLayout(existing_resources(image.pe, data, replace) + list(resources))
        head, image_size = image.header(data, layout.size)
        if image_size > MAX_IMAGE_SIZE:
            raise PackError(too_large("the image", image_size))
        section_head = layout.head(image.rsrc.VirtualAddress)

        with pe_image.whole_file(out_path, in_path) as out:
            total = pe_image.Checksum() if checksum else None
            add = total.add if total else None

            def write(chunk):
                if total:
                    total.add(chunk, out.tell())
                out.write(chunk)

            write(head)
            pe_image.copy_range(source, out, len(head), image.raw_start, add)
            write(section_head)
            for offset, r in sorted(layout.data.values(), key=lambda item: item[0]):
                write(bytes(image.raw_start + offset - out.tell()))
                if isinstance(r.data, bytes):
                    write(r.data)
                else:
                    _copy_file(r, out, total)
            write(bytes(image.raw_start + _align(layout.size, image.file_alignment) - out.tell()))
            pe_image.copy_range(source, out, image.raw_end, image.image_end, add)
            if total:
                value = total.value(out.tell())
                out.seek(image.pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"))
                out.write(struct.pack("<I", value))


def _copy_file(resource, out, total):
    """Copies the file of resource to out's position, adding it to total unless that is
    None (the file is summed elsewhere: then the kernel copies it where it can)."""
    try:
        with open(resource.data, "rb") as f:
            if os.fstat(f.fileno()).st_size != resource.size:
                raise PackError("%s changed its size while the payload was packed" % resource.data)
            if total is None and _kernel_copy(f, out, resource.size):
                return
            pe_image.copy_range(f, out, 0, resource.size, total.add if total else None)
    except OSError as e:
        raise PackError("%s: cannot read: %s" % (resource.data, e.strerror)) from e


def _kernel_copy(source, out, size):
    """Copies size bytes from the start of source to out's position without passing
    them through this process, where the system can (Linux); False when it cannot, with
    nothing copied."""
    if not hasattr(os, "copy_file_range") or size == 0:
        return False
    out.flush()
    start = out.tell()
    done = 0
    while done < size:
        try:
            count = os.copy_file_range(source.fileno(), out.fileno(), size - done, done, start + done)
        except OSError:
            if done:
                raise
            return False
        if count == 0:
            raise PackError("%s: the file ended at %d bytes, before %d" % (source.name, done, size))
        done += count
    out.seek(start + size)
    return True
