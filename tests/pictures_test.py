#!/usr/bin/env python3
"""Checks the pictures that resources/make_pictures.py draws: the forms the
program relies on, and that two runs give the same bytes.

  pictures_test.py MAKE_PICTURES_SCRIPT
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None

STATIC = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
    (128, 0, 128), (0, 128, 128), (192, 192, 192), (192, 220, 192), (166, 202, 240),
    (255, 251, 240), (160, 160, 164), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def make(directory):
    subprocess.run([sys.executable, SCRIPT, directory], check=True)
    with open(os.path.join(directory, "zvupdate_picture.bmp"), "rb") as f:
        bitmap = f.read()
    with open(os.path.join(directory, "zvupdate.ico"), "rb") as f:
        icon = f.read()
    return bitmap, icon


class PicturesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
            cls.bitmap, cls.icon = make(a)
            cls.bitmap_again, cls.icon_again = make(b)

    def test_two_runs_give_the_same_bytes(self):
        self.assertEqual(self.bitmap, self.bitmap_again)
        self.assertEqual(self.icon, self.icon_again)

    def test_bitmap_is_a_packed_8_bit_dib_of_178_by_390(self):
        magic, file_size, _, _, pixel_offset = struct.unpack_from("<2sIHHI", self.bitmap, 0)
        self.assertEqual(magic, b"BM")
        self.assertEqual(file_size, len(self.bitmap))
        dib = self.bitmap[14:]  # what the resource holds
        self.assertEqual(len(dib), 71264)
        size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", dib, 0)
        self.assertEqual((size, width, height, planes, bits, compression), (40, 178, 390, 1, 8, 0))
        # Pixels right after a full table of 256 entries, as the frame reads them.
        self.assertEqual(pixel_offset - 14, 40 + 4 * 256)
        self.assertEqual(len(dib) - (pixel_offset - 14), ((178 + 3) // 4 * 4) * 390)

    def test_static_colours_keep_their_places_and_pixels_avoid_them(self):
        dib = self.bitmap[14:]
        table = [tuple(reversed(dib[40 + 4 * i:40 + 4 * i + 3])) for i in range(256)]
        self.assertEqual(table[:10] + table[246:], STATIC)
        pixels = dib[40 + 1024:]
        stride = (178 + 3) // 4 * 4
        used = {pixels[row * stride + x] for row in range(390) for x in range(178)}
        self.assertTrue(all(10 <= i < 246 for i in used), "pixels use a static colour's place")
        # A picture, not a flat block: many colours, light and dark ones.
        self.assertGreater(len(used), 150)
        luma = [sum(table[i]) / 3 for i in used]
        self.assertLess(min(luma), 40)
        self.assertGreater(max(luma), 230)

    def test_icon_is_one_32_by_32_image_of_16_colours(self):
        reserved, kind, count = struct.unpack_from("<HHH", self.icon, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", self.icon, 6)
        self.assertEqual((width, height, colours, planes, bits), (32, 32, 16, 1, 4))
        self.assertEqual(offset + size, len(self.icon))
        header = struct.unpack_from("<IiiHH", self.icon, offset)
        self.assertEqual(header, (40, 32, 64, 1, 4))  # colour image and mask
        # Header, 16 colours, 4-bit image, 1-bit mask of 32-bit rows.
        self.assertEqual(size, 40 + 16 * 4 + 32 * 16 + 32 * 4)
        mask = self.icon[offset + 40 + 64 + 512:]
        transparent = sum(bin(b).count("1") for b in mask)
        self.assertGreater(transparent, 0)     # rounded corners show through
        self.assertLess(transparent, 32 * 4)   # but the tile itself is opaque


if __name__ == "__main__":
    SCRIPT = sys.argv.pop(1)
    unittest.main()
