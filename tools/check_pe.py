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
  imports         every DLL in the import table is one that Windows loads from its
                  KnownDLLs list (KNOWN_DLLS below). Any other DLL is looked for in the
                  program's own folder first, where a downloaded bootstrapper may find a
                  planted version.dll beside it; the program loads those from the system
                  folder at run time instead (platform/win32/system_dlls.h).
  hardening       the optional header's DllCharacteristics has DYNAMIC_BASE (ASLR),
                  NX_COMPAT (DEP) and TERMINAL_SERVER_AWARE, and the image keeps its base
                  relocations, without which the loader cannot move it and ASLR is void.

The checks read the file only, through Debian's pefile (python3-pefile, which the
build's /usr/bin/python3 sees); a signature, if there is one, is not looked at (signing
leaves these fields as they are). Exit status 0 when every check passes, 1 otherwise.
"""

import argparse
import mmap
import os
import sys

import pefile  # Debian's python3-pefile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from pe_image import PeError, pe_header_offset  # noqa: E402

# The DLLs in the KnownDLLs key of every Windows the bootstrapper runs on (7 to 11), and
# ntdll, which the loader maps before anything else. Only these may be imported.
KNOWN_DLLS = frozenset("""
    advapi32 clbcatq comdlg32 gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi
    ntdll ole32 oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32
    ws2_32""".split())

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
# A 32-bit image without it gets 2 GiB of address space, in which a payload of more than
# about a gigabyte cannot be mapped beside the program.
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
# (flag, name) of the DllCharacteristics bits the image must have.
HARDENING_FLAGS = [(0x0040, "DYNAMIC_BASE"), (0x0100, "NX_COMPAT"), (0x8000, "TERMINAL_SERVER_AWARE")]
BASE_RELOCATION_DIRECTORY = 5


class Image:
    """The header fields the checks read, as Debian's pefile reads them. Raises PeError
    when data is not a PE file."""

    def __init__(self, data):
        pe_header_offset(data)  # what is no PE file at all is refused in our own words
        try:
            pe = pefile.PE(data=data, fast_load=True)
            pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
        except pefile.PEFormatError as error:
            raise PeError(str(error)) from error
        optional = pe.OPTIONAL_HEADER
        self.section_alignment = optional.SectionAlignment
        self.file_alignment = optional.FileAlignment
        self.characteristics = pe.FILE_HEADER.Characteristics
        self.dll_characteristics = optional.DllCharacteristics
        self.directories = [(entry.VirtualAddress, entry.Size) for entry in optional.DATA_DIRECTORY]
        # (name, PointerToRawData, SizeOfRawData) of each section.
        self.sections = [(section.Name.rstrip(b"\0").decode("latin-1"), section.PointerToRawData,
                          section.SizeOfRawData) for section in pe.sections]
        self.imports = [entry.dll.decode("latin-1") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]

    def directory(self, index):
        """(RVA, size) of a data directory; (0, 0) when the image has none."""
        return self.directories[index] if index < len(self.directories) else (0, 0)


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


def check_imports(image):
    """One line for each imported DLL outside KNOWN_DLLS."""
    return ["imports %s, which Windows would look for beside the program first" % name
            for name in image.imports
            if name.lower().removesuffix(".dll") not in KNOWN_DLLS]


def check_hardening(image):
    """One line for each missing DllCharacteristics flag, for a missing large-address
    awareness and for stripped relocations."""
    problems = ["DllCharacteristics 0x%04x lacks %s" % (image.dll_characteristics, name)
                for flag, name in HARDENING_FLAGS if not image.dll_characteristics & flag]
    if not image.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE:
        problems.append("Characteristics 0x%04x lacks LARGE_ADDRESS_AWARE" % image.characteristics)
    if image.characteristics & IMAGE_FILE_RELOCS_STRIPPED or not image.directory(BASE_RELOCATION_DIRECTORY)[1]:
        problems.append("the base relocations are stripped: the image cannot be moved")
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
    problems = (check_file_alignment(image, args.file_alignment) + check_imports(image)
                + check_hardening(image))
    for problem in problems:
        print("check_pe: %s: %s" % (args.exe, problem), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
