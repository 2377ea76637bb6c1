#!/usr/bin/env python3
"""Tests of gen_payload.py: the manifest bytes, the refusals with their lines, the
resource script and dependency files, and that windres packs exactly the source bytes
under the listed ids.

    python3 tools/test_gen_payload.py [-v]

The windres round trip is skipped when i686-w64-mingw32-windres is not on PATH.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "gen_payload.py")
WINDRES = shutil.which("i686-w64-mingw32-windres")


def run_generator(*args, cwd=None):
    return subprocess.run([sys.executable, GENERATOR] + list(args), capture_output=True, cwd=cwd)


def res_entries(path):
    """{(type, id): data} of a .res file, type an ordinal or a text."""
    with open(path, "rb") as f:
        data = f.read()

    def name_at(pos):
        (first,) = struct.unpack_from("<H", data, pos)
        if first == 0xFFFF:
            return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
        end = pos
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[pos:end].decode("utf-16-le"), end + 2

    entries = {}
    pos = 0
    while pos < len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        type_name, after = name_at(pos + 8)
        res_name, _ = name_at(after)
        body = data[pos + header_size:pos + header_size + data_size]
        if data_size or type_name != 0:  # the .res file's leading empty entry
            entries[(type_name, res_name)] = body
        pos += (header_size + data_size + 3) & ~3
    return entries


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
                               "--rc", self.path("out", "payload.rc"), *extra, cwd=cwd)
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
            # Spaces, dots and backslashes are part of the name.
            ("102\t sub dir\\my file.exe.config \tsrc/ui.exe\n103\t..\\up.\tsrc/ui.exe\n",
             b"102* sub dir\\my file.exe.config *100*103*..\\up.*100"),
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
            ("102\tdocs. \\a.txt\tok.bin\n103\tdocs\\a.txt..\tok.bin\n", 2,
             "file name 'docs\\\\a.txt..' becomes the same file as 'docs. \\\\a.txt' on line 1"),
        ]
        for list_text, line, message in cases:
            with self.subTest(list=list_text):
                list_path = self.write("list.txt", list_text)
                result = run_generator("--list", list_path, "--manifest", self.path("m.txt"),
                                       "--rc", self.path("p.rc"), "--depfile", self.path("p.d"))
                self.assertEqual(1, result.returncode)
                self.assertEqual("gen_payload.py: error: %s:%d: %s\n" % (list_path, line, message),
                                 result.stderr.decode())
                for name in ("m.txt", "p.rc", "p.d"):
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


class Scripts(Workspace):
    def make_sources(self):
        # Folder names that need care in a resource script and in a Makefile rule.
        folder = os.path.join("src dir", 'q"uote', "back\\slash", "\u00e9t\u00e9 $#x", "wh??=at")
        sources = {}
        for resource_id, content in ((102, b"first file"), (103, b""), (104, bytes(range(256)))):
            sources[resource_id] = self.write(os.path.join(folder, "f %d.bin" % resource_id), content)
        return folder, sources

    def test_resource_script_and_dependency_file_text(self):
        folder, sources = self.make_sources()
        self.generate("102\ta.bin\t%s/f 102.bin\n103\tb\\c.msi\t%s/f 103.bin\n104\tw.exe\t%s/f 104.bin\n"
                      "105\tagain.bin\t%s/f 102.bin\t7\n" % (folder, folder, folder, folder),
                      "--depfile", self.path("out", "payload.d"))
        rc_folder = (self.dir + '/src dir/q""uote/back\\\\slash/\u00e9t\u00e9 $#x/wh?\\077=at').encode("utf-8")
        self.assertEqual(
            b"// Payload resources, generated by gen_payload.py from the payload list.\n"
            b"// Edit the list, not this file.\n"
            b"LANGUAGE 0, 0\n"
            b'101 TOOLKIT "' + self.dir.encode() + b'/out/manifest.txt"\n'
            b'102 TOOLKIT "' + rc_folder + b'/f 102.bin"\n'
            b'103 TOOLKIT "' + rc_folder + b'/f 103.bin"\n'
            b'104 TOOLKIT "' + rc_folder + b'/f 104.bin"\n'
            b'105 TOOLKIT "' + rc_folder + b'/f 102.bin"\n',
            self.read(os.path.join("out", "payload.rc")))
        make_folder = self.dir + "/src\\ dir/q\"uote/back\\slash/\u00e9t\u00e9\\ $$\\#x/wh??=at"
        self.assertEqual(
            ("%s/out/manifest.txt: \\\n"
             "  %s/list.txt \\\n"
             "  %s/f\\ 102.bin \\\n"
             "  %s/f\\ 103.bin \\\n"
             "  %s/f\\ 104.bin\n" % (self.dir, self.dir, make_folder, make_folder, make_folder)).encode("utf-8"),
            self.read(os.path.join("out", "payload.d")))

    @unittest.skipUnless(WINDRES, "i686-w64-mingw32-windres not found")
    def test_windres_packs_the_manifest_and_every_source_under_its_id(self):
        folder, sources = self.make_sources()
        manifest = self.generate("104\tw.exe\t%s/f 104.bin\n102\ta.bin\t%s/f 102.bin\n103\tb.msi\t%s/f 103.bin\n"
                                 % (folder, folder, folder))
        result = subprocess.run([WINDRES, "-O", "res", "-i", self.path("out", "payload.rc"),
                                 "-o", self.path("out", "payload.res")], capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual("", result.stderr, "windres warned")
        want = {("TOOLKIT", 101): manifest}
        for resource_id, path in sources.items():
            with open(path, "rb") as f:
                want[("TOOLKIT", resource_id)] = f.read()
        self.assertEqual(want, res_entries(self.path("out", "payload.res")))


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
            ["--check", "--manifest", self.path("m")],
            ["--manifest", self.path("m")],
            ["--manifest", self.path("m"), "--rc", self.path("r"), "--generated", self.path("x")],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.assertEqual(2, run_generator("--list", list_path, *args).returncode)
                self.assertFalse(os.path.exists(self.path("m")))


class Incremental(Workspace):
    def test_unchanged_outputs_keep_their_time_stamps(self):
        self.write("a.bin", b"four")
        self.generate("102\ta\ta.bin\n", "--depfile", self.path("out", "payload.d"))
        names = [os.path.join("out", n) for n in ("manifest.txt", "payload.rc", "payload.d")]
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
        self.assertEqual(old, int(os.path.getmtime(self.path(names[2]))))


if __name__ == "__main__":
    unittest.main()
