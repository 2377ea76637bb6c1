#!/usr/bin/env python3
"""carryall: makes a bootstrapper of your own from the prebuilt stub, and shows what a
bootstrapper carries.

    carryall.py pack --stub STUB --payload LIST -o OUT [--strings FILE] [--language TAG=FILE]...
                     [--splash BMP] [--banner BMP] [--icon ICO] [--version A.B.C.D]
                     [--company TEXT] [--product TEXT] [--description TEXT]
                     [--copyright TEXT] [--no-dotnet]
    carryall.py show FILE [--json]
    carryall.py sign IN OUT ...     (tools/sign_exe.py)
    carryall.py tag IN OUT ...      (tools/tag_exe.py)

pack writes OUT in one pass over the stub: the payload (the list's manifest as "TOOLKIT"
101, each file from 102 on, streamed from disk), the string table (the stub's, with the
overrides of --strings, in US English), one complete table per --language, the splash
(bitmap 133) and banner (bitmap 130), every image of the icon (RT_ICON, group 5), and the
version resource. The result is unsigned; sign it, then tag it. The same stub and inputs
give the same bytes. OUT is written whole or not at all.

Exit status: 0 done, 1 an input was refused (one line "carryall: FILE: cause" per
fault), 2 a usage error.
"""

import argparse
import json
import os
import sys
from pathlib import Path

import needs_pefile

PROGRAM = "carryall"

# Resource types and the stub's own ids.
RT_BITMAP, RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION = 2, 3, 6, 14, 16
IDI_APP, IDB_SPLASH, IDR_BITMAP_BANNER, VERSION_ID = 5, 133, 130, 1
PAYLOAD_TYPE, MANIFEST_ID = "TOOLKIT", 101
DEFAULT_LANGUAGE = 0x0409
PRODUCT_NAME, FREE_MB, REQUIRE_DOTNET = 1, 103, 202
# Strings that the bootstrapper reads as settings, not shown to anyone: one value for
# every language, from the default table.
SETTINGS = (0, 103, 138, 139, 140, 141, 142, 143, 144, 145, 200, 202)
TAG_MARKER = b"MRDC"
TAG_PADDING = 6
SCAN_WINDOW = 4116

# Language tags a publisher is likely to give, and their Windows language ids. Any
# other language is given by its id, --language 0x0427=FILE.
LANGUAGES = {
    "ar-SA": 0x0401, "bg-BG": 0x0402, "ca-ES": 0x0403, "zh-TW": 0x0404, "cs-CZ": 0x0405,
    "da-DK": 0x0406, "de-DE": 0x0407, "el-GR": 0x0408, "en-US": 0x0409, "fi-FI": 0x040B,
    "fr-FR": 0x040C, "he-IL": 0x040D, "hu-HU": 0x040E, "is-IS": 0x040F, "it-IT": 0x0410,
    "ja-JP": 0x0411, "ko-KR": 0x0412, "nl-NL": 0x0413, "nb-NO": 0x0414, "pl-PL": 0x0415,
    "pt-BR": 0x0416, "ro-RO": 0x0418, "ru-RU": 0x0419, "hr-HR": 0x041A, "sk-SK": 0x041B,
    "sq-AL": 0x041C, "sv-SE": 0x041D, "th-TH": 0x041E, "tr-TR": 0x041F, "id-ID": 0x0421,
    "uk-UA": 0x0422, "be-BY": 0x0423, "sl-SI": 0x0424, "et-EE": 0x0425, "lv-LV": 0x0426,
    "lt-LT": 0x0427, "vi-VN": 0x042A, "hi-IN": 0x0439, "ms-MY": 0x043E, "zh-CN": 0x0804,
    "de-CH": 0x0807, "en-GB": 0x0809, "es-MX": 0x080A, "fr-BE": 0x080C, "it-CH": 0x0810,
    "nl-BE": 0x0813, "nn-NO": 0x0814, "pt-PT": 0x0816, "sr-Latn-RS": 0x241A, "sv-FI": 0x081D,
    "zh-HK": 0x0C04, "de-AT": 0x0C07, "en-AU": 0x0C09, "es-ES": 0x0C0A, "fr-CA": 0x0C0C,
    "en-CA": 0x1009, "fr-CH": 0x100C, "en-NZ": 0x1409, "en-IE": 0x1809,
}
TAGS = {language: tag for tag, language in LANGUAGES.items()}


class Refused(Exception):
    """An input that cannot be used; the message is "FILE: cause" (one or more lines)."""


class Usage(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    """Usage errors in one line, exit status 2."""

    def error(self, message):
        raise Usage("%s (see: %s --help)" % (message, self.prog))


def language_id(tag):
    """The language id of a tag ("de-DE", any letter case) or of "0x0407"."""
    if tag.lower().startswith("0x"):
        try:
            value = int(tag, 16)
        except ValueError:
            value = -1
        if not 0 < value <= 0xFFFF or value & 0x3FF == 0:
            raise Usage("--language %s: not a language id (0x0001 to 0xFFFF, with a primary language)" % tag)
        return value
    for known, value in LANGUAGES.items():
        if known.lower() == tag.lower():
            return value
    raise Usage("--language %s: unknown language tag; give its Windows language id instead, as 0x0407=FILE" % tag)


def language_name(language):
    return "%s (0x%04X)" % (TAGS.get(language, "language"), language)


# --- pack ----------------------------------------------------------------------------------

def _read_stub(path):
    """{(type, name, language): bytes} of the stub's resources, checked to be a stub's."""
    import pe_image
    import pe_resources
    import pefile
    try:
        with pe_image.mapped(path) as data:
            layout = pe_image.parse(data)
            if layout.signed:
                raise Refused("%s: the stub is signed; pack the unsigned stub, then sign the result" % path)
            pe = pefile.PE(data=data, fast_load=True)
            found = pe_resources.existing_resources(pe, data)
    except pe_image.PeError as e:
        raise Refused(str(e) if str(e).startswith(str(path)) else "%s: %s" % (path, e))
    except pe_resources.PackError as e:
        raise Refused("%s: not a Carryall stub (%s)" % (path, e))
    resources = {(r.type, r.name, r.language): r.data for r in found}
    needed = [((RT_STRING, None, DEFAULT_LANGUAGE), "no string table in US English"),
              ((RT_BITMAP, IDB_SPLASH, None), "no splash bitmap %d" % IDB_SPLASH),
              ((RT_BITMAP, IDR_BITMAP_BANNER, None), "no banner bitmap %d" % IDR_BITMAP_BANNER),
              ((RT_GROUP_ICON, IDI_APP, None), "no icon %d" % IDI_APP),
              ((RT_VERSION, VERSION_ID, None), "no version resource")]
    for (t, n, lang), what in needed:
        if not any(k[0] == t and n in (None, k[1]) and lang in (None, k[2]) for k in resources):
            raise Refused("%s: not a Carryall stub (%s)" % (path, what))
    if any(k[0] == PAYLOAD_TYPE for k in resources):
        raise Refused("%s: the file already carries a payload; pack the stub itself" % path)
    return resources


def _language_of(resources, type_, name):
    return min((k[2] for k in resources if k[:2] == (type_, name)), default=DEFAULT_LANGUAGE)


def _string_table(resources, path, language=DEFAULT_LANGUAGE):
    import pe_strings
    try:
        return pe_strings.read_blocks({k[1]: v for k, v in resources.items()
                                       if k[0] == RT_STRING and k[2] == language})
    except pe_strings.StringTableError as e:
        raise Refused("%s: its string table cannot be read: %s" % (path, e))


def _read_table(path, allow_removal):
    import gen_strings
    try:
        return gen_strings.read_table(str(path), allow_removal)
    except gen_strings.TableError as e:
        raise Refused(str(e))


def _bitmap(path):
    import gen_images
    try:
        return gen_images.read_bmp(str(path))[14:]  # a BITMAP resource has no file header
    except gen_images.BmpError as e:
        raise Refused(str(e))


def _icon(path):
    import pe_icons
    try:
        data = Path(path).read_bytes()
    except OSError as e:
        raise Refused("%s: cannot read: %s" % (path, e.strerror))
    try:
        return pe_icons.read_ico(data)
    except pe_icons.IconError as e:
        raise Refused("%s: %s" % (path, e))


def _payload(path):
    import gen_payload
    try:
        entries = gen_payload.read_list(str(path))
        gen_payload.check_size(entries)
        return entries, gen_payload.render_manifest(entries)
    except gen_payload.ListError as e:
        raise Refused(str(e))
    except OSError as e:
        raise Refused("%s: cannot read: %s" % (e.filename, e.strerror))


def _version(resources, stub, args, table):
    import pe_version
    key = next(k for k in resources if k[:2] == (RT_VERSION, VERSION_ID))
    try:
        info = pe_version.parse(resources[key])
    except pe_version.VersionError as e:
        raise Refused("%s: its version resource cannot be read: %s" % (stub, e))
    if args.version:
        info.file_version = info.product_version = args.version
        info.strings["FileVersion"] = info.strings["ProductVersion"] = pe_version.version_text(args.version)
    info.strings["ProductName"] = args.product if args.product is not None else table.get(PRODUCT_NAME, "")
    for option, field in (("company", "CompanyName"), ("description", "FileDescription"),
                          ("copyright", "LegalCopyright")):
        if getattr(args, option) is not None:
            info.strings[field] = getattr(args, option)
    ordered = {k: info.strings[k] for k in pe_version.STRING_KEYS if k in info.strings}
    ordered.update(info.strings)
    info.strings = ordered
    return key[2], pe_version.build(info)


def pack(args):
    import pe_icons
    import pe_image
    import pe_resources
    import pe_strings
    stub, out = Path(args.stub), Path(args.output)
    if out.exists() and stub.exists() and os.path.samefile(stub, out):
        raise Refused("%s: this is the stub itself; write the bootstrapper to another file" % out)
    resources = _read_stub(stub)
    entries, manifest = _payload(args.payload)
    table = _string_table(resources, stub)
    for string_id, text, _ in _read_table(args.strings, True) if args.strings else []:
        if text is None:
            table.pop(string_id, None)
        else:
            table[string_id] = text
    if args.no_dotnet:
        table[REQUIRE_DOTNET] = "0"
    tables = {DEFAULT_LANGUAGE: table}
    for language, path in args.languages:
        own = {}
        for string_id, text, where in _read_table(path, False):
            if string_id in SETTINGS:
                raise Refused("%s: id %d is a setting, the same in every language: set it with --strings"
                              % (where, string_id))
            own[string_id] = text
        tables[language] = pe_strings.complete(own, table)

    sources = [e.source for e in entries]
    new = [pe_resources.bytes_resource(PAYLOAD_TYPE, MANIFEST_ID, manifest)]
    new += [pe_resources.file_resource(PAYLOAD_TYPE, e.id, e.source) for e in entries]
    replaced = {PAYLOAD_TYPE, RT_STRING, (RT_VERSION, VERSION_ID)}
    for language, strings in tables.items():
        try:
            blocks = pe_strings.blocks(strings)
        except pe_strings.StringTableError as e:
            raise Refused("%s: %s" % (args.strings if language == DEFAULT_LANGUAGE else
                                      dict(args.languages)[language], e))
        new += [pe_resources.bytes_resource(RT_STRING, block, data, language) for block, data in blocks.items()]
    for picture, bitmap_id in ((args.splash, IDB_SPLASH), (args.banner, IDR_BITMAP_BANNER)):
        if picture:
            new.append(pe_resources.bytes_resource(RT_BITMAP, bitmap_id, _bitmap(picture),
                                                   _language_of(resources, RT_BITMAP, bitmap_id)))
            replaced.add((RT_BITMAP, bitmap_id))
    if args.icon:
        language = _language_of(resources, RT_GROUP_ICON, IDI_APP)
        icons, group = pe_icons.resources(_icon(args.icon))
        new += [pe_resources.bytes_resource(RT_ICON, i, data, language) for i, data in icons.items()]
        new.append(pe_resources.bytes_resource(RT_GROUP_ICON, IDI_APP, group, language))
        replaced |= {RT_ICON, (RT_GROUP_ICON, IDI_APP)}
    language, version = _version(resources, stub, args, table)
    new.append(pe_resources.bytes_resource(RT_VERSION, VERSION_ID, version, language))

    def replace(type_, name, _language):
        return type_ in replaced or (type_, name) in replaced

    try:
        pe_resources.pack(str(stub), str(out), new, replace, checksum=False)
    except pe_resources.PackError as e:
        if any(str(e).startswith(source) for source in sources):  # names its payload file
            raise Refused(str(e))
        raise Refused("%s: %s" % (out if "would take" in str(e) else stub, e))
    except pe_image.PeError as e:
        raise Refused(str(e))
    return 0


# --- show ----------------------------------------------------------------------------------

def tag_report(path, data, layout, blob_end):
    """What the bootstrapper finds at the end of the file: the tag's text, whether it is
    found and where it lies, and warnings for information blocks elsewhere after the
    image (appended before the file was signed, or dropped into the certificate table
    too far from the end)."""
    size = len(data)
    window = max(0, size - SCAN_WINDOW)
    at = data.rfind(TAG_MARKER, window) if size else -1
    report = {"text": None, "found": False, "place": None, "warnings": []}
    if at >= 0:
        info = bytes(data[at + len(TAG_MARKER):max(at + len(TAG_MARKER), size - TAG_PADDING)])
        text = info.split(b"\0")[0]
        report["text"] = text.decode("cp1252", errors="replace")
        report["found"] = bool(text)
        if not layout.signed:
            report["place"] = "after the image of an unsigned file"
            report["warnings"].append("the file is unsigned: a signature made now hides the tag (sign first, tag last)")
        elif layout.cert_offset + layout.cert_size == size and at >= blob_end:
            report["place"] = "in the certificate table, after the signature"
        elif at < layout.cert_offset:
            report["place"] = "inside the signed image, before the certificate table"
            report["warnings"].append("the tag was added before the file was signed: the bootstrapper hands the "
                                      "signature's bytes on with it (sign first, tag last)")
        else:
            report["place"] = "inside the signature"
    # Inside the image's sections "MRDC" is the program's own (the bootstrapper's code
    # holds the marker) or a payload file's; an information block lies after the image.
    for other in _markers(path, layout.image_end):
        if other != at:
            report["warnings"].append("an information block (\"MRDC\") at offset %d lies where the bootstrapper "
                                      "does not look: only the last %d bytes are scanned" % (other, SCAN_WINDOW))
    return report


def _markers(path, start=0, chunk=1 << 20):
    """The offsets of every TAG_MARKER in the file at path from start on, read a chunk at
    a time (no map: the pages of a large file would count as the program's memory)."""
    found = []
    carry = b""  # the last bytes of the chunk before: fewer than a marker's
    at = start
    with open(path, "rb") as f:
        f.seek(start)
        while True:
            piece = f.read(chunk)
            if not piece:
                return found
            text = carry + piece
            hit = text.find(TAG_MARKER)
            while hit >= 0:
                found.append(at - len(carry) + hit)
                hit = text.find(TAG_MARKER, hit + 1)
            carry = text[-(len(TAG_MARKER) - 1):]
            at += len(piece)


def describe(path):
    import pe_image
    import pe_resources
    import pe_signature
    import pe_strings
    import pe_version
    import pefile
    path = Path(path)
    result = {"file": str(path)}
    try:
        with pe_image.mapped(path) as data:
            layout = pe_image.parse(data)
            try:
                pe = pefile.PE(data=data, fast_load=True)
                # The payload files stay on disk: only the manifest is read.
                found = pe_resources.existing_resources(
                    pe, data, lambda t, n, _: t == PAYLOAD_TYPE and n != MANIFEST_ID)
            except Exception:  # resources that pefile cannot walk: shown as none
                found = []
            resources = {(r.type, r.name, r.language): r.data for r in found}
            blob_end = 0
            if layout.signed:
                try:
                    blob_end = pe_image.signature_blob_end(data, layout)
                    der = bytes(data[layout.cert_offset + pe_image.WIN_CERTIFICATE_HEADER:blob_end])
                    result["signature"] = pe_signature.describe(der)
                except (pe_image.PeError, pe_signature.SignatureError) as e:
                    raise Refused("%s: %s" % (path, e))
            else:
                result["signature"] = None
            result["tag"] = tag_report(path, data, layout, blob_end)
    except pe_image.PeError as e:
        raise Refused(str(e) if str(e).startswith(str(path)) else "%s: %s" % (path, e))

    version = [v for k, v in sorted(resources.items(), key=str) if k[:2] == (RT_VERSION, VERSION_ID)]
    result["version"] = None
    if version:
        try:
            info = pe_version.parse(version[0])
            result["version"] = {"file_version": pe_version.version_text(info.file_version),
                                 "product_version": pe_version.version_text(info.product_version),
                                 "strings": info.strings}
        except pe_version.VersionError as e:
            raise Refused("%s: its version resource cannot be read: %s" % (path, e))
    languages = sorted({k[2] for k in resources if k[0] == RT_STRING})
    result["languages"] = [{"tag": TAGS.get(lang), "id": "0x%04X" % lang} for lang in languages]
    default = DEFAULT_LANGUAGE if DEFAULT_LANGUAGE in languages else (languages or [None])[0]
    try:
        table = pe_strings.read_blocks({k[1]: v for k, v in resources.items()
                                        if k[0] == RT_STRING and k[2] == default})
    except pe_strings.StringTableError as e:
        raise Refused("%s: its string table cannot be read: %s" % (path, e))
    result["settings"] = {"product_name": table.get(PRODUCT_NAME),
                          "dotnet_required": table.get(REQUIRE_DOTNET, "").strip() != "0",
                          "free_megabytes": table.get(FREE_MB)}
    manifest = [v for k, v in resources.items() if k[:2] == (PAYLOAD_TYPE, MANIFEST_ID)]
    result["payload"] = None
    if manifest:
        fields = manifest[0].decode("cp1252", errors="replace").split("*")
        result["payload"] = [{"id": int(fields[i]) if fields[i].isdigit() else fields[i], "name": fields[i + 1],
                              "size": int(fields[i + 2]) if fields[i + 2].isdigit() else fields[i + 2]}
                             for i in range(0, len(fields) - 2, 3)]
    return result


def _signature_lines(signature, indent):
    pad = " " * indent
    lines = [pad + "Signer: %s" % (signature["signer"] or "(certificate not carried)"),
             pad + "Issuer: %s" % signature["issuer"],
             pad + "Serial number: %s" % signature["serial"],
             pad + "Digest: %s" % signature["digest"]]
    if signature["program_name"] is None:
        lines.append(pad + "Program name: none")
    else:
        lines.append(pad + "Program name: %s (%s)" % (signature["program_name"], signature["program_name_form"]))
    lines.append(pad + "Link: %s" % ("none" if signature["link"] is None
                                     else "%s (%s)" % (signature["link"], signature["link_form"])))
    for stamp in signature["timestamps"] or [None]:
        lines.append(pad + ("Timestamp: none" if stamp is None else
                            "Timestamp: %s by %s (%s)" % (stamp["time"], stamp["authority"], stamp["kind"])))
    for number, nested in enumerate(signature["nested"], start=1):
        lines.append(pad + "Nested signature %d:" % number)
        lines += _signature_lines(nested, indent + 2)
    return lines


def show_text(result):
    lines = ["File: %s" % result["file"]]
    version = result["version"]
    if version:
        lines.append("Version: file %s, product %s" % (version["file_version"], version["product_version"]))
        lines += ["  %s: %s" % item for item in version["strings"].items()]
    else:
        lines.append("Version: none")
    settings = result["settings"]
    lines.append("Product name (string 1): %s" % settings["product_name"])
    lines.append(".NET Framework required (string 202): %s" % ("yes" if settings["dotnet_required"] else "no"))
    lines.append("Free megabytes needed (string 103): %s" % settings["free_megabytes"])
    lines.append("Languages: %s" % (", ".join("%s %s" % (lang["tag"] or "language", lang["id"])
                                              for lang in result["languages"]) or "none"))
    if result["payload"] is None:
        lines.append("Payload: none")
    else:
        lines.append("Payload: %d file%s" % (len(result["payload"]), "" if len(result["payload"]) == 1 else "s"))
        lines += ["  %s  %s  %s bytes" % (f["id"], f["name"], f["size"]) for f in result["payload"]]
    if result["signature"] is None:
        lines.append("Signature: unsigned")
    else:
        lines.append("Signature:")
        lines += _signature_lines(result["signature"], 2)
    tag = result["tag"]
    if tag["text"] is None:
        lines.append("Tag: none")
    else:
        lines.append("Tag: %s" % tag["text"])
        lines.append("  %s, %s" % ("found by the bootstrapper" if tag["found"] else "NOT found by the bootstrapper",
                                   tag["place"]))
    lines += ["Warning: %s" % w for w in tag["warnings"]]
    return "\n".join(lines) + "\n"


def show(args):
    result = describe(args.file)
    if args.json:
        sys.stdout.write(json.dumps(result, indent=2, ensure_ascii=False) + "\n")
    else:
        sys.stdout.write(show_text(result))
    return 0


# --- the command ---------------------------------------------------------------------------

def _parser():
    parser = _Parser(prog="carryall.py", description="Make and inspect Carryall bootstrappers.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    p = commands.add_parser("pack", help="write a bootstrapper: the stub with your payload and branding",
                            description="Write an unsigned bootstrapper: the stub with the payload, strings, "
                                        "pictures, icon and version given.")
    p.add_argument("--stub", required=True, metavar="STUB", help="carryall-stub.exe")
    p.add_argument("--payload", required=True, metavar="LIST", help="the payload list (id, name, source per line)")
    p.add_argument("-o", "--output", required=True, metavar="OUT", help="the bootstrapper to write")
    p.add_argument("--strings", metavar="FILE", help="string-table overrides (an id alone removes it)")
    p.add_argument("--language", action="append", default=[], metavar="TAG=FILE",
                   help="a string table in another language (de-DE=strings.de.txt or 0x0407=FILE); repeatable")
    p.add_argument("--splash", metavar="BMP", help="the splash picture (bitmap 133)")
    p.add_argument("--banner", metavar="BMP", help="the report dialog's banner (bitmap 130)")
    p.add_argument("--icon", metavar="ICO", help="the program's icon, every image of the .ico")
    p.add_argument("--version", metavar="A.B.C.D", help="file and product version")
    p.add_argument("--company", metavar="TEXT", help="CompanyName")
    p.add_argument("--product", metavar="TEXT", help="ProductName (default: string 1)")
    p.add_argument("--description", metavar="TEXT", help="FileDescription")
    p.add_argument("--copyright", metavar="TEXT", help="LegalCopyright")
    p.add_argument("--no-dotnet", action="store_true", help="the wizard needs no .NET Framework (string 202 = 0)")
    s = commands.add_parser("show", help="print what a bootstrapper carries",
                            description="Print a bootstrapper's version, settings, languages, payload, "
                                        "signature and tag.")
    s.add_argument("file", metavar="FILE")
    s.add_argument("--json", action="store_true", help="one JSON object")
    commands.add_parser("sign", help="sign a bootstrapper (sign --help)", add_help=False)
    commands.add_parser("tag", help="add the information block to a signed bootstrapper (tag --help)",
                        add_help=False)
    return parser


def _pack_arguments(args):
    import pe_version
    if args.version is not None:
        try:
            args.version = pe_version.parse_version(args.version)
        except pe_version.VersionError as e:
            raise Usage("--version: %s" % e)
    languages = []
    for given in args.language:
        tag, equals, path = given.partition("=")
        if not equals or not tag or not path:
            raise Usage("--language %s: expected TAG=FILE" % given)
        language = language_id(tag)
        if language == DEFAULT_LANGUAGE:
            raise Usage("--language %s: US English is the default table; give its texts with --strings" % given)
        if language in [lang for lang, _ in languages]:
            raise Usage("--language %s: %s is given twice" % (given, language_name(language)))
        languages.append((language, path))
    args.languages = languages


def main(argv):
    argv = list(argv)
    if argv and argv[0] in ("sign", "tag"):
        problem = needs_pefile.missing(PROGRAM)
        if problem:
            print(problem, file=sys.stderr)
            return 1
        tool = __import__("sign_exe" if argv[0] == "sign" else "tag_exe")
        try:
            return tool.main(argv[1:], prog="carryall.py " + argv[0])
        except SystemExit as e:
            return e.code if isinstance(e.code, int) else 2
    try:
        parser = _parser()
        try:
            args = parser.parse_args(argv)
        except SystemExit as e:  # --help
            return e.code if isinstance(e.code, int) else 0
        if args.command is None:
            raise Usage("give a command: pack, show, sign or tag (see: carryall.py --help)")
        if args.command == "pack":
            _pack_arguments(args)
        problem = needs_pefile.missing(PROGRAM)
        if problem:
            print(problem, file=sys.stderr)
            return 1
        return pack(args) if args.command == "pack" else show(args)
    except Usage as e:
        print("%s: error: %s" % (PROGRAM, e), file=sys.stderr)
        return 2
    except Refused as e:
        for line in str(e).splitlines():
            print("%s: %s" % (PROGRAM, line), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
