#!/usr/bin/env python3
"""Tests of gen_strings.py: the source format, the overrides, and that windres and a
C++ compiler turn the generated files into exactly the intended UTF-16 text.

    python3 tools/test_gen_strings.py [-v]

The compiler round trips are skipped when i686-w64-mingw32-windres or a host C++
compiler is not on PATH.
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
GENERATOR = os.path.join(HERE, "gen_strings.py")
SHIPPED = os.path.join(HERE, "..", "resources", "strings.txt")
WINDRES = shutil.which("i686-w64-mingw32-windres")
HOST_CXX = shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")

# Texts that have broken rc or C++ escaping somewhere: quotes next to quotes and
# backslashes, would-be trigraphs, escapes followed by hex digits, control
# characters, non-ASCII inside and outside the BMP.
TRICKY_SOURCE = (
    "1\tPr\u00f6d\u00fcct \u2713\n"
    "2\tsay \"hi\" \\\\ \"\"end\"\"\n"
    "3\tc:\\\\log.txt and c:\\\\new\\\\temp\\\\\n"
    "4\tline\\none\\ttab \\\\n stays\n"
    "5\twhat??= ??/ ??' ?\n"
    "6\t\u00e99 \u20acA \u00a0B \U0001d11e0\n"
    "7\t\x01ctl\x7f\u0085\n"
    "8\t/* not a comment */ // nor this # nor %s %d\n"
    "9\t\n"
    "65535\tlast\n"
)
TRICKY_TEXT = {
    1: "Pr\u00f6d\u00fcct \u2713",
    2: 'say "hi" \\ ""end""',
    3: "c:\\log.txt and c:\\new\\temp\\",
    4: "line\none\ttab \\n stays",
    5: "what??= ??/ ??' ?",
    6: "\u00e99 \u20acA \u00a0B \U0001d11e0",
    7: "\x01ctl\x7f\u0085",
    8: "/* not a comment */ // nor this # nor %s %d",
    9: "",
    65535: "last",
}


def run_generator(*args):
    return subprocess.run([sys.executable, GENERATOR] + list(args),
                          capture_output=True, text=True)


def utf16_units(text):
    data = text.encode("utf-16-le")
    return list(struct.unpack("<%dH" % (len(data) // 2), data))


def string_table_from_res(path):
    """{id: [UTF-16 units]} for every non-empty entry of the .res file's string table."""
    with open(path, "rb") as f:
        data = f.read()
    table = {}
    pos = 0
    while pos < len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        header = data[pos + 8:pos + header_size]
        # Type and name are ordinals here (0xFFFF, id).
        type_id = struct.unpack_from("<HH", header, 0)
        name_id = struct.unpack_from("<HH", header, 4)
        body = data[pos + header_size:pos + header_size + data_size]
        if type_id == (0xFFFF, 6):
            offset = 0
            for k in range(16):
                (length,) = struct.unpack_from("<H", body, offset)
                offset += 2
                if length:
                    table[(name_id[1] - 1) * 16 + k] = list(struct.unpack_from("<%dH" % length, body, offset))
                offset += 2 * length
        pos += (header_size + data_size + 3) & ~3
    return table


class Workspace(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="gen_strings_test_")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, content):
        with open(self.path(name), "wb") as f:
            f.write(content.encode("utf-8") if isinstance(content, str) else content)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), encoding="utf-8") as f:
            return f.read()

    def cpp_table(self, name):
        """{id: literal text} from the generated include, read back by Python's own
        understanding of the escapes it uses."""
        table = {}
        for line in self.read(name).splitlines():
            if line.startswith("{"):
                key, _, literal = line[1:-2].partition(", u")
                table[int(key)] = literal
        return table


class SourceFormatErrors(Workspace):
    def assert_rejected(self, content, line, fragment, overrides=False):
        base = self.write("base.txt", "1\tok\n" if overrides else content)
        args = ["--base", base, "--rc", self.path("out.rc"), "--cpp", self.path("out.inc")]
        if overrides:
            args += ["--overrides", self.write("over.txt", content)]
        result = run_generator(*args)
        self.assertEqual(1, result.returncode, result.stderr)
        where = "%s:%d:" % (self.path("over.txt" if overrides else "base.txt"), line)
        self.assertIn(where, result.stderr)
        self.assertIn(fragment, result.stderr)
        self.assertFalse(os.path.exists(self.path("out.rc")))
        self.assertFalse(os.path.exists(self.path("out.inc")))

    def test_id_that_is_not_a_number_names_file_and_line(self):
        self.assert_rejected("# c\n1\tok\nx1\tbad\n", 3, "bad id")

    def test_line_without_tab_in_base_is_rejected(self):
        self.assert_rejected("1\tok\n2 text\n", 2, "bad id")

    def test_bare_id_in_base_is_rejected(self):
        self.assert_rejected("1\tok\n2\n", 2, "no tab")

    def test_unknown_escape_is_rejected(self):
        self.assert_rejected("1\tc:\\log.txt\n", 1, "unknown escape \\l")

    def test_trailing_backslash_is_rejected(self):
        self.assert_rejected("1\tend\\\n", 1, "backslash at the end")

    def test_id_above_16_bits_is_rejected(self):
        self.assert_rejected("65536\tx\n", 1, "above 65535")

    def test_duplicate_id_names_both_lines(self):
        self.assert_rejected("5\ta\n6\tb\n5\tc\n", 3, "already given on line 1")

    def test_invalid_utf8_is_rejected(self):
        self.assert_rejected(b"1\tok\n2\t\xff\n", 2, "UTF-8")

    def test_errors_in_overrides_name_the_overrides_file(self):
        self.assert_rejected("1\tok\n-3\n", 2, "bad id", overrides=True)

    def test_leading_blank_before_id_is_rejected(self):
        self.assert_rejected(" 1\tok\n", 1, "bad id")


class Overrides(Workspace):
    def generate(self, base, overrides=None):
        args = ["--base", self.write("base.txt", base), "--cpp", self.path("out.inc")]
        if overrides is not None:
            args += ["--overrides", self.write("over.txt", overrides)]
        result = run_generator(*args)
        self.assertEqual(0, result.returncode, result.stderr)
        return self.cpp_table("out.inc")

    def test_override_replaces_adds_and_removes(self):
        table = self.generate("1\tone\n2\ttwo\n3\tthree\n",
                              "# custom build\n2\tTWO\n3\n4\tfour\n")
        self.assertEqual({1: '"one"', 2: '"TWO"', 4: '"four"'}, table)

    def test_removing_an_absent_id_is_accepted(self):
        self.assertEqual({1: '"one"'}, self.generate("1\tone\n", "143\n"))

    def test_comments_blank_lines_bom_and_crlf_are_skipped(self):
        table = self.generate("\ufeff# head\r\n\r\n1\tone\r\n#2\tnot an entry\n\n2\ttwo\n")
        self.assertEqual({1: '"one"', 2: '"two"'}, table)

    def test_empty_text_is_an_entry(self):
        self.assertEqual({7: '""'}, self.generate("7\t\n"))

    def test_tab_after_the_first_is_part_of_the_text(self):
        self.assertEqual({1: '"a\\tb"'}, self.generate("1\ta\tb\n"))

    def test_entries_come_out_in_ascending_id_order(self):
        out = self.generate("30\tc\n4\ta\n200\td\n10\tb\n")
        self.assertEqual([4, 10, 30, 200], list(out))

    def test_print_writes_one_entry_after_the_overrides(self):
        base = self.write("base.txt", "1\tShipped\n2\ttwo\n")
        cases = [
            # (overrides, a build option's --set, id, exact output)
            (None, None, "1", "Shipped"),
            ("1\tCaf\u00e9; \\n\\\\\n", None, "1", "Caf\u00e9; \n\\"),
            ("1\n", None, "1", ""),
            (None, None, "3", ""),
            ("2\tover\n", "2=0", "2", "0"),  # the option wins over the overrides
            (None, "202=0", "202", "0"),
        ]
        for overrides, option, string_id, expected in cases:
            with self.subTest(overrides=overrides, id=string_id):
                args = ["--base", base, "--print", string_id]
                if overrides is not None:
                    args += ["--overrides", self.write("over.txt", overrides)]
                if option is not None:
                    args += ["--set", option]
                result = subprocess.run([sys.executable, GENERATOR] + args, capture_output=True)
                self.assertEqual((0, expected.encode("utf-8")), (result.returncode, result.stdout))


class Incremental(Workspace):
    def test_unchanged_outputs_keep_their_time_stamps(self):
        base = self.write("base.txt", "1\tone\n")
        args = ["--base", base, "--rc", self.path("o.rc"), "--cpp", self.path("o.inc")]
        self.assertEqual(0, run_generator(*args).returncode)
        old = time.time() - 100
        for name in ("o.rc", "o.inc"):
            os.utime(self.path(name), (old, old))
        self.assertEqual(0, run_generator(*args).returncode)
        for name in ("o.rc", "o.inc"):
            self.assertEqual(int(old), int(os.path.getmtime(self.path(name))), name)

        self.write("base.txt", "1\tuno\n")
        self.assertEqual(0, run_generator(*args).returncode)
        self.assertIn('"uno"', self.read("o.rc"))
        self.assertNotEqual(int(old), int(os.path.getmtime(self.path("o.inc"))))


class CompiledText(Workspace):
    def generate_tricky(self):
        base = self.write("base.txt", "1\tbase\n3\tbase\n100\tremoved\n")
        over = self.write("over.txt", TRICKY_SOURCE + "100\n")
        result = run_generator("--base", base, "--overrides", over,
                               "--rc", self.path("strings.rc"), "--cpp", self.path("table.inc"))
        self.assertEqual(0, result.returncode, result.stderr)

    @unittest.skipUnless(WINDRES, "i686-w64-mingw32-windres not found")
    def test_windres_builds_exactly_the_intended_text(self):
        self.generate_tricky()
        self.write("top.rc", '#include "strings.rc"\n')
        result = subprocess.run([WINDRES, "-c", "65001", "-O", "res", "-I", self.dir,
                                 "-i", self.path("top.rc"), "-o", self.path("out.res")],
                                capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual("", result.stderr, "windres warned")
        # An empty entry and a missing one are alike in a string table: length 0.
        want = {k: utf16_units(v) for k, v in TRICKY_TEXT.items() if v}
        self.assertEqual(want, string_table_from_res(self.path("out.res")))

    @unittest.skipUnless(HOST_CXX, "no host C++ compiler")
    def test_cpp_include_builds_exactly_the_intended_text(self):
        self.generate_tricky()
        self.write("dump.cpp", r'''
#include <cstdio>
struct Entry { unsigned id; const char16_t* text; };
static const Entry kTable[] = {
#include "table.inc"
};
int main() {
  for (const Entry& e : kTable) {
    std::printf("%u", e.id);
    for (const char16_t* p = e.text; *p; ++p) std::printf(" %x", unsigned(*p));
    std::printf("\n");
  }
}
''')
        exe = self.path("dump")
        result = subprocess.run([HOST_CXX, "-std=c++17", "-Wall", "-Wextra", "-pedantic", "-Werror",
                                 "-I", self.dir, self.path("dump.cpp"), "-o", exe],
                                capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stderr)
        output = subprocess.run([exe], capture_output=True, text=True, check=True).stdout
        got = {}
        for line in output.splitlines():
            fields = line.split()
            got[int(fields[0])] = [int(x, 16) for x in fields[1:]]
        want = {k: utf16_units(v) for k, v in TRICKY_TEXT.items()}
        self.assertEqual(want, got)


class ShippedTable(Workspace):
    def test_usage_message_has_line_feeds_tabs_and_a_literal_backslash(self):
        self.assertEqual(0, run_generator("--base", SHIPPED, "--cpp", self.path("s.inc")).returncode)
        table = self.cpp_table("s.inc")
        self.assertEqual(
            '"Command line \'%s\' incorrect.\\nValid switches include:- \\n\\textract [path]'
            '\\tlog [path]\\ttemp [path]\\n\\nExample\\n\\t log c:\\\\log.txt /IAgreeToTheEULA"',
            table[114])

    def test_ids_are_the_settings_and_messages_with_143_and_144_absent(self):
        self.assertEqual(0, run_generator("--base", SHIPPED, "--cpp", self.path("s.inc")).returncode)
        self.assertEqual(
            [0, 1, 101, 102, 103, 104, 105, 106, 108, 109, 110, 111, 112, 113, 114, 115,
             135, 137, 138, 139, 140, 141, 142, 145, 200, 201, 202],
            sorted(self.cpp_table("s.inc")))


if __name__ == "__main__":
    unittest.main()
