#!/usr/bin/env python3
"""Builds the bootstrapper's string table from its text source.

    gen_strings.py --base resources/strings.txt [--overrides FILE] --rc OUT.rc --cpp OUT.inc
    gen_strings.py --base resources/strings.txt [--overrides FILE] --print ID

Source format (UTF-8, one entry per line): the decimal id (0 to 65535), a tab, the
text. In the text "\\n" is a line feed, "\\t" a tab and "\\\\" a backslash; a backslash
before anything else is an error, every other character stands for itself. Lines that
start with '#' are comments, blank lines are skipped, and a carriage return before the
line feed is dropped. An id may appear once per file.

The overrides file has the same format; each of its entries sets or replaces the entry
of the same id, and a line that holds only an id removes that entry.

Outputs:
  --rc   a STRINGTABLE fragment for GNU windres, UTF-8, compiled with "-c 65001";
  --cpp  one "{id, u"text"}," line per entry in ascending id order, for inclusion inside
         an array initialiser in host code;
  --print the text of one entry, UTF-8, without a line feed added (nothing when the
         table has no such entry), for the build to read a setting such as the product
         name.
An output is rewritten only when its content changes, so dependent objects are not
rebuilt needlessly.

Errors name the file and line and end the program with exit status 1.
"""

import argparse
import os
import sys

from buildfiles import read_lines, write_if_changed

MAX_ID = 65535


class TableError(Exception):
    pass


def _unescape(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1] if i + 1 < len(text) else None
        if nxt == "n":
            out.append("\n")
        elif nxt == "t":
            out.append("\t")
        elif nxt == "\\":
            out.append("\\")
        elif nxt is None:
            raise TableError("%s: backslash at the end of the text (write \\\\ for a backslash)" % where)
        else:
            raise TableError("%s: unknown escape \\%s (only \\n, \\t and \\\\ are understood)" % (where, nxt))
        i += 2
    return "".join(out)


def read_table(path, allow_removal):
    """Returns [(id, text or None for a removal, 'file:line')] in file order."""
    try:
        raw_lines = read_lines(path)
    except OSError as e:
        raise TableError("%s: cannot read: %s" % (path, e.strerror))

    entries = []
    seen = {}
    for number, raw in enumerate(raw_lines, start=1):
        where = "%s:%d" % (path, number)
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        try:
            line = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            raise TableError("%s: not valid UTF-8 (byte %d)" % (where, e.start + 1))
        if line.startswith("#") or line.strip() == "":
            continue

        key, tab, text = line.partition("\t")
        if not key.isascii() or not key.isdigit():
            raise TableError("%s: bad id %r (expected a decimal number, then a tab)" % (where, key))
        string_id = int(key)
        if string_id > MAX_ID:
            raise TableError("%s: id %d is above %d" % (where, string_id, MAX_ID))
        if string_id in seen:
            raise TableError("%s: id %d is already given on line %d" % (where, string_id, seen[string_id]))
        seen[string_id] = number

        if not tab:
            if not allow_removal:
                raise TableError("%s: id %d has no tab and no text" % (where, string_id))
            entries.append((string_id, None, where))
        else:
            entries.append((string_id, _unescape(text, where), where))
    return entries


def merge(base, overrides):
    table = {}
    for string_id, text, _ in base:
        table[string_id] = text
    for string_id, text, _ in overrides:
        if text is None:
            table.pop(string_id, None)
        else:
            table[string_id] = text
    return table


def rc_literal(text):
    # windres reads C escapes inside rc strings and takes "" for a double quote; a
    # backslash before an unknown letter is kept but warned about, so every backslash
    # is doubled. Non-ASCII stays as UTF-8 and is converted by "-c 65001". Control
    # characters use three-digit octal, which cannot swallow a following digit. The
    # rc goes through the C preprocessor first: a '?' after a '?' is written in octal
    # so that no trigraph warning is raised.
    out = ['"']
    previous = ""
    for c in text:
        o = ord(c)
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('""')
        elif c == "?" and previous == "?":
            out.append("\\077")
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif o < 0x20 or o == 0x7F:
            out.append("\\%03o" % o)
        else:
            out.append(c)
        previous = c
    out.append('"')
    return "".join(out)


def cpp_literal(text):
    # The result is pure ASCII. Octal escapes stop after three digits and \u/\U take a
    # fixed number of digits, so no escape runs into the character after it (a \x
    # escape would). '?' is escaped so that no trigraph can form.
    out = ['u"']
    for c in text:
        o = ord(c)
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('\\"')
        elif c == "?":
            out.append("\\?")
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif o < 0x20 or 0x7F <= o < 0xA0:
            out.append("\\%03o" % o)
        elif o < 0x7F:
            out.append(c)
        elif o <= 0xFFFF:
            out.append("\\u%04x" % o)
        else:
            out.append("\\U%08x" % o)
    out.append('"')
    return "".join(out)


def sources_note(base_path, overrides_path):
    names = os.path.basename(base_path)
    if overrides_path:
        names += " with overrides from " + os.path.basename(overrides_path)
    return "Generated by gen_strings.py from %s. Edit the source, not this file." % names


def render_rc(table, note):
    lines = ["// " + note,
             "#pragma code_page(65001)",
             "STRINGTABLE",
             "BEGIN"]
    for string_id in sorted(table):
        lines.append("    %d, %s" % (string_id, rc_literal(table[string_id])))
    lines.append("END")
    return "\n".join(lines) + "\n"


def render_cpp(table, note):
    lines = ["// " + note,
             "// One {id, text} pair per entry, ascending ids; include inside an initialiser."]
    for string_id in sorted(table):
        lines.append("{%d, %s}," % (string_id, cpp_literal(table[string_id])))
    return "\n".join(lines) + "\n"


def write_text_if_changed(path, content):
    write_if_changed(path, content.encode("utf-8"))


def main(argv):
    parser = argparse.ArgumentParser(description="Generate the string table sources.")
    parser.add_argument("--base", required=True, help="the shipped table (strings.txt)")
    parser.add_argument("--overrides", default="", help="entries to set or remove")
    parser.add_argument("--rc", help="STRINGTABLE fragment to write")
    parser.add_argument("--cpp", help="C++ initialiser lines to write")
    parser.add_argument("--print", type=int, metavar="ID", help="write this entry's text to stdout")
    parser.add_argument("--set", action="append", default=[], metavar="ID=TEXT",
                        help="an entry set after the overrides (a build option's setting)")
    args = parser.parse_args(argv)
    if not args.rc and not args.cpp and args.print is None:
        parser.error("nothing to do: give --rc, --cpp or --print")

    try:
        base = read_table(args.base, allow_removal=False)
        overrides = read_table(args.overrides, allow_removal=True) if args.overrides else []
    except TableError as e:
        print("gen_strings.py: error: %s" % e, file=sys.stderr)
        return 1

    table = merge(base, overrides)
    for entry in args.set:
        string_id, _, text = entry.partition("=")
        if not string_id.isdigit() or not 0 <= int(string_id) <= 65535:
            print("gen_strings.py: error: --set %r: the id must be a number from 0 to 65535" % entry,
                  file=sys.stderr)
            return 1
        table[int(string_id)] = text
    if args.print is not None:
        sys.stdout.buffer.write(table.get(args.print, "").encode("utf-8"))
    note = sources_note(args.base, args.overrides)
    if args.rc:
        write_text_if_changed(args.rc, render_rc(table, note))
    if args.cpp:
        write_text_if_changed(args.cpp, render_cpp(table, note))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
