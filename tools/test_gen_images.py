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


if __name__ == "__main__":
    unittest.main()
