#!/usr/bin/env python3
"""Tests of gen_images.py: the files are well-formed bitmaps and icons of the sizes the
dialogs are laid out for, and the same bytes come out on every run.

    python3 tools/test_gen_images.py [-v]
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "gen_images.py")


def generate(directory):
    paths = {name: os.path.join(directory, name) for name in ("splash.bmp", "banner.bmp", "app.ico")}
    subprocess.run([sys.executable, GENERATOR, "--splash", paths["splash.bmp"],
                    "--banner", paths["banner.bmp"], "--icon", paths["app.ico"]], check=True)
    contents = {}
    for name, path in paths.items():
        with open(path, "rb") as f:
            contents[name] = f.read()
    return contents


class Images(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="gen_images_test_")
        cls.files = generate(cls.dir)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def check_bmp(self, data, width, height):
        magic, file_size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
        self.assertEqual(b"BM", magic)
        self.assertEqual(len(data), file_size)
        (header_size, w, h, planes, bpp, compression, image_size) = struct.unpack_from("<IiiHHII", data, 14)
        self.assertEqual((40, width, height, 1, 24, 0), (header_size, w, h, planes, bpp, compression))
        stride = (width * 3 + 3) & ~3
        self.assertEqual(stride * height, image_size)
        self.assertEqual(offset + image_size, len(data))
        colours = {data[i:i + 3] for i in range(offset, offset + image_size - 3, 3 * 97)}
        self.assertGreater(len(colours), 20, "picture looks flat")

    def test_splash_is_a_425_by_208_24_bit_bitmap(self):
        self.check_bmp(self.files["splash.bmp"], 425, 208)

    def test_banner_is_a_634_by_78_24_bit_bitmap(self):
        self.check_bmp(self.files["banner.bmp"], 634, 78)

    def test_icon_holds_16_and_32_pixel_32_bit_images_with_matching_masks(self):
        data = self.files["app.ico"]
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((0, 1, 2), (reserved, kind, count))
        end_of_previous = 6 + 16 * count
        sizes = []
        for i in range(count):
            w, h, colours, _, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
            self.assertEqual((w, 0, 1, 32), (h, colours, planes, bpp))
            self.assertGreaterEqual(offset, end_of_previous)
            self.assertLessEqual(offset + size, len(data))
            end_of_previous = offset + size
            sizes.append(w)

            header_size, bw, bh, bplanes, bbpp, compression, image_size = struct.unpack_from("<IiiHHII", data, offset)
            self.assertEqual((40, w, 2 * w, 1, 32, 0), (header_size, bw, bh, bplanes, bbpp, compression))
            mask_stride = ((w + 31) // 32) * 4
            self.assertEqual(w * w * 4 + mask_stride * w, image_size)
            self.assertEqual(40 + image_size, size)

            pixels = data[offset + 40:offset + 40 + w * w * 4]
            mask = data[offset + 40 + w * w * 4:offset + size]
            opaque = transparent = 0
            for y in range(w):
                for x in range(w):
                    alpha = pixels[(y * w + x) * 4 + 3]
                    masked = bool(mask[y * mask_stride + x // 8] & (0x80 >> (x % 8)))
                    self.assertEqual(alpha == 0, masked, "size %d pixel %d,%d" % (w, x, y))
                    opaque += alpha == 255
                    transparent += alpha == 0
            self.assertGreater(opaque, w * w // 3, "size %d" % w)
            self.assertGreater(transparent, 0, "size %d" % w)
        self.assertEqual([16, 32], sizes)

    def test_every_run_gives_the_same_bytes(self):
        other = tempfile.mkdtemp(prefix="gen_images_again_")
        try:
            self.assertEqual(self.files, generate(other))
        finally:
            shutil.rmtree(other)


def bmp(width=5, height=3, bits=24, header=40, compression=0, planes=1, colours=0,
        offset=None, cut=0):
    """A bitmap file with these header fields; its colour table, masks and pixels fill
    exactly what the fields ask for, less the last cut bytes."""
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, abs(height), planes, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, height, planes, bits, compression,
                           0, 2835, 2835, colours, 0)
        info += b"\0" * (header - 40)
    if bits <= 8:
        table = b"\x40\x80\xc0" * (colours or 1 << bits) if header == 12 else \
            b"\x40\x80\xc0\0" * (colours or 1 << bits)
    else:
        table = struct.pack("<III", 0xF800, 0x7E0, 0x1F) if compression == 3 and header == 40 else b""
    if compression in (1, 2):
        pixels = b"\x02\x01" * abs(height) + b"\0\1"  # runs of one colour, end of bitmap
    else:
        pixels = b"\x5a" * ((width * bits + 31) // 32 * 4 * abs(height))
    start = 14 + len(info) + len(table)
    data = struct.pack("<2sIHHI", b"BM", start + len(pixels), 0, 0,
                       start if offset is None else offset) + info + table + pixels
    return data[:len(data) - cut] if cut else data


class OwnPictures(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="own_pictures_test_")
        self.addCleanup(shutil.rmtree, self.dir)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_generator(self, *args):
        return subprocess.run([sys.executable, "-B", GENERATOR] + list(args), capture_output=True)

    def test_bitmaps_windows_shows_are_accepted_with_their_size(self):
        cases = [
            # (what, file, the size printed)
            ("24-bit", bmp(), "5 3"),
            ("top-down", bmp(height=-3), "5 3"),
            ("1-bit, odd width", bmp(width=33, bits=1), "33 3"),
            ("8-bit RLE8", bmp(bits=8, compression=1), "5 3"),
            ("4-bit RLE4", bmp(bits=4, compression=2), "5 3"),
            ("16-bit bit fields", bmp(bits=16, compression=3), "5 3"),
            ("32-bit, V5 header", bmp(bits=32, header=124), "5 3"),
            ("core header, 8-bit", bmp(bits=8, header=12), "5 3"),
            ("largest", bmp(width=4096, height=1, bits=1), "4096 1"),
        ]
        for what, data, size in cases:
            with self.subTest(what):
                result = self.run_generator("--check", self.write("in.bmp", data))
                self.assertEqual((0, size + "\n"), (result.returncode, result.stdout.decode()),
                                 result.stderr.decode())

    def test_files_windows_cannot_load_are_refused_with_the_reason(self):
        png = b"\x89PNG\r\n\x1a\n" + b"\0" * 100
        cases = [
            # (what, file, the message after the file's name)
            ("PNG", png, "not a BMP file (it does not start with 'BM' and a bitmap header)"),
            ("unknown header", bmp(header=64), "unknown bitmap header of 64 bytes (known: 12, 40, 52, 56, 108, 124)"),
            ("cut header", bmp()[:30], "the file ends inside its BITMAPINFOHEADER"),
            ("zero width", bmp(width=0), "0 by 3 pixels: width and height must be 1 to 4096"),
            ("too wide", bmp(width=4097, height=1, bits=1), "4097 by 1 pixels: width and height must be 1 to 4096"),
            ("negative width", bmp(width=-5), "-5 by 3 pixels: width and height must be 1 to 4096"),
            ("two planes", bmp(planes=2), "2 colour planes; a bitmap has 1"),
            ("2 bits", bmp(bits=2), "2 bits per pixel; Windows shows 1, 4, 8, 16, 24 or 32"),
            ("JPEG inside", bmp(compression=4), "compression JPEG at 24 bits per pixel is not supported"),
            ("RLE8 at 4 bits", bmp(bits=4, compression=1), "compression RLE8 at 4 bits per pixel is not supported"),
            ("bit fields at 24", bmp(compression=3), "compression bit fields at 24 bits per pixel is not supported"),
            ("top-down RLE", bmp(bits=8, compression=1, height=-3),
             "a run-length compressed bitmap cannot be stored top-down"),
            ("big table", bmp(bits=1, colours=3), "3 colours in the table of a 1-bit bitmap; at most 2"),
            ("offset in the table", bmp(bits=8, offset=60),
             "the pixels' offset 60 is not between the headers' end 1078 and the file's end 1102"),
            ("cut pixels", bmp(cut=1), "the file holds 47 bytes of pixels; 5 by 3 at 24 bits need 48"),
        ]
        for what, data, message in cases:
            with self.subTest(what):
                path = self.write("in.bmp", data)
                result = self.run_generator("--check", path)
                self.assertEqual((1, "gen_images.py: error: %s: %s\n" % (path, message)),
                                 (result.returncode, result.stderr.decode()))

    def test_own_pictures_are_copied_unchanged_and_a_refused_one_writes_nothing(self):
        splash, banner = bmp(width=301, height=150, bits=8), bmp(width=600, height=60, bits=4)
        out_splash, out_banner = os.path.join(self.dir, "splash.bmp"), os.path.join(self.dir, "banner.bmp")
        args = ["--splash", out_splash, "--splash-from", self.write("own_splash.bmp", splash),
                "--banner", out_banner]
        self.assertEqual(0, self.run_generator(*args).returncode)
        with open(out_splash, "rb") as f:
            self.assertEqual(splash, f.read())
        with open(out_banner, "rb") as f:
            self.assertEqual((634, 78), struct.unpack_from("<ii", f.read(), 18), "the drawn banner")
        os.remove(out_splash)
        os.remove(out_banner)
        result = self.run_generator(*args, "--banner-from", self.write("own_banner.bmp", banner[:-1]))
        self.assertEqual(1, result.returncode)
        self.assertIn("own_banner.bmp: the file holds", result.stderr.decode())
        self.assertEqual([], [n for n in os.listdir(self.dir) if n in ("splash.bmp", "banner.bmp")])


if __name__ == "__main__":
    unittest.main()
