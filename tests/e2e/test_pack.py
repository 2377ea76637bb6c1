"""End to end: bootstrappers made by `carryall.py pack` from the stub carry the icon, the
version resource and the strings they were given, as Windows reads them back, and a German
string table is what a German user's failed run reports.

    python3 test_pack.py [unittest options]

The stub comes from CARRYALL_STUB, the command from CARRYALL_PACKER, the read-back helper
from CARRYALL_RESINFO (tests/e2e/resinfo.c), the development certificate that signs the
bootstrappers that run from CARRYALL_SIGN_DIR.
"""

import os
import struct
import subprocess
import sys
import unittest
import zlib

import harness

HERE = os.path.dirname(os.path.abspath(__file__))
STUB = os.environ.get("CARRYALL_STUB")
PACKER = os.environ.get("CARRYALL_PACKER")
RESINFO = os.environ.get("CARRYALL_RESINFO")
SIGN_DIR = os.environ.get("CARRYALL_SIGN_DIR")
SMALL_LIST = os.path.join(HERE, "payloads", "small.list")
CORRUPT_LIST = os.path.join(HERE, "payloads", "corrupt.list")

SIZE_MISMATCH = 0x80040167
STUB_VERSION = "1.8.2.724"
# The stub's own version texts.
STUB_TEXTS = {"CompanyName": "The Carryall Authors",
              "FileDescription": "SQL Carryall installer bootstrapper",
              "LegalCopyright": "Copyright (C) 2012-2025 The Carryall Authors"}

GERMAN = {
    111: "Eine Datei ist beschädigt. Laden Sie %s erneut herunter und versuchen Sie es noch einmal.",
    114: "Befehlszeile '%s' ungültig.\\nGültige Schalter: extract [Pfad], log [Pfad], temp [Pfad]",
}


def setUpModule():
    harness.require_files("CARRYALL_STUB", "CARRYALL_PACKER", "CARRYALL_RESINFO")
    if not os.path.isfile(os.path.join(SIGN_DIR or "", "leaf.pem")):
        raise RuntimeError(f"CARRYALL_SIGN_DIR holds no development certificate: {SIGN_DIR!r}")
    harness.open_session()


def tearDownModule():
    harness.close_session()


# --- inputs --------------------------------------------------------------------------------

def bmp_image(size, bits):
    """An icon image in the .ico's DIB form: header (height doubled), colours, AND mask."""
    colours = b""
    if bits == 8:
        colours = b"".join(bytes((i, 255 - i, (i * 7) & 255, 0)) for i in range(256))
        row = bytes((x * 255 // max(size - 1, 1)) & 255 for x in range(size))
    else:
        row = b"".join(bytes((x * 8 & 255, 0x40, 0xC0, 0xFF)) for x in range(size))
    row += b"\0" * (-len(row) % 4)
    mask = b"\0" * (((size + 31) // 32) * 4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    return header + colours + row * size + mask


def png_image(size):
    """An RGBA PNG, as the large images of today's icons are stored."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes((y & 255, 0x80, 0x20, 0xFF)) * size for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


# Four images of the kinds a publisher's .ico holds: (size, bits, data).
ICON_IMAGES = [(16, 32, bmp_image(16, 32)), (32, 8, bmp_image(32, 8)), (48, 32, bmp_image(48, 32)),
               (256, 32, png_image(256))]


def write_ico(path, images):
    entries, data = b"", b""
    offset = 6 + 16 * len(images)
    for size, bits, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(image), offset + len(data))
        data += image
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + entries + data)


def write_strings(path, texts):
    with open(path, "w", encoding="utf-8") as f:
        f.writelines("%d\t%s\n" % item for item in texts.items())


class PackTestCase(harness.WineTestCase):

    def pack(self, payload, *options):
        out = os.path.join(self.tmp, "packed.exe")
        result = subprocess.run([sys.executable, "-B", PACKER, "pack", "--stub", STUB, "--payload", payload,
                                 "-o", out, *options], capture_output=True, text=True, stdin=subprocess.DEVNULL)
        self.assertEqual(0, result.returncode, result.stderr)
        return out

    def sign(self, exe):
        """exe signed in place with the development certificate, as a publisher signs."""
        result = subprocess.run([sys.executable, "-B", PACKER, "sign", exe, exe,
                                 "--cert", os.path.join(SIGN_DIR, "leaf.pem"),
                                 "--key", os.path.join(SIGN_DIR, "leaf.key"),
                                 "--chain", os.path.join(SIGN_DIR, "ca.pem")],
                                capture_output=True, text=True, stdin=subprocess.DEVNULL)
        self.assertEqual(0, result.returncode, result.stderr)
        return exe

    def resinfo(self, exe, *args, env=None):
        """resinfo.exe's lines for exe; env: Unix variables for the Wine process."""
        completed = subprocess.run(["wine", RESINFO, self.session.to_windows(exe), *args],
                                   env={**self.session.env, **(env or {})}, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(0, completed.returncode, args)
        return completed.stdout.decode("utf-8").replace("\r\n", "\n").splitlines()

    def version(self, exe):
        lines = self.resinfo(exe, "version")
        return dict(line.split("=", 1) for line in lines if "=" in line and not line.startswith("file="))

    def strings(self, exe, ids, env=None):
        """{id: text} of LoadStringW, None for an id without text."""
        found = {}
        for line in self.resinfo(exe, "strings", *map(str, ids), env=env):
            if line.endswith("!"):
                found[int(line[:-1])] = None
            else:
                number, text = line.split("=", 1)
                found[int(number)] = text
        return found


class BrandingTest(PackTestCase):
    """Each row packs the stub with some options and reads back what Windows sees."""

    def test_icons(self):
        ico = os.path.join(self.tmp, "product.ico")
        write_ico(ico, ICON_IMAGES)
        own = ["groups=1", "group id=5 images=4"] + [
            "image w=%d h=%d bits=%d bytes=%d crc=%08x icon=ok" % (size, size, bits, len(data), zlib.crc32(data))
            for size, bits, data in ICON_IMAGES]
        rows = [
            # (options, the lines of resinfo icons, or only how many images the stub's has)
            ([], 2),
            (["--icon", ico], own),
        ]
        for options, expected in rows:
            with self.subTest(options=options):
                lines = self.resinfo(self.pack(SMALL_LIST, *options), "icons")
                if isinstance(expected, int):
                    self.assertEqual(["groups=1", "group id=5 images=%d" % expected], lines[:2])
                    self.assertEqual(expected, sum(line.endswith("icon=ok") for line in lines))
                else:
                    self.assertEqual(expected, lines)

    def test_version_resource(self):
        strings = os.path.join(self.tmp, "strings.txt")
        write_strings(strings, {1: "Fabrikam Tools"})
        given = ["--version", "2.10.0.65535", "--company", "Contoso Ltd.", "--product", "Contoso Suite",
                 "--description", "Contoso Suite setup", "--copyright", "© 2026 Contoso Ltd. – all rights"]
        rows = [
            # (options, fixed versions, the texts that must be as given)
            ([], "file=%s product=%s" % (STUB_VERSION, STUB_VERSION),
             {**STUB_TEXTS, "ProductName": "SQL Carryall", "FileVersion": STUB_VERSION}),
            (given, "file=2.10.0.65535 product=2.10.0.65535",
             {"CompanyName": "Contoso Ltd.", "ProductName": "Contoso Suite",
              "FileDescription": "Contoso Suite setup", "LegalCopyright": "© 2026 Contoso Ltd. – all rights",
              "FileVersion": "2.10.0.65535", "ProductVersion": "2.10.0.65535"}),
            # The product name follows string 1 when it is not given.
            (["--strings", strings, "--version", "3.0.0.1"], "file=3.0.0.1 product=3.0.0.1",
             {**STUB_TEXTS, "ProductName": "Fabrikam Tools", "FileVersion": "3.0.0.1"}),
        ]
        for options, fixed, texts in rows:
            with self.subTest(options=options):
                exe = self.pack(SMALL_LIST, *options)
                lines = self.resinfo(exe, "version")
                self.assertEqual(fixed, lines[0])
                values = self.version(exe)
                self.assertEqual(texts, {name: values.get(name) for name in texts})

    def test_strings(self):
        strings = os.path.join(self.tmp, "strings.txt")
        write_strings(strings, {1: "Contoso Suite", 103: "42", 111: "Broken: %s"})
        rows = [
            ([], {1: "SQL Carryall", 103: "500", 111: "A file is corrupt. Download %s and retry.", 202: "1"}),
            (["--strings", strings], {1: "Contoso Suite", 103: "42", 111: "Broken: %s", 202: "1"}),
            (["--no-dotnet"], {1: "SQL Carryall", 103: "500", 111: "A file is corrupt. Download %s and retry.",
                               202: "0"}),
        ]
        for options, expected in rows:
            with self.subTest(options=options):
                self.assertEqual(expected, self.strings(self.pack(SMALL_LIST, *options), expected))


class GermanTest(PackTestCase):
    """A German string table beside the default one, read in a German and an English
    session."""

    @classmethod
    def setUpClass(cls):
        # This machine has no German locale: build one into a folder of the test's own.
        session = harness.open_session()
        cls.locales = os.path.join(session.tmp_root, "locales")
        if not os.path.isdir(os.path.join(cls.locales, "de_DE.UTF-8")):
            os.makedirs(cls.locales, exist_ok=True)
            subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", os.path.join(cls.locales, "de_DE.UTF-8")],
                           check=True, capture_output=True, stdin=subprocess.DEVNULL)
        cls.german = {"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8", "LOCPATH": cls.locales}

    def german_exe(self, payload):
        texts = os.path.join(self.tmp, "strings.de.txt")
        write_strings(texts, GERMAN)
        return self.pack(payload, "--language", "de-DE=" + texts)

    def test_each_user_gets_the_texts_of_the_language(self):
        exe = self.german_exe(SMALL_LIST)
        english = self.strings(exe, [1, 102, 111, 114])
        rows = [
            # (session, what LoadStringW gives): texts missing from the German table (1,
            # and 102 in the same block of 16 as 111) come from the default one.
            ({}, english),
            (self.german, {1: "SQL Carryall", 102: english[102], 111: GERMAN[111], 114: GERMAN[114]}),
        ]
        self.assertEqual("A file is corrupt. Download %s and retry.", english[111])
        for env, expected in rows:
            with self.subTest(env=env):
                self.assertEqual(expected, self.strings(exe, expected, env=env))

    def test_a_failed_run_logs_the_german_report_last(self):
        exe = self.sign(self.german_exe(CORRUPT_LIST))
        base = os.path.join(self.tmp, "base")
        os.makedirs(base)
        log = os.path.join(self.tmp, "run.log")
        line = (f'log "{self.session.to_windows(log)}" /IAgreeToTheEULA '
                f'temp "{self.session.to_windows(base)}" /dontrun')
        saved = self.session.env
        self.session.env = {**saved, **self.german}
        try:
            result = self.session.run(line, exe=exe, cwd=self.tmp)
        finally:
            self.session.env = saved
        self.assertExitCode(SIZE_MISMATCH, result)
        lines = harness.split_log_lines(harness.read_bytes(log))
        # The report is the run's last line before the closing "Ended <ticks>".
        self.assertRegex(lines[-1], r"^Ended \d+$")
        self.assertEqual(GERMAN[111].replace("%s", "SQL Carryall"), lines[-2])
        # The log's own lines stay English.
        self.assertIn("Extract File empty.msi 80040167", lines)


if __name__ == "__main__":
    unittest.main()
