#!/usr/bin/env python3
"""Tests of gen_payload.py: the manifest bytes, the refusals with their lines, the
dependency file, the refusal of a payload too large for an image, and packing a payload
into a real linked program (tools/pe_resources.py): the same resources as windres and ld
give, a valid image that check_pe.py passes and that signs and verifies (osslsigncode).

    python3 tools/test_gen_payload.py [-v]

Packing is skipped when the mingw-w64 compiler and windres are not on PATH.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import pefile  # Debian's python3-pefile

from pe_resources import MAX_IMAGE_SIZE
from pe_testing import SigningCase, run_tool

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "gen_payload.py")
WINDRES = shutil.which("i686-w64-mingw32-windres")
CC = shutil.which("i686-w64-mingw32-gcc")
MIB = 1 << 20
LIMIT_REASON = ("Windows maps a 32-bit program's image whole, in one piece of its address space between "
                "the program's base and the system DLLs (README, \"Your own payload\")")


def run_generator(*args, cwd=None):
    return subprocess.run([sys.executable, GENERATOR] + list(args), capture_output=True, cwd=cwd)


class Workspace(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="gen_payload_test_")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, content):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content.encode("utf-8") if isinstance(content, str) else content)
        return path

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def generate(self, list_text, *extra, cwd=None):
        self.write("list.txt", list_text)
        result = run_generator("--list", self.path("list.txt"), "--manifest", self.path("out", "manifest.txt"),
                               *extra, cwd=cwd)
        self.assertEqual(0, result.returncode, result.stderr.decode())
        self.assertEqual(b"", result.stderr)
        return self.read(os.path.join("out", "manifest.txt"))


class Manifest(Workspace):
    def test_manifest_bytes(self):
        self.write("src/install.bin", b"\x01" * 1000)
        self.write("src/empty.msi", b"")
        self.write("src/ui.exe", b"MZ" + b"\0" * 98)
        self.write("src/sub/a b.txt", "twelve bytes")
        cases = [
            # (list, manifest)
            ("102\tinstall.bin\tsrc/install.bin\n103\tempty.msi\tsrc/empty.msi\n",
             b"102*install.bin*1000*103*empty.msi*0"),
            # List order, not id order; the same source under two ids.
            ("111\tProjectItems.xml\tsrc/sub/a b.txt\n104\tui.exe\tsrc/ui.exe\n105\tcopy.exe\tsrc/ui.exe\n",
             b"111*ProjectItems.xml*12*104*ui.exe*100*105*copy.exe*100"),
            # The fourth field replaces the size; 0 and the largest 32-bit value are sizes.
            ("102\tinstall.bin\tsrc/install.bin\t64558774\n103\tempty.msi\tsrc/empty.msi\t9728\n"
             "104\tui.exe\tsrc/ui.exe\t0\n105\tbig\tsrc/ui.exe\t4294967295\n",
             b"102*install.bin*64558774*103*empty.msi*9728*104*ui.exe*0*105*big*4294967295"),
            # Spaces, dots and backslashes are part of the name (leading ones too).
            ("102\t sub dir\\my file.exe.config\tsrc/ui.exe\n103\t..up\\.x\tsrc/ui.exe\n",
             b"102* sub dir\\my file.exe.config*100*103*..up\\.x*100"),
            # Names in code page 1252, including its letters above 0x7F.
            ("102\tcaf\u00e9 \u20ac\u2122 \u0152uvre\u00ff.txt\tsrc/ui.exe\n",
             b"102*caf\xe9 \x80\x99 \x8cuvre\xff.txt*100"),
            # Comments, blank lines, a byte-order mark and CR LF line ends.
            ("\ufeff# the demo\r\n\r\n   \n102\tinstall.bin\tsrc/install.bin\r\n#103\tx\tmissing\n65535\tlast\tsrc/empty.msi",
             b"102*install.bin*1000*65535*last*0"),
            # A source path with a space and "..", relative to the list's folder.
            ("102\tx\tsrc/sub/../sub/a b.txt\n", b"102*x*12"),
        ]
        for list_text, manifest in cases:
            with self.subTest(list=list_text):
                self.assertEqual(manifest, self.generate(list_text))

    def test_relative_sources_are_found_beside_the_list_from_any_working_folder(self):
        self.write("src/f.bin", b"abc")
        os.makedirs(self.path("elsewhere", "src"))
        with open(self.path("elsewhere", "src", "f.bin"), "wb") as f:
            f.write(b"wrong size")
        self.assertEqual(b"102*f.bin*3", self.generate("102\tf.bin\tsrc/f.bin\n", cwd=self.path("elsewhere")))

    def test_absolute_source_path(self):
        source = self.write("abs/f.bin", b"12345")
        self.assertEqual(b"102*f*5", self.generate("102\tf\t%s\n" % source))


class Refusals(Workspace):
    def test_each_refusal_names_the_list_and_line_and_writes_nothing(self):
        TRAIL = "whose trailing dots and blanks Windows drops"
        EMPTY = "(a leading, trailing or doubled slash)"
        self.write("ok.bin", b"ok")
        os.makedirs(self.path("folder"))
        fields = "expected id<TAB>file name<TAB>source path[<TAB>manifest size], found "
        cases = [
            # (list, line, message)
            ("102\ta\tok.bin\n103\tb\tok.bin\n102\tc\tok.bin\n", 3, "id 102 is already given on line 1"),
            ("102\ta\tok.bin\n103\tb\tmissing.bin\n", 2,
             "source file %s does not exist" % self.path("missing.bin")),
            ("102\ta\tfolder\n", 1, "source %s is not a file" % self.path("folder")),
            ("102\ta*b.txt\tok.bin\n", 1, "file name 'a*b.txt' contains '*', which separates the manifest's fields"),
            ("102\t*\tok.bin\n", 1, "file name '*' contains '*', which separates the manifest's fields"),
            ("102\ta.txt\n", 1, fields + "2 fields"),
            ("102\ta.txt\tok.bin\t3\textra\n", 1, fields + "5 fields"),
            ("102 a.txt ok.bin\n", 1, fields + "1 field"),
            ("102\ta\\b.txt\\ok.bin\n", 1, fields + "2 fields"),
            ("\n# c\n102\ta\tok.bin\n\ta\tok.bin\n", 4, "bad id '' (expected a decimal number)"),
            ("x102\ta\tok.bin\n", 1, "bad id 'x102' (expected a decimal number)"),
            ("-102\ta\tok.bin\n", 1, "bad id '-102' (expected a decimal number)"),
            (" 102\ta\tok.bin\n", 1, "bad id ' 102' (expected a decimal number)"),
            ("\uff11\uff10\uff12\ta\tok.bin\n", 1, "bad id '\uff11\uff10\uff12' (expected a decimal number)"),
            ("101\ta\tok.bin\n", 1, "id 101 is outside 102..65535 (101 is the manifest)"),
            ("0\ta\tok.bin\n", 1, "id 0 is outside 102..65535 (101 is the manifest)"),
            ("65536\ta\tok.bin\n", 1, "id 65536 is outside 102..65535 (101 is the manifest)"),
            ("102\t\tok.bin\n", 1, "empty file name"),
            ("102\ta\t\n", 1, "empty source path"),
            ("102\ta\tok.bin\t\n", 1, "bad manifest size '' (expected a decimal number up to 4294967295)"),
            ("102\ta\tok.bin\t12k\n", 1, "bad manifest size '12k' (expected a decimal number up to 4294967295)"),
            ("102\ta\tok.bin\t-1\n", 1, "bad manifest size '-1' (expected a decimal number up to 4294967295)"),
            ("102\ta\tok.bin\t4294967296\n", 1,
             "bad manifest size '4294967296' (expected a decimal number up to 4294967295)"),
            ("102\ta\tok.bin\n103\t\u65e5\u672c.txt\tok.bin\n", 2,
             "file name '\u65e5\u672c.txt' holds '\u65e5\u672c', which code page 1252 cannot encode"),
            ("102\ta\u2713.txt\tok.bin\n", 1, "file name 'a\u2713.txt' holds '\u2713', which code page 1252 cannot encode"),
            (b"102\ta\tok.bin\n103\t\xff.txt\tok.bin\n", 2, "not valid UTF-8 (byte 5)"),
            # Two names of one file: the later line is refused, naming the earlier one.
            ("102\tSetup.exe\tok.bin\n# c\n103\tsetup.EXE\tok.bin\n", 3,
             "file name 'setup.EXE' becomes the same file as 'Setup.exe' on line 1"),
            ("102\t\u00c9t\u00e9.txt\tok.bin\n103\t\u00e9T\u00c9.TXT\tok.bin\n", 2,
             "file name '\u00e9T\u00c9.TXT' becomes the same file as '\u00c9t\u00e9.txt' on line 1"),
            ("102\tSub\\x.bin\tok.bin\n103\tsub/X.bin\tok.bin\n", 2,
             "file name 'sub/X.bin' becomes the same file as 'Sub\\\\x.bin' on line 1"),
            # Names Windows would change: every run of the bootstrapper would refuse them.
            ("102\ttrail.txt.\tok.bin\n", 1, "file name 'trail.txt.' has the component 'trail.txt.', " + TRAIL),
            ("102\ttrail.txt \tok.bin\n", 1, "file name 'trail.txt ' has the component 'trail.txt ', " + TRAIL),
            ("102\tsub.\\x.txt\tok.bin\n", 1, "file name 'sub.\\\\x.txt' has the component 'sub.', " + TRAIL),
            ("102\tsub /x.txt\tok.bin\n", 1, "file name 'sub /x.txt' has the component 'sub ', " + TRAIL),
            ("102\ta.txt. .\tok.bin\n", 1, "file name 'a.txt. .' has the component 'a.txt. .', " + TRAIL),
            ("102\t.\\a.txt\tok.bin\n", 1, "file name '.\\\\a.txt' has the component '.', " + TRAIL),
            ("102\t..\\a.txt\tok.bin\n", 1, "file name '..\\\\a.txt' has the component '..', " + TRAIL),
            ("102\t\\a.txt\tok.bin\n", 1, "file name '\\\\a.txt' has an empty component " + EMPTY),
            ("102\tsub//a.txt\tok.bin\n", 1, "file name 'sub//a.txt' has an empty component " + EMPTY),
            ("102\tsub\\\tok.bin\n", 1, "file name 'sub\\\\' has an empty component " + EMPTY),
            ("102\ta:b.txt\tok.bin\n", 1, "file name 'a:b.txt' holds ':', which no Windows file name may hold"),
            ("102\ta?.txt\tok.bin\n", 1, "file name 'a?.txt' holds '?', which no Windows file name may hold"),
            ("102\ta\x01.txt\tok.bin\n", 1, "file name 'a\\x01.txt' holds '\\x01', which no Windows file name may hold"),
        ]
        for list_text, line, message in cases:
            with self.subTest(list=list_text):
                list_path = self.write("list.txt", list_text)
                result = run_generator("--list", list_path, "--manifest", self.path("m.txt"),
                                       "--depfile", self.path("p.d"))
                self.assertEqual(1, result.returncode)
                self.assertEqual("gen_payload.py: error: %s:%d: %s\n" % (list_path, line, message),
                                 result.stderr.decode())
                for name in ("m.txt", "p.d"):
                    self.assertFalse(os.path.exists(self.path(name)), name)

    def test_every_bad_line_is_reported(self):
        self.write("ok.bin", b"ok")
        list_path = self.write("list.txt", "102\ta\tok.bin\n101\tb\tok.bin\n103\tc\tok.bin\n103\td*\tnone\n")
        result = run_generator("--list", list_path, "--check")
        self.assertEqual(1, result.returncode)
        self.assertEqual(
            "gen_payload.py: error: %s:2: id 101 is outside 102..65535 (101 is the manifest)\n"
            "gen_payload.py: error: %s:4: id 103 is already given on line 3\n" % (list_path, list_path),
            result.stderr.decode())
        self.assertEqual(b"", result.stdout)

    def test_every_name_of_one_file_after_the_first_is_reported(self):
        self.write("ok.bin", b"ok")
        list_path = self.write("list.txt", "102\ta.txt\tok.bin\n103\tA.txt\tok.bin\n104\tb.txt\tok.bin\n"
                                           "105\ta.TXT\tok.bin\n")
        result = run_generator("--list", list_path, "--check")
        self.assertEqual(1, result.returncode)
        self.assertEqual(
            "gen_payload.py: error: %s:2: file name 'A.txt' becomes the same file as 'a.txt' on line 1\n"
            "gen_payload.py: error: %s:4: file name 'a.TXT' becomes the same file as 'a.txt' on line 1\n"
            % (list_path, list_path), result.stderr.decode())

    def test_names_of_different_files_are_kept_apart(self):
        self.write("ok.bin", b"ok")
        list_text = ("102\ta.txt\tok.bin\n103\ta.txt.bak\tok.bin\n104\t.a.txt\tok.bin\n105\tsub\\a.txt\tok.bin\n"
                     "106\tstra\u00dfe\tok.bin\n107\tstrasse\tok.bin\n108\ta txt\tok.bin\n")
        self.assertEqual(b"102*a.txt*2*103*a.txt.bak*2*104*.a.txt*2*105*sub\\a.txt*2*106*stra\xdfe*2*107*strasse*2"
                         b"*108*a txt*2", self.generate(list_text))

    def test_list_that_names_nothing_or_cannot_be_read(self):
        cases = [
            (self.write("empty.txt", "# nothing here\n\n"), "the list names no payload file"),
            (self.path("absent.txt"), "cannot read"),
        ]
        for list_path, words in cases:
            with self.subTest(list=list_path):
                result = run_generator("--list", list_path, "--check")
                self.assertEqual(1, result.returncode)
                self.assertIn("gen_payload.py: error: %s: %s" % (list_path, words), result.stderr.decode())


class DependencyFile(Workspace):
    def test_dependency_file_text(self):
        # Folder names that need care in a Makefile rule.
        folder = os.path.join("src dir", 'q"uote', "back\\slash", "\u00e9t\u00e9 $#x", "wh??=at")
        for resource_id in (102, 103, 104):
            self.write(os.path.join(folder, "f %d.bin" % resource_id), b"x")
        self.generate("102\ta.bin\t%s/f 102.bin\n103\tb\\c.msi\t%s/f 103.bin\n104\tw.exe\t%s/f 104.bin\n"
                      "105\tagain.bin\t%s/f 102.bin\t7\n" % (folder, folder, folder, folder),
                      "--depfile", self.path("out", "payload.d"))
        make_folder = self.dir + "/src\\ dir/q\"uote/back\\slash/\u00e9t\u00e9\\ $$\\#x/wh??=at"
        self.assertEqual(
            ("%s/out/manifest.txt: \\\n"
             "  %s/list.txt \\\n"
             "  %s/f\\ 102.bin \\\n"
             "  %s/f\\ 103.bin \\\n"
             "  %s/f\\ 104.bin\n" % (self.dir, self.dir, make_folder, make_folder, make_folder)).encode("utf-8"),
            self.read(os.path.join("out", "payload.d")))


class Check(Workspace):
    def test_check_prints_each_source_once_in_list_order(self):
        a = self.write("a.bin", b"a")
        b = self.write("sub/b c.bin", b"b")
        list_path = self.write("list.txt", "103\tx\tsub/b c.bin\n102\ty\ta.bin\n104\tz\tsub/../sub/b c.bin\n")
        result = run_generator("--list", list_path, "--check")
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(("%s\n%s\n" % (b, a)).encode(), result.stdout)

    def test_generated_sources_may_be_missing_at_check_time_only(self):
        self.write("a.bin", b"a")
        later = self.path("build", "bin", "later.exe")
        list_path = self.write("list.txt", "102\ta\ta.bin\n104\tui.exe\tbuild/bin/later.exe\n")
        for generated in (later, self.path("build"), self.path("build") + os.sep):
            with self.subTest(generated=generated):
                result = run_generator("--list", list_path, "--check", "--generated", generated)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(("%s\n%s\n" % (self.path("a.bin"), later)).encode(), result.stdout)

        for generated in ([], ["--generated", self.path("bui")], ["--generated", self.path("build", "bin", "later")]):
            with self.subTest(generated=generated):
                result = run_generator("--list", list_path, "--check", *generated)
                self.assertEqual(1, result.returncode)
                self.assertEqual("gen_payload.py: error: %s:2: source file %s does not exist\n" % (list_path, later),
                                 result.stderr.decode())

    def test_option_combinations_that_make_no_sense_are_usage_errors(self):
        list_path = self.write("list.txt", "102\ta\tlist.txt\n")
        cases = [
            [],
            ["--check", "--manifest", self.path("m")],
            ["--manifest", self.path("m"), "--into", self.path("x.exe")],
            ["--into", self.path("x.exe"), "--depfile", self.path("m")],
            ["--manifest", self.path("m"), "--generated", self.path("x")],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.assertEqual(2, run_generator("--list", list_path, *args).returncode)
                self.assertFalse(os.path.exists(self.path("m")))


class Incremental(Workspace):
    def test_unchanged_outputs_keep_their_time_stamps(self):
        self.write("a.bin", b"four")
        self.generate("102\ta\ta.bin\n", "--depfile", self.path("out", "payload.d"))
        names = [os.path.join("out", n) for n in ("manifest.txt", "payload.d")]
        old = int(time.time()) - 100
        for name in names:
            os.utime(self.path(name), (old, old))

        self.generate("102\ta\ta.bin\n", "--depfile", self.path("out", "payload.d"))
        for name in names:
            self.assertEqual(old, int(os.path.getmtime(self.path(name))), name)

        # A source of another size changes the manifest only.
        self.write("a.bin", b"five!")
        self.assertEqual(b"102*a*5", self.generate("102\ta\ta.bin\n", "--depfile", self.path("out", "payload.d")))
        self.assertNotEqual(old, int(os.path.getmtime(self.path(names[0]))))
        self.assertEqual(old, int(os.path.getmtime(self.path(names[1]))))


# A program linked as the bootstrapper is (4 KiB file alignment, relocations kept, the
# same hardening), with resources of its own: a string table, a named type that sorts
# before TOOLKIT, and a TOOLKIT resource that packing replaces.
PROGRAM = "#include <windows.h>\nint WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d)" \
          " { return FindResourceW(0, MAKEINTRESOURCEW(101), L\"TOOLKIT\") != 0; }\n"
OWN_RC = ('LANGUAGE 9, 1\nSTRINGTABLE { 1, "Tools" }\nLANGUAGE 0, 0\n'
          '7 OTHER { "own data" }\n101 TOOLKIT { "replaced" }\n')
LINK = ["-mwindows", "-s", "-Wl,--dynamicbase,--nxcompat,--tsaware,--large-address-aware",
        "-Wl,--file-alignment,4096"]


def resources(path):
    """{(type, name, language): (data, code page)} of the image at path, read by pefile."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for language in n.directory.entries:
                entry = language.data.struct
                key = tuple(str(e.name) if e.name is not None else e.id for e in (t, n)) + (language.id,)
                found[key] = (pe.get_data(entry.OffsetToData, entry.Size), entry.CodePage)
    return found


@unittest.skipUnless(CC and WINDRES, "the mingw-w64 compiler and windres are not on PATH")
class Pack(SigningCase):
    def run_ok(self, *args):
        result = subprocess.run(args, capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stderr)

    def link(self, name, rc_text):
        """A program linked with the resources of rc_text (none when empty)."""
        objects = []
        if rc_text:
            self.write(name + ".rc", rc_text.encode())
            self.run_ok(WINDRES, "-O", "coff", "-i", self.path(name + ".rc"), "-o", self.path(name + ".res.o"))
            objects.append(self.path(name + ".res.o"))
        self.write("program.c", PROGRAM.encode())
        self.run_ok(CC, "-O1", self.path("program.c"), *objects, *LINK, "-o", self.path(name + ".exe"))
        return self.path(name + ".exe")

    def payload(self):
        """A list of files that meet each case of the layout: empty, odd sizes, one source
        under two ids; and what its manifest is."""
        files = {"a.bin": bytes(range(256)) * 41 + b"odd", "empty.bin": b"", "w.exe": b"MZ" + b"\x90" * 5001}
        for name, data in files.items():
            self.write(name, data)
        self.write("list.txt", "104\tw.exe\tw.exe\n102\ta.bin\ta.bin\n103\tempty.msi\tempty.bin\n"
                               "105\tcopy.bin\ta.bin\t9\n".encode())
        manifest = b"104*w.exe*5003*102*a.bin*10499*103*empty.msi*0*105*copy.bin*9"
        return files, manifest

    def pack(self, exe):
        return run_tool("gen_payload.py", "--list", self.path("list.txt"), "--into", exe)

    def test_packed_program_has_the_resources_that_windres_and_ld_give_and_stays_a_valid_image(self):
        files, manifest = self.payload()
        exe = self.link("packed", OWN_RC)
        with open(exe, "rb") as f:
            linked = f.read()
        result = self.pack(exe)
        self.assertEqual((0, b""), (result.returncode, result.stderr))

        # The independent oracle: the same resources compiled by windres and linked by ld.
        self.write("manifest.txt", manifest)
        rc = OWN_RC.replace('101 TOOLKIT { "replaced" }\n', "")
        for resource_id, name in ((101, "manifest.txt"), (102, "a.bin"), (103, "empty.bin"),
                                  (104, "w.exe"), (105, "a.bin")):
            rc += '%d TOOLKIT "%s"\n' % (resource_id, self.path(name))
        self.assertEqual(resources(self.link("linked", rc)), resources(exe))
        self.assertEqual({("TOOLKIT", 101, 0): (manifest, 0), ("TOOLKIT", 102, 0): (files["a.bin"], 0),
                          ("TOOLKIT", 103, 0): (b"", 0), ("TOOLKIT", 104, 0): (files["w.exe"], 0),
                          ("TOOLKIT", 105, 0): (files["a.bin"], 0)},
                         {k: v for k, v in resources(exe).items() if k[0] == "TOOLKIT"})

        # The headers describe the new layout: the resource directory is the whole section,
        # the relocations moved with their bytes, the image ends at its last section.
        before, after = pefile.PE(data=linked), pefile.PE(exe)
        sections = {s.Name.rstrip(b"\0"): s for s in after.sections}
        rsrc, reloc = sections[b".rsrc"], sections[b".reloc"]
        old_reloc = {s.Name.rstrip(b"\0"): s for s in before.sections}[b".reloc"]
        directories = after.OPTIONAL_HEADER.DATA_DIRECTORY
        self.assertEqual((rsrc.VirtualAddress, rsrc.Misc_VirtualSize), (directories[2].VirtualAddress, directories[2].Size))
        self.assertEqual((reloc.VirtualAddress, old_reloc.get_data()), (directories[5].VirtualAddress, reloc.get_data()))
        self.assertEqual(-(-rsrc.Misc_VirtualSize // 4096) * 4096, reloc.VirtualAddress - rsrc.VirtualAddress)
        self.assertEqual(reloc.VirtualAddress + 0x1000 * -(-reloc.Misc_VirtualSize // 0x1000),
                         after.OPTIONAL_HEADER.SizeOfImage)
        self.assertEqual((0, os.path.getsize(exe)), (rsrc.SizeOfRawData % 4096, reloc.PointerToRawData + reloc.SizeOfRawData))
        self.assertEqual(after.generate_checksum(), after.OPTIONAL_HEADER.CheckSum)
        self.assertEqual(0, run_tool("check_pe.py", exe).returncode)

        # Packing again gives the same file; signing and tagging it verify.
        self.assertEqual(0, self.pack(exe).returncode)
        with open(exe, "rb") as f:
            self.assertEqual(after.__data__[:], f.read())
        self.sign("packed.exe", "signed.exe")
        self.assertEqual(0, run_tool("tag_exe.py", self.path("signed.exe"), self.path("tagged.exe"),
                                     "--info", "<i/>").returncode)
        for name in ("signed.exe", "tagged.exe"):
            ok, output = self.verify(name)
            self.assertTrue(ok, output)
            self.assertNotIn("invalid PE checksum", output)

    def test_refusals_name_the_reason_and_leave_the_program_as_it_was(self):
        self.payload()
        exe = self.link("program", OWN_RC)
        self.sign("program.exe", "signed.exe")
        plain = self.link("plain", "")
        self.write("huge.list", b"102\tbig\tbig.bin\n")
        self.write("near.list", b"102\tnear\tnear.bin\n")
        # Sparse files: their size counts, and nothing is read before the refusal.
        for name, size in (("big.bin", MAX_IMAGE_SIZE + 1), ("near.bin", MAX_IMAGE_SIZE - 8)):
            with open(self.path(name), "wb") as f:
                f.truncate(size)
        image_size = pefile.PE(exe, fast_load=True).OPTIONAL_HEADER.SizeOfImage
        program = image_size - pefile.PE(exe, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[2].Size
        near_image = -(-(program + 0x80 + 10 + MAX_IMAGE_SIZE - 8) // 4096) * 4096
        cases = [
            # (list, program, the message after "gen_payload.py: error: ")
            ("huge.list", exe, "the payload would take %d bytes (1152.0 MiB); a bootstrapper's image may take "
             "at most %d bytes (1152 MiB): %s" % (MAX_IMAGE_SIZE + 8, MAX_IMAGE_SIZE, LIMIT_REASON)),
            ("near.list", exe, "%s: the image would take %d bytes (%.1f MiB); a bootstrapper's image may take "
             "at most %d bytes (1152 MiB): %s" % (exe, near_image, near_image / MIB, MAX_IMAGE_SIZE, LIMIT_REASON)),
            ("list.txt", self.path("signed.exe"),
             "%s: the image is signed: pack its resources before signing it" % self.path("signed.exe")),
            ("list.txt", plain, "%s: the image has no resource section of its own (link it with resources)" % plain),
            ("list.txt", self.path("list.txt"), "%s: not a PE file (no MZ header)" % self.path("list.txt")),
        ]
        for list_name, target, message in cases:
            with self.subTest(message):
                with open(target, "rb") as f:
                    before = f.read()
                result = run_tool("gen_payload.py", "--list", self.path(list_name), "--into", target)
                self.assertEqual((1, "gen_payload.py: error: %s\n" % message), (result.returncode, result.stderr.decode()))
                with open(target, "rb") as f:
                    self.assertEqual(before, f.read())
        result = run_tool("gen_payload.py", "--list", self.path("huge.list"), "--check")
        self.assertEqual((1, "gen_payload.py: error: %s\n" % cases[0][2]), (result.returncode, result.stderr.decode()))
        self.assertEqual([], [n for n in os.listdir(self.dir) if n.startswith(".carryall_")])


if __name__ == "__main__":
    unittest.main()
