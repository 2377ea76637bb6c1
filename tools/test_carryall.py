"""Tests of carryall.py: pack, show and the sign/tag commands it hands on.

The stub is made here without the cross compiler: a small PE image with an empty
resource section, given the resources of a stub (string table, pictures, icon, version,
manifest) by pe_resources.pack. The real stub is proved under Wine by the build's tests."""

import json
import os
import shutil
import struct
import subprocess
import sys
import unittest

import pefile

import gen_images
import gen_strings
import pe_icons
import pe_resources
import pe_signature
import pe_strings
import pe_version
from pe_testing import HERE, SigningCase, run_tool
from sign_exe import der, integer, octets, oid, seq, set_of

CC = shutil.which("i686-w64-mingw32-gcc")
WINDRES = shutil.which("i686-w64-mingw32-windres")
STUB_STRINGS = os.path.join(HERE, "..", "resources", "strings.txt")
STUB_VERSION = {"CompanyName": "The Carryall Authors", "FileDescription": "Carryall bootstrapper",
                "FileVersion": "1.8.2.724", "InternalName": "CarryallInstaller",
                "LegalCopyright": "Copyright (C) The Carryall Authors",
                "OriginalFilename": "CarryallInstaller.exe", "ProductName": "SQL Carryall",
                "ProductVersion": "1.8.2.724"}


def empty_image():
    """A PE32 image with a code section and an empty resource section."""
    coff = struct.pack("<HHIIIHH", 0x14C, 2, 0, 0, 0, 224, 0x0102)
    optional = struct.pack("<HBBIIIIIII", 0x10B, 2, 0, 0x200, 0x200, 0, 0x1000, 0x1000, 0, 0x400000)
    optional += struct.pack("<IIHHHHHHIIIIHH", 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0, 0x3000, 0x200, 0, 2, 0x8140)
    optional += struct.pack("<IIIIII", 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"".join(struct.pack("<II", *((0x2000, 16) if i == 2 else (0, 0))) for i in range(16))
    sections = struct.pack("<8sIIIIIIHHI", b".text", 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
    sections += struct.pack("<8sIIIIIIHHI", b".rsrc", 16, 0x2000, 0x200, 0x400, 0, 0, 0, 0, 0x40000040)
    headers = b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40) + b"PE\0\0" + coff + optional + sections
    return headers.ljust(0x200, b"\0") + b"\xc3".ljust(0x200, b"\0") + b"\0" * 0x200


def bmp(width, height, shade):
    row = bytes([shade, 255 - shade, 7]) * width
    row += b"\0" * (-len(row) % 4)
    pixels = row * height
    return (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0) + pixels)


def ico(sizes):
    return gen_images.ico_bytes([gen_images.Canvas(n, n, (0.2, 0.4, 0.6, 1.0)) for n in sizes])


def resources(path):
    """{(type, name, language): bytes} of the image at path, read by pefile."""
    pe = pefile.PE(path, fast_load=True)
    return {(r.type, r.name, r.language): r.data
            for r in pe_resources.existing_resources(pe, pe.__data__)}


def strings_of(found, language):
    return pe_strings.read_blocks({k[1]: v for k, v in found.items() if k[0] == 6 and k[2] == language})


def carryall(*args):
    result = run_tool("carryall.py", *args)
    return result.returncode, result.stdout.decode(), result.stderr.decode()


class CarryallCase(SigningCase):
    def make_stub(self, name="stub.exe", leave_out=(), extra=()):
        """A stub: the shipped strings, pictures 133 and 130, icon 5, version 1, a
        manifest; leave_out names (type, id) pairs to omit."""
        table = gen_strings.merge(gen_strings.read_table(STUB_STRINGS, False), [])
        stub = [pe_resources.bytes_resource(6, block, data, 0x409) for block, data in pe_strings.blocks(table).items()]
        stub += [pe_resources.bytes_resource(2, 133, bmp(4, 3, 10)[14:], 0x409),
                 pe_resources.bytes_resource(2, 130, bmp(5, 2, 20)[14:], 0x409),
                 pe_resources.bytes_resource(3, 1, b"old icon", 0x409),
                 pe_resources.bytes_resource(14, 5, struct.pack("<HHHBBBBHHIH", 0, 1, 1, 1, 1, 0, 0, 1, 32, 8, 1), 0x409),
                 pe_resources.bytes_resource(16, 1, pe_version.build(pe_version.VersionInfo(
                     (1, 8, 2, 724), (1, 8, 2, 724), STUB_VERSION)), 0x409),
                 pe_resources.bytes_resource(24, 1, b"<assembly/>", 0x409)]
        stub = [r for r in stub if (r.type, r.name) not in leave_out and (r.type, None) not in leave_out]
        self.write("image.exe", empty_image())
        pe_resources.pack(self.path("image.exe"), self.path(name), stub + list(extra), lambda *_: False)
        return self.path(name)

    def inputs(self):
        self.write("a.bin", b"MRDC<x/>" + bytes(range(256)) * 20)
        self.write("b.msi", b"")
        self.write("list.txt", b"102\tsetup.exe\ta.bin\n103\tsub\\b.msi\tb.msi\n")
        self.write("strings.txt", "1\tAcme Tool\n137\n202\t1\n999\tneu\n".encode())
        self.write("de.txt", "1\tAcme Werkzeug\n111\tEine Datei ist besch\u00e4digt.\n".encode())
        self.write("ja.txt", "111\t\u30d5\u30a1\u30a4\u30eb\n".encode())
        self.write("splash.bmp", bmp(7, 5, 100))
        self.write("banner.bmp", bmp(9, 2, 200))
        self.write("app.ico", ico([16, 32, 48]))


class Pack(CarryallCase):
    def test_pack_puts_every_given_resource_into_the_stub_and_keeps_the_others(self):
        stub = self.make_stub()
        self.inputs()
        code, out, err = carryall("pack", "--stub", stub, "--payload", self.path("list.txt"), "-o", self.path("out.exe"),
                                  "--strings", self.path("strings.txt"), "--language", "de-DE=" + self.path("de.txt"),
                                  "--language", "0x0411=" + self.path("ja.txt"), "--splash", self.path("splash.bmp"),
                                  "--banner", self.path("banner.bmp"), "--icon", self.path("app.ico"),
                                  "--version", "2.5.0.65535", "--company", "Acme", "--description", "Acme setup",
                                  "--copyright", "(C) Acme", "--no-dotnet")
        self.assertEqual((0, "", ""), (code, out, err))
        found = resources(self.path("out.exe"))
        self.assertEqual(b"102*setup.exe*5128*103*sub\\b.msi*0", found[("TOOLKIT", 101, 0)])
        self.assertEqual((self.read("a.bin"), b""), (found[("TOOLKIT", 102, 0)], found[("TOOLKIT", 103, 0)]))

        shipped = gen_strings.merge(gen_strings.read_table(STUB_STRINGS, False), [])
        english = strings_of(found, 0x409)
        expected = dict(shipped)
        expected.update({1: "Acme Tool", 202: "0", 999: "neu"})
        del expected[137]
        self.assertEqual(expected, english)
        # Every other language holds every string of the default table, its own over them.
        self.assertEqual({**expected, 1: "Acme Werkzeug", 111: "Eine Datei ist besch\u00e4digt."},
                         strings_of(found, 0x407))
        self.assertEqual({**expected, 111: "\u30d5\u30a1\u30a4\u30eb"}, strings_of(found, 0x411))
        self.assertEqual({0x407, 0x409, 0x411}, {k[2] for k in found if k[0] == 6})

        self.assertEqual((self.read("splash.bmp")[14:], self.read("banner.bmp")[14:]),
                         (found[(2, 133, 0x409)], found[(2, 130, 0x409)]))
        icons = sorted((k[1], v) for k, v in found.items() if k[0] == 3)
        group = found[(14, 5, 0x409)]
        self.assertEqual(([1, 2, 3], 3), ([i for i, _ in icons], struct.unpack_from("<H", group, 4)[0]))
        for index, (icon_id, data) in enumerate(icons):
            width, _, _, _, _, bits, size, listed = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
            self.assertEqual(([16, 32, 48][index], 32, len(data), icon_id), (width, bits, size, listed))
        self.assertEqual(b"<assembly/>", found[(24, 1, 0x409)])

        # pefile's own reading of the version resource.
        pe = pefile.PE(self.path("out.exe"))
        fixed = pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((0x20005, 0xFFFF, 0x20005, 0xFFFF),
                         (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS))
        table = pe.FileInfo[0][0].StringTable[0]
        self.assertEqual((b"040904b0", {b"CompanyName": b"Acme", b"FileDescription": b"Acme setup",
                                        b"FileVersion": b"2.5.0.65535", b"InternalName": b"CarryallInstaller",
                                        b"LegalCopyright": b"(C) Acme", b"OriginalFilename": b"CarryallInstaller.exe",
                                        b"ProductName": b"Acme Tool", b"ProductVersion": b"2.5.0.65535"}),
                         (table.LangID, table.entries))
        self.assertEqual([{b"Translation": "0x0409 0x04b0"}], [v.entry for v in pe.FileInfo[0][1].Var])
        # Left for the signer: summing a gigabyte in Python would cost three times its copy.
        self.assertEqual(0, pe.OPTIONAL_HEADER.CheckSum)

    def test_what_is_not_given_keeps_the_stubs_and_the_product_name_follows_string_1(self):
        stub = self.make_stub()
        self.inputs()
        self.write("name.txt", "1\tGadget\n".encode())
        cases = [([], "SQL Carryall"), (["--strings", self.path("name.txt")], "Gadget"),
                 (["--strings", self.path("name.txt"), "--product=-Other-"], "-Other-")]
        for extra, product in cases:
            with self.subTest(extra):
                code, _, err = carryall("pack", "--stub", stub, "--payload", self.path("list.txt"),
                                        "-o", self.path("out.exe"), *extra)
                self.assertEqual((0, ""), (code, err))
                found = resources(self.path("out.exe"))
                info = pe_version.parse(found[(16, 1, 0x409)])
                self.assertEqual(dict(STUB_VERSION, ProductName=product), info.strings)
                self.assertEqual(((1, 8, 2, 724), "1"), (info.file_version, strings_of(found, 0x409)[202]))
                for key in ((2, 133, 0x409), (3, 1, 0x409), (14, 5, 0x409)):
                    self.assertEqual(resources(stub)[key], found[key])

    def test_same_inputs_give_the_same_bytes(self):
        stub = self.make_stub()
        self.inputs()
        args = ["--stub", stub, "--payload", self.path("list.txt"), "--icon", self.path("app.ico"),
                "--language", "fr-FR=" + self.path("de.txt"), "--version", "1.2.3.4"]
        os.mkdir(self.path("other"))
        for out in ("one.exe", os.path.join("other", "two.exe")):
            self.assertEqual(0, carryall("pack", *args, "-o", self.path(out))[0])
        self.assertEqual(self.read("one.exe"), self.read(os.path.join("other", "two.exe")))

    def test_refused_inputs_and_usage_errors(self):
        stub = self.make_stub()
        self.inputs()
        no_splash = self.make_stub("nosplash.exe", leave_out=[(2, 133)])
        no_strings = self.make_stub("nostrings.exe", leave_out=[(6, None)])
        packed = self.make_stub("packed.exe", extra=[pe_resources.bytes_resource("TOOLKIT", 101, b"102*a*1")])
        self.sign("stub.exe", "signed.exe")
        self.write("bad.txt", b"1\tbad \\q\n")
        self.write("name.txt", b"1\tName\n202\t0\n")
        self.write("bad.list", b"102\tx*y\ta.bin\n")
        self.write("bad.ico", b"\0\0\1\0\1\0" + b"\0" * 16)
        self.write("short.ico", ico([16])[:-10])
        self.write("jpeg.bmp", bmp(2, 2, 0)[:30] + struct.pack("<I", 4) + bmp(2, 2, 0)[34:])
        p = self.path
        base = ["--stub", stub, "--payload", p("list.txt"), "-o", p("out.exe")]
        cases = [
            # (arguments, exit status, the message after "carryall: ")
            (["pack", "--stub", p("list.txt"), "--payload", p("list.txt"), "-o", p("out.exe")], 1,
             "%s: not a PE file (no MZ header)" % p("list.txt")),
            (["pack", "--stub", p("missing.exe"), "--payload", p("list.txt"), "-o", p("out.exe")], 1,
             "%s: cannot read: No such file or directory" % p("missing.exe")),
            (["pack", "--stub", p("signed.exe"), "--payload", p("list.txt"), "-o", p("out.exe")], 1,
             "%s: the stub is signed; pack the unsigned stub, then sign the result" % p("signed.exe")),
            (["pack", "--stub", no_splash, "--payload", p("list.txt"), "-o", p("out.exe")], 1,
             "%s: not a Carryall stub (no splash bitmap 133)" % no_splash),
            (["pack", "--stub", no_strings, "--payload", p("list.txt"), "-o", p("out.exe")], 1,
             "%s: not a Carryall stub (no string table in US English)" % no_strings),
            (["pack", "--stub", packed, "--payload", p("list.txt"), "-o", p("out.exe")], 1,
             "%s: the file already carries a payload; pack the stub itself" % packed),
            (["pack", "--stub", stub, "--payload", p("list.txt"), "-o", stub], 1,
             "%s: this is the stub itself; write the bootstrapper to another file" % stub),
            (["pack", "--stub", stub, "--payload", p("bad.list"), "-o", p("out.exe")], 1,
             "%s:1: file name 'x*y' contains '*', which separates the manifest's fields" % p("bad.list")),
            (["pack", "--stub", stub, "--payload", p("none.txt"), "-o", p("out.exe")], 1,
             "%s: cannot read: No such file or directory" % p("none.txt")),
            (["pack", *base, "--strings", p("none.txt")], 1, "%s: cannot read: No such file or directory" % p("none.txt")),
            (["pack", *base, "--strings", p("bad.txt")], 1,
             "%s:1: unknown escape \\q (only \\n, \\t and \\\\ are understood)" % p("bad.txt")),
            (["pack", *base, "--language", "de-DE=" + p("bad.txt")], 1,
             "%s:1: unknown escape \\q (only \\n, \\t and \\\\ are understood)" % p("bad.txt")),
            (["pack", *base, "--language", "de-DE=" + p("strings.txt")], 1,
             "%s:2: id 137 has no tab and no text" % p("strings.txt")),
            (["pack", *base, "--language", "de-DE=" + p("name.txt")], 1,
             "%s:2: id 202 is a setting, the same in every language: set it with --strings" % p("name.txt")),
            (["pack", *base, "--splash", p("app.ico")], 1,
             "%s: not a BMP file (it does not start with 'BM' and a bitmap header)" % p("app.ico")),
            (["pack", *base, "--banner", p("jpeg.bmp")], 1,
             "%s: compression JPEG at 24 bits per pixel is not supported" % p("jpeg.bmp")),
            (["pack", *base, "--icon", p("bad.ico")], 1,
             "%s: image 1 of 1: its 0 bytes at offset 0 lie outside the file of 22 bytes" % p("bad.ico")),
            (["pack", *base, "--icon", p("short.ico")], 1,
             "%s: image 1 of 1: its 1128 bytes at offset 22 lie outside the file of 1140 bytes" % p("short.ico")),
            (["pack", *base, "--icon", p("splash.bmp")], 1,
             "%s: not an icon file (header reserved 19778, type 174; an .ico has 0 and 1)" % p("splash.bmp")),
            (["pack", *base, "--icon", p("none.ico")], 1, "%s: cannot read: No such file or directory" % p("none.ico")),
            (["pack", *base, "--version", "1.2.3"], 2,
             "error: --version: version '1.2.3' is not four numbers from 0 to 65535, A.B.C.D"),
            (["pack", *base, "--version", "1.2.3.65536"], 2,
             "error: --version: version '1.2.3.65536' is not four numbers from 0 to 65535, A.B.C.D"),
            (["pack", *base, "--language", "xx-YY=" + p("de.txt")], 2,
             "error: --language xx-YY: unknown language tag; give its Windows language id instead, as 0x0407=FILE"),
            (["pack", *base, "--language", "0x0400=" + p("de.txt")], 2,
             "error: --language 0x0400: not a language id (0x0001 to 0xFFFF, with a primary language)"),
            (["pack", *base, "--language", "de-DE"], 2, "error: --language de-DE: expected TAG=FILE"),
            (["pack", *base, "--language", "en-us=" + p("de.txt")], 2,
             "error: --language en-us=%s: US English is the default table; give its texts with --strings" % p("de.txt")),
            (["pack", *base, "--language", "de-DE=" + p("de.txt"), "--language", "0x407=" + p("ja.txt")], 2,
             "error: --language 0x407=%s: de-DE (0x0407) is given twice" % p("ja.txt")),
            (["pack", "--payload", p("list.txt"), "-o", p("out.exe")], 2,
             "error: the following arguments are required: --stub (see: carryall.py pack --help)"),
            (["pack", *base, "--colour", "red"], 2, "error: unrecognized arguments: --colour red "
             "(see: carryall.py --help)"),
            ([], 2, "error: give a command: pack, show, sign or tag (see: carryall.py --help)"),
            (["unpack"], 2, "error: argument COMMAND: invalid choice: 'unpack' (choose from 'pack', 'show', 'sign', "
             "'tag') (see: carryall.py --help)"),
            (["show", p("list.txt")], 1, "%s: not a PE file (no MZ header)" % p("list.txt")),
        ]
        for args, status, message in cases:
            with self.subTest(args):
                self.assertEqual((status, "", "carryall: %s\n" % message), carryall(*args))
                self.assertFalse(os.path.exists(p("out.exe")))
                self.assertEqual([], [n for n in os.listdir(self.dir) if n.startswith(".carryall_")])

    def test_help_of_every_command_including_the_tools_handed_on(self):
        for command, key in (("pack", "--no-dotnet"), ("show", "--json"), ("sign", "--cert"), ("tag", "--info-file")):
            with self.subTest(command):
                code, out, err = carryall(command, "--help")
                self.assertEqual((0, ""), (code, err))
                self.assertIn(key, out)

    def test_without_pefile_one_line_says_how_to_install_it(self):
        script = ("import sys; sys.modules['pefile'] = None; sys.path.insert(0, %r); import carryall; "
                  "sys.exit(carryall.main(sys.argv[1:]))" % HERE)
        for command in (["show", "x.exe"], ["tag", "a", "b", "--info", "x"], ["sign", "--help"]):
            with self.subTest(command):
                result = subprocess.run([sys.executable, "-B", "-c", script] + command, capture_output=True)
                self.assertEqual((1, b"carryall: pefile: the Python module pefile is not installed: install Debian's "
                                     b"python3-pefile (apt install python3-pefile) or run: pip install pefile\n"),
                                 (result.returncode, result.stderr))


@unittest.skipUnless(CC and WINDRES, "the mingw-w64 compiler and windres are not on PATH")
class WindresOracle(CarryallCase):
    def link(self, rc):
        self.write("v.rc", rc.encode())
        self.write("p.c", b"int main(void) { return 0; }\n")
        for command in ([WINDRES, "-O", "coff", "-i", self.path("v.rc"), "-o", self.path("v.o")],
                        [CC, self.path("p.c"), self.path("v.o"), "-o", self.path("p.exe")]):
            self.assertEqual(0, subprocess.run(command, capture_output=True).returncode, command)
        return resources(self.path("p.exe"))

    def test_the_icon_resources_are_byte_for_byte_what_windres_makes(self):
        self.write("app.ico", ico([16, 32, 48]))
        found = self.link('5 ICON "%s"\n' % self.path("app.ico").replace("\\", "/"))
        icons, group = pe_icons.resources(pe_icons.read_ico(self.read("app.ico")))
        self.assertEqual({(3, i, 0x409): data for i, data in icons.items()} | {(14, 5, 0x409): group}, found)

    def test_the_version_resource_is_byte_for_byte_what_windres_makes(self):
        rc = ('#include <windows.h>\n1 VERSIONINFO\n FILEVERSION 2,5,0,65535\n PRODUCTVERSION 2,5,0,65535\n'
              ' FILEFLAGSMASK VS_FFI_FILEFLAGSMASK\n FILEFLAGS 0\n FILEOS VOS_NT_WINDOWS32\n FILETYPE VFT_APP\n'
              ' FILESUBTYPE VFT2_UNKNOWN\nBEGIN\n BLOCK "StringFileInfo"\n BEGIN\n  BLOCK "040904b0"\n  BEGIN\n'
              + "".join('   VALUE "%s", "%s"\n' % item for item in STUB_VERSION.items()).replace('"SQL Carryall"', '"Ab"')
              .replace('"The Carryall Authors"', '""') +
              '  END\n END\n BLOCK "VarFileInfo"\n BEGIN\n  VALUE "Translation", 0x409, 1200\n END\nEND\n')
        windres = self.link(rc)[(16, 1, 0x409)]
        info = pe_version.VersionInfo((2, 5, 0, 65535), (2, 5, 0, 65535),
                                      dict(STUB_VERSION, ProductName="Ab", CompanyName=""))
        self.assertEqual(windres, pe_version.build(info))
        self.assertEqual(info.strings, pe_version.parse(windres).strings)


class Show(CarryallCase):
    def packed(self):
        stub = self.make_stub()
        self.inputs()
        self.assertEqual(0, carryall("pack", "--stub", stub, "--payload", self.path("list.txt"), "-o",
                                     self.path("out.exe"), "--language", "de-DE=" + self.path("de.txt"),
                                     "--no-dotnet", "--version", "3.1.4.1")[0])

    def serial(self):
        result = subprocess.run(["openssl", "x509", "-in", self.cert, "-noout", "-serial"], capture_output=True, text=True)
        return result.stdout.strip().split("=")[1]

    def test_show_of_an_unsigned_bootstrapper(self):
        self.packed()
        code, out, err = carryall("show", self.path("out.exe"))
        self.assertEqual((0, ""), (code, err))
        lines = out.splitlines()
        for line in ("Version: file 3.1.4.1, product 3.1.4.1", "  ProductName: SQL Carryall",
                     ".NET Framework required (string 202): no", "Free megabytes needed (string 103): 500",
                     "Languages: de-DE 0x0407, en-US 0x0409", "Payload: 2 files", "  102  setup.exe  5128 bytes",
                     "  103  sub\\b.msi  0 bytes", "Signature: unsigned", "Tag: none"):
            self.assertIn(line, lines)
        # The payload file's "MRDC" lies inside the image: no information block.
        self.assertEqual([], [w for w in lines if w.startswith("Warning")])

    def test_show_names_the_signer_the_program_name_form_and_where_the_tag_lies(self):
        self.packed()
        self.sign("out.exe", "signed.exe", "--name", "Acme Setup", "--url", "https://example.org/")
        self.assertEqual(0, run_tool("tag_exe.py", self.path("signed.exe"), self.path("tagged.exe"),
                                     "--info", "<info a='1'/>").returncode)
        subprocess.run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-n", "Ascii Name",
                        "-in", self.path("out.exe"), "-out", self.path("ossl.exe")], capture_output=True, check=True)
        self.assertEqual(0, run_tool("tag_exe.py", self.path("out.exe"), self.path("unsigned-tag.exe"),
                                     "--info", "<u/>", "--allow-unsigned").returncode)
        # Tagged, then signed by a tool that keeps the block inside the signed image.
        self.assertEqual(0, run_tool("tag_exe.py", self.path("out.exe"), self.path("long-tag.exe"),
                                     "--info", "<%s/>" % ("x" * 4000), "--allow-unsigned").returncode)
        for tagged, signed in (("unsigned-tag.exe", "lost.exe"), ("long-tag.exe", "far.exe")):
            subprocess.run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-n", "Ascii Name",
                            "-in", self.path(tagged), "-out", self.path(signed)], capture_output=True, check=True)
        far_at = os.path.getsize(self.path("out.exe"))
        cases = [
            # (file, program name, its form, link, tag text, found, place)
            ("tagged.exe", "Acme Setup", "Unicode (BMPString)", "https://example.org/", "<info a='1'/>", True,
             "in the certificate table, after the signature"),
            ("ossl.exe", "Ascii Name", "ASCII (IA5String)", None, None, False, None),
            ("unsigned-tag.exe", None, None, None, "<u/>", True, "after the image of an unsigned file"),
            ("lost.exe", "Ascii Name", "ASCII (IA5String)", None, "<u/>", True,
             "inside the signed image, before the certificate table"),
            ("far.exe", "Ascii Name", "ASCII (IA5String)", None, None, False, None),
        ]
        warnings = {"unsigned-tag.exe": ["the file is unsigned: a signature made now hides the tag (sign first, tag last)"],
                    "lost.exe": ["the tag was added before the file was signed: the bootstrapper hands the "
                                 "signature's bytes on with it (sign first, tag last)"],
                    "far.exe": ["an information block (\"MRDC\") at offset %d lies where the bootstrapper does not "
                                "look: only the last 4116 bytes are scanned" % far_at]}
        for name, program, form, link, text, found, place in cases:
            with self.subTest(name):
                code, out, err = carryall("show", self.path(name), "--json")
                self.assertEqual((0, ""), (code, err))
                shown = json.loads(out)
                signature = shown["signature"]
                if name != "unsigned-tag.exe":
                    self.assertEqual(("CN=Carryall Development", "SHA-256", self.serial().upper()),
                                     (signature["signer"].split(", ")[-1], signature["digest"], signature["serial"]))
                    self.assertEqual((program, form, link, [], []),
                                     (signature["program_name"], signature["program_name_form"], signature["link"],
                                      signature["timestamps"], signature["nested"]))
                    self.assertTrue(signature["issuer"])
                else:
                    self.assertIsNone(signature)
                self.assertEqual((text, found, place, warnings.get(name, [])),
                                 (shown["tag"]["text"], shown["tag"]["found"], shown["tag"]["place"],
                                  shown["tag"]["warnings"]))
                self.assertEqual(["0x0407", "0x0409"], [lang["id"] for lang in shown["languages"]])
                self.assertEqual({"product_name": "SQL Carryall", "dotnet_required": False, "free_megabytes": "500"},
                                 shown["settings"])

    def test_show_of_timestamped_and_nested_signatures(self):
        self.packed()
        result = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.path("tsa.key"),
                                 "-out", self.path("tsa.pem"), "-subj", "/CN=Test TSA", "-days", "10",
                                 "-addext", "extendedKeyUsage=critical,timeStamping"], capture_output=True)
        self.assertEqual(0, result.returncode, result.stderr)
        sign = ["osslsigncode", "sign", "-certs", self.cert, "-key", self.key]
        for command in (sign + ["-TSA-certs", self.path("tsa.pem"), "-TSA-key", self.path("tsa.key"),
                                "-TSA-time", "1700000000", "-in", self.path("out.exe"), "-out", self.path("ts.exe")],
                        sign + ["-nest", "-h", "sha1", "-i", "https://example.org/",
                                "-in", self.path("ts.exe"), "-out", self.path("nested.exe")]):
            result = subprocess.run(command, capture_output=True)
            self.assertEqual(0, result.returncode, result.stderr)
        code, out, err = carryall("show", self.path("nested.exe"))
        self.assertEqual((0, ""), (code, err))
        lines = out.splitlines()
        start = lines.index("Signature:")
        self.assertEqual(["Signature:", "  Signer: CN=Carryall Development", "  Issuer: CN=Carryall Development CA",
                          "  Serial number: %s" % self.serial().upper(), "  Digest: SHA-256", "  Program name: none",
                          "  Link: none", "  Timestamp: 2023-11-14T22:13:20Z by CN=Test TSA (RFC 3161)",
                          "  Nested signature 1:", "    Signer: CN=Carryall Development",
                          "    Issuer: CN=Carryall Development CA", "    Serial number: %s" % self.serial().upper(),
                          "    Digest: SHA-1", "    Program name: none", "    Link: https://example.org/ (URL)",
                          "    Timestamp: none", "Tag: none"], lines[start:start + 17])

    def test_every_marker_is_found_whatever_the_chunks(self):
        import carryall as tool
        self.write("m.bin", b"MRDCxxMRDMRDCyMRDCMRDC" + b"z" * 9 + b"MRDC")
        for start, chunk in ((0, 1), (0, 2), (0, 3), (0, 4), (0, 5), (0, 7), (0, 64), (1, 3), (14, 5)):
            with self.subTest(start=start, chunk=chunk):
                self.assertEqual([at for at in [0, 9, 14, 18, 31] if at >= start],
                                 tool._markers(self.path("m.bin"), start, chunk))

    def test_countersignature_file_link_and_a_signer_whose_certificate_is_not_carried(self):
        # Built here: a PKCS #9 countersignature needs an Authenticode time-stamp server.
        def name(text):
            return seq(set_of(seq(oid("2.5.4.3"), der(0x0C, text.encode()))))

        counter = seq(integer(1), seq(name("Old TSA"), integer(7)), seq(oid("1.3.14.3.2.26")),
                      der(0xA0, seq(oid("1.2.840.113549.1.9.5"), set_of(der(0x17, b"091231235959Z")))),
                      seq(oid("1.2.840.113549.1.1.1")), octets(b"sig"))
        opus = seq(der(0xA0, der(0x81, b"Plain")), der(0xA1, der(0xA2, der(0x80, "C:\\a.txt".encode("utf-16-be")))))
        signer = seq(integer(1), seq(name("Issuer CA"), integer(0x00F1)), seq(oid("2.16.840.1.101.3.4.2.1")),
                     der(0xA0, seq(oid("1.3.6.1.4.1.311.2.1.12"), set_of(opus))), seq(oid("1.2.840.113549.1.1.1")),
                     octets(b"sig"), der(0xA1, seq(oid("1.2.840.113549.1.9.6"), set_of(counter))))
        signed = seq(oid("1.2.840.113549.1.7.2"), der(0xA0, seq(integer(1), set_of(), seq(oid("1.2.840.113549.1.7.1")),
                                                                set_of(signer))))
        self.assertEqual({"signer": "", "issuer": "CN=Issuer CA", "serial": "F1", "digest": "SHA-256",
                          "program_name": "Plain", "program_name_form": "ASCII (IA5String)",
                          "link": "C:\\a.txt", "link_form": "file", "nested": [],
                          "timestamps": [{"kind": "PKCS #9 countersignature", "time": "2009-12-31T23:59:59Z",
                                          "authority": "CN=Old TSA"}]},
                         pe_signature.describe(signed))
        with self.assertRaises(pe_signature.SignatureError):
            pe_signature.describe(signed[:-5])


if __name__ == "__main__":
    unittest.main()
