#!/usr/bin/env python3
"""Builds the bootstrapper's payload resources from a payload list.

    gen_payload.py --list LIST --manifest OUT_MANIFEST [--depfile OUT_DEPS]
    gen_payload.py --list LIST --into EXE
    gen_payload.py --list LIST --check [--generated PATH ...]

List format (UTF-8, one entry per line, fields separated by single tabs):

    id<TAB>file name<TAB>source path[<TAB>manifest size]

- id: the decimal resource id, 102 to 65535 (101 is the manifest), once per list;
- file name: the name the bootstrapper writes the file under, relative to its private
  folder, taken verbatim: spaces, dots and backslashes (sub-folders) are allowed, '*' is
  not (it separates the manifest's fields), and every character must exist in Windows
  code page 1252, the manifest's encoding; a name that Windows would change is refused:
  a component that ends in a dot or a blank ("a.txt.", "sub.\\x", ".."), an empty
  component, or a character no file name may hold (< > : " | ? and control
  characters); no two names of a list may name the same file
  on Windows (same_file_key): letter case, either slash and trailing dots and blanks
  of a component do not tell files apart;
- source path: the file whose bytes become the resource; a relative path is relative to
  the folder that holds the list;
- manifest size: optional decimal number written into the manifest instead of the source
  file's size, to build a bootstrapper whose payload looks damaged.

Lines that start with '#' are comments, blank lines are skipped, a carriage return before
the line feed is dropped and a UTF-8 byte-order mark at the start is ignored.

Outputs:
  --manifest  the manifest, resource "TOOLKIT" 101: "id*name*size" for every entry in
              list order, joined by '*', in code page 1252, with no separator or line
              break after the last field;
  --depfile   a Makefile rule: the manifest depends on the list and every source file.
An output is rewritten only when its content changes.

--into packs the payload into EXE, a linked bootstrapper not yet signed, in place: the
manifest as resource "TOOLKIT" 101 and every source file under "TOOLKIT" <id>, language
neutral (0), replacing any "TOOLKIT" resources EXE has (tools/pe_resources.py writes
them). The files stream from disk into the image, so the memory this takes does not grow
with the payload, as it does when the resource compiler and the linker carry it.

A payload too large for an image that Windows can map is refused: by every mode when
the files that exist already take more than the largest image (pe_resources.py,
MAX_IMAGE_SIZE), and by --into when the image would be larger than that.

--check reads the list and reports every error without writing anything; on success it
prints the absolute source paths, one per line, in list order without repeats (for the
build system's dependencies). --generated names a source that the build makes later, or a
folder (the build folder, say) whose files the build makes: such sources may be missing
at this point.

Errors name the list file and line and end the program with exit status 1.
"""

import argparse
import collections
import os
import sys

import pe_resources
from buildfiles import read_lines, write_if_changed
from pe_image import PeError

MANIFEST_ID = 101
FIRST_ID = 102
LAST_ID = 65535
MANIFEST_CODE_PAGE = "cp1252"
TYPE = "TOOLKIT"
MAX_SIZE = 0xFFFFFFFF

Entry = collections.namedtuple("Entry", "id name source size_override line")


class ListError(Exception):
    """The list cannot be used; the message holds one 'file:line: problem' per line."""


def _absolute(path):
    return os.path.normpath(os.path.abspath(path))


def read_list(path, generated=()):
    """The entries of the payload list at path, in list order.

    Source paths come back absolute. A source that is not an existing file is an error,
    unless it is one of the generated paths or lies below one. Raises ListError naming
    every bad line."""
    try:
        raw_lines = read_lines(path)
    except OSError as e:
        raise ListError("%s: cannot read: %s" % (path, e.strerror))

    base_dir = os.path.dirname(_absolute(path))
    generated = [_absolute(p) for p in generated]
    entries = []
    errors = []
    seen = {}
    files = {}  # same_file_key -> the entry that names that file first
    for number, raw in enumerate(raw_lines, start=1):
        where = "%s:%d" % (path, number)
        try:
            entry = _read_line(raw, number, base_dir, generated, seen)
        except ListError as e:
            errors.append("%s: %s" % (where, e))
            continue
        if entry is None:
            continue
        first = files.setdefault(same_file_key(entry.name), entry)
        if first is not entry:
            # The bootstrapper would write both into one file.
            errors.append("%s: file name %r becomes the same file as %r on line %d"
                          % (where, entry.name, first.name, first.line))
            continue
        entries.append(entry)
    if errors:
        raise ListError("\n".join(errors))
    if not entries:
        raise ListError("%s: the list names no payload file" % path)
    return entries


def same_file_key(name):
    """What tells name's file apart on Windows: the bootstrapper lower-cases names and
    the file system ignores letter case (beyond ASCII too, though 'ß' is not "ss"),
    either slash separates, and trailing dots and blanks of a component are dropped."""
    parts = name.lower().replace("/", "\\").split("\\")
    return "\\".join(part.rstrip(". ") for part in parts)


# Characters no Windows file name may hold ('*' is refused before, as a separator).
_FORBIDDEN = set('<>:"|?') | {chr(c) for c in range(32)}


def _check_components(name):
    """Refuses a name that Windows would not keep as written: the system drops the
    trailing dots and blanks of every component (so "." and ".." too) and empty
    components, and the bootstrapper, which checks that each file it writes landed at
    its own name, would then refuse the file in every run. Characters that no file name
    may hold are refused as well."""
    for char in name:
        if char in _FORBIDDEN:
            raise ListError("file name %r holds %r, which no Windows file name may hold" % (name, char))
    for part in name.replace("/", "\\").split("\\"):
        if part == "":
            raise ListError("file name %r has an empty component (a leading, trailing or doubled slash)" % name)
        if part[-1] in ". ":
            raise ListError("file name %r has the component %r, whose trailing dots and blanks Windows drops"
                            % (name, part))


def _read_line(raw, number, base_dir, generated, seen):
    if raw.endswith(b"\r"):
        raw = raw[:-1]
    try:
        line = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        raise ListError("not valid UTF-8 (byte %d)" % (e.start + 1))
    if line.startswith("#") or line.strip() == "":
        return None

    fields = line.split("\t")
    if len(fields) not in (3, 4):
        raise ListError("expected id<TAB>file name<TAB>source path[<TAB>manifest size], "
                        "found %d field%s" % (len(fields), "" if len(fields) == 1 else "s"))
    key, name, source = fields[:3]

    if not key.isascii() or not key.isdigit():
        raise ListError("bad id %r (expected a decimal number)" % key)
    resource_id = int(key)
    if not FIRST_ID <= resource_id <= LAST_ID:
        raise ListError("id %d is outside %d..%d (%d is the manifest)"
                        % (resource_id, FIRST_ID, LAST_ID, MANIFEST_ID))
    if resource_id in seen:
        raise ListError("id %d is already given on line %d" % (resource_id, seen[resource_id]))
    seen[resource_id] = number

    if name == "":
        raise ListError("empty file name")
    if "*" in name:
        raise ListError("file name %r contains '*', which separates the manifest's fields" % name)
    try:
        name.encode(MANIFEST_CODE_PAGE)
    except UnicodeEncodeError as e:
        raise ListError("file name %r holds %r, which code page 1252 cannot encode"
                        % (name, name[e.start:e.end]))
    _check_components(name)

    size_override = None
    if len(fields) == 4:
        text = fields[3]
        if not text.isascii() or not text.isdigit() or int(text) > MAX_SIZE:
            raise ListError("bad manifest size %r (expected a decimal number up to %d)"
                            % (text, MAX_SIZE))
        size_override = int(text)

    if source == "":
        raise ListError("empty source path")
    source = _absolute(os.path.join(base_dir, source))
    if not any(source == g or source.startswith(g.rstrip(os.sep) + os.sep) for g in generated):
        if not os.path.exists(source):
            raise ListError("source file %s does not exist" % source)
        if not os.path.isfile(source):
            raise ListError("source %s is not a file" % source)

    return Entry(resource_id, name, source, size_override, number)


def render_manifest(entries):
    """The manifest bytes. Sizes of sources without an override are read now."""
    fields = []
    for e in entries:
        size = e.size_override if e.size_override is not None else os.path.getsize(e.source)
        fields += [str(e.id), e.name, str(size)]
    return "*".join(fields).encode(MANIFEST_CODE_PAGE)


def check_size(entries):
    """Refuses a payload whose files, as far as they exist now, take more than the
    largest image, each aligned as pe_resources.py aligns them; the exact image size is
    checked when the payload is packed."""
    size = 0
    for source in unique_sources(entries):
        if os.path.isfile(source):
            size += -(-os.path.getsize(source) // pe_resources.DATA_ALIGNMENT) * pe_resources.DATA_ALIGNMENT
    if size > pe_resources.MAX_IMAGE_SIZE:
        raise ListError(pe_resources.too_large("the payload", size))


def pack(entries, exe):
    """Packs the manifest and every source into the linked bootstrapper exe, in place."""
    resources = [pe_resources.bytes_resource(TYPE, MANIFEST_ID, render_manifest(entries))]
    resources += [pe_resources.file_resource(TYPE, e.id, e.source) for e in entries]
    try:
        pe_resources.pack(exe, exe, resources, TYPE)
    except pe_resources.PackError as e:
        raise ListError("%s: %s" % (exe, e))
    except PeError as e:
        raise ListError(str(e))


def _make_escape(path):
    # GNU make's reading of a dependency line: '$' doubles, '#' and blanks take a
    # backslash, and backslashes directly before a blank are doubled.
    out = []
    backslashes = 0
    for c in path:
        if c == "\\":
            backslashes += 1
            out.append(c)
            continue
        if c in " \t":
            out.append("\\" * backslashes + "\\" + c)
        elif c == "#":
            out.append("\\#")
        elif c == "$":
            out.append("$$")
        else:
            out.append(c)
        backslashes = 0
    return "".join(out)


def render_depfile(entries, manifest_path, list_path):
    deps = [_absolute(list_path)]
    for e in entries:
        if e.source not in deps:
            deps.append(e.source)
    lines = ["%s: \\" % _make_escape(_absolute(manifest_path))]
    lines += ["  %s \\" % _make_escape(d) for d in deps[:-1]]
    lines.append("  %s" % _make_escape(deps[-1]))
    return os.fsencode("\n".join(lines) + "\n")


def unique_sources(entries):
    sources = []
    for e in entries:
        if e.source not in sources:
            sources.append(e.source)
    return sources


def main(argv):
    parser = argparse.ArgumentParser(description="Generate the payload manifest, or pack the payload.")
    parser.add_argument("--list", required=True, help="the payload list")
    parser.add_argument("--manifest", help="manifest to write (resource 101)")
    parser.add_argument("--depfile", help="Makefile dependency rule to write (with --manifest)")
    parser.add_argument("--into", metavar="EXE", help="the linked bootstrapper to pack the payload into")
    parser.add_argument("--check", action="store_true",
                        help="only check the list and print the source paths")
    parser.add_argument("--generated", action="append", default=[], metavar="PATH",
                        help="a source, or a folder of sources, that the build makes later "
                             "(with --check)")
    args = parser.parse_args(argv)
    modes = [name for name, given in (("--check", args.check), ("--manifest", args.manifest),
                                      ("--into", args.into)) if given]
    if len(modes) != 1:
        parser.error("give one of --manifest, --into and --check")
    if args.depfile and not args.manifest:
        parser.error("--depfile goes with --manifest only")
    if args.generated and not args.check:
        parser.error("--generated goes with --check only")

    try:
        entries = read_list(args.list, args.generated)
        check_size(entries)
        if args.check:
            out = sys.stdout.buffer
            for source in unique_sources(entries):
                out.write(os.fsencode(source) + b"\n")
            out.flush()
            return 0
        if args.into:
            pack(entries, args.into)
            return 0
        manifest = render_manifest(entries)
    except ListError as e:
        for line in str(e).splitlines():
            print("gen_payload.py: error: %s" % line, file=sys.stderr)
        return 1
    except OSError as e:
        print("gen_payload.py: error: %s: %s" % (e.filename, e.strerror), file=sys.stderr)
        return 1

    write_if_changed(args.manifest, manifest)
    if args.depfile:
        write_if_changed(args.depfile, render_depfile(entries, args.manifest, args.list))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
