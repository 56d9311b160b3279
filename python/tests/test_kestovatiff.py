"""The kestovatiff package against the library it loads: each function,
each exception class, a file name that is not UTF-8, threads at once, and
the reasons' words against the header's."""

import concurrent.futures
import errno
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import kestovatiff

HEADER = pathlib.Path(__file__).resolve().parents[2] / "include" / "kestovatiff.h"


def bmp_file(width, height, seed=0):
    """A 24-bit BMP in the library's own layout (rows unpadded), and its
    pixels as rows of B, G, R from the bottom."""
    pixels = bytes((seed + 7 * i) % 256 for i in range(3 * width * height))
    size = 54 + len(pixels)
    head = struct.pack("<2sIHHI", b"BM", size, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return head + info + pixels


class PackageTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as file:
            file.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as file:
            return file.read()

    def test_the_two_exports_and_convert_agree(self):
        card = bmp_file(5, 3)
        self.write("in.bmp", card)
        kestovatiff.bmp_to_tiff(self.path("in.bmp"), pathlib.Path(self.path("a.tif")))
        kestovatiff.convert(os.fsencode(self.path("in.bmp")), self.path("b.tif"))
        self.assertEqual(self.read("a.tif"), self.read("b.tif"))
        kestovatiff.tiff_to_bmp(self.path("a.tif"), self.path("back.bmp"))
        self.assertEqual(self.read("back.bmp"), card)
        kestovatiff.convert(self.path("a.tif"), self.path("own.bmp"))
        self.assertEqual(self.read("own.bmp"), card)

    def test_padded_rows(self):
        for width in range(1, 8):
            with self.subTest(width=width):
                self.write("in.bmp", bmp_file(width, 2, width))
                kestovatiff.convert(self.path("in.bmp"), self.path("in.tif"))
                kestovatiff.convert(self.path("in.tif"), self.path("out.bmp"), padded=True)
                stride = (3 * width + 3) // 4 * 4
                bmp = self.read("out.bmp")
                self.assertEqual(len(bmp), 54 + 2 * stride)
                self.assertEqual(struct.unpack_from("<I", bmp, 2)[0], len(bmp))
                rows = [bmp[54 + y * stride:54 + y * stride + 3 * width] for y in range(2)]
                self.assertEqual(b"".join(rows), bmp_file(width, 2, width)[54:])

    def test_each_exception_class(self):
        self.write("in.bmp", bmp_file(4, 3))
        self.write("text.txt", b"text")
        cases = [
            (kestovatiff.SourceError, -2, 10, errno.ENOENT, ("missing.bmp", "out.tif"), {}),
            (kestovatiff.FormatError, -3, 21, 0, ("text.txt", "out.tif"), {}),
            (kestovatiff.TooLargeError, -4, 61, 12, ("in.bmp", "out.tif"), {"max_pixels": 11}),
            (kestovatiff.DestinationError, -5, 70, errno.ENOENT, ("in.bmp", "no/out.tif"), {}),
            (kestovatiff.ArgumentError, -1, 3, 0, ("in.bmp", "out\ud800.tif"), {}),  # a lone surrogate
        ]
        for error, result, reason, value, (source, destination), options in cases:
            with self.subTest(error=error.__name__):
                with self.assertRaises(error) as caught:
                    kestovatiff.convert(self.path(source), self.path(destination), **options)
                self.assertIsInstance(caught.exception, kestovatiff.Error)
                self.assertEqual((caught.exception.result, caught.exception.reason, caught.exception.value),
                                 (result, reason, value))
                self.assertEqual(caught.exception.text, kestovatiff.reason_text(reason))
        self.assertEqual(sorted(os.listdir(self.dir)), ["in.bmp", "text.txt"])  # nothing written
        self.assertTrue(issubclass(kestovatiff.ArgumentError, ValueError))
        with self.assertRaises(kestovatiff.FormatError) as caught:
            kestovatiff.tiff_to_bmp(self.path("in.bmp"), self.path("out.bmp"))
        self.assertEqual((caught.exception.result, caught.exception.reason), (-3, 0))
        for bad in ({"background": "pink"}, {"max_pixels": -1}):
            with self.assertRaises(ValueError):
                kestovatiff.convert(self.path("in.bmp"), self.path("out.tif"), **bad)
        with self.assertRaises(kestovatiff.ArgumentError):
            kestovatiff.convert(self.path("in.bmp"), self.path("out\0.tif"))

    def test_background_flattens_transparency(self):
        # A 32-bit BMP of two pixels (BITMAPV3, alpha in the top byte): opaque, then alpha 128.
        pixels = struct.pack("<II", 0xFF102030, 0x80102030)
        head = struct.pack("<2sIHHI", b"BM", 70 + len(pixels), 0, 0, 70)
        info = struct.pack("<IiiHHIIiiIIIIII", 56, 2, 1, 1, 32, 3, len(pixels), 0, 0, 0, 0,
                           0xFF0000, 0xFF00, 0xFF, 0xFF000000)
        self.write("alpha.bmp", head + info + pixels)
        with self.assertRaises(kestovatiff.FormatError) as caught:
            kestovatiff.convert(self.path("alpha.bmp"), self.path("out.tif"))
        self.assertEqual(caught.exception.reason, 25)
        kestovatiff.convert(self.path("alpha.bmp"), self.path("out.tif"), background="white")
        flat = [int(128 / 255 * c + (1 - 128 / 255) * 255 + 0.5) for c in (0x10, 0x20, 0x30)]
        self.assertEqual(self.read("out.tif")[8:14], bytes([0x10, 0x20, 0x30] + flat))

    def test_a_file_name_that_is_not_utf8(self):
        if sys.platform == "win32":
            self.skipTest("Windows file names are UTF-16")
        name = os.fsencode(self.dir) + b"/caf\xe9.bmp"
        with open(name, "wb") as file:
            file.write(bmp_file(3, 2))
        kestovatiff.convert(name, os.fsencode(self.dir) + b"/r\xe9sum\xe9.tif")
        kestovatiff.convert(os.fsdecode(os.fsencode(self.dir) + b"/r\xe9sum\xe9.tif"), self.path("back.bmp"))
        self.assertEqual(sorted(os.listdir(os.fsencode(self.dir))), [b"back.bmp", b"caf\xe9.bmp", b"r\xe9sum\xe9.tif"])
        self.assertEqual(self.read("back.bmp"), bmp_file(3, 2))
        with self.assertRaises(kestovatiff.SourceError) as caught:
            kestovatiff.convert(os.fsencode(self.dir) + b"/\xff.bmp", self.path("x.tif"))
        self.assertIn("\udcff.bmp", str(caught.exception))

    def test_threads_convert_at_once(self):
        sources = [self.write("%d.bmp" % i, bmp_file(64 + i, 48, i)) for i in range(16)]

        def round_trip(i):
            kestovatiff.convert(sources[i], self.path("%d.tif" % i))
            kestovatiff.convert(self.path("%d.tif" % i), self.path("%d.back.bmp" % i))
            return self.read("%d.back.bmp" % i) == self.read("%d.bmp" % i)

        with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
            self.assertTrue(all(pool.map(round_trip, range(16))))

    @unittest.skipUnless(HEADER.exists(), "the header is not beside the package's tests")
    def test_reasons_are_the_headers(self):
        header = HEADER.read_text()
        numbers = dict(re.findall(r"(KESTOVA_REASON_\w+) = (\d+)", header))
        words = dict(re.findall(r'case (KESTOVA_REASON_\w+):\s*return "([^"]*)";', header))
        self.assertEqual(set(numbers), set(words))
        self.assertEqual({int(numbers[name]): words[name] for name in numbers}, kestovatiff.REASONS)

    @unittest.skipUnless(shutil.which("convert"), "ImageMagick's convert is missing")
    def test_padded_bmps_open_in_other_programs(self):
        self.write("in.bmp", bmp_file(5, 3))
        kestovatiff.convert(self.path("in.bmp"), self.path("in.tif"))
        kestovatiff.convert(self.path("in.tif"), self.path("out.bmp"), padded=True)
        out = subprocess.run(["convert", self.path("out.bmp"), "-depth", "8", "rgb:-"], capture_output=True, check=True)
        bgr = bmp_file(5, 3)[54:]
        rows = [bgr[y * 15:(y + 1) * 15] for y in reversed(range(3))]  # the top row first
        self.assertEqual(out.stdout, b"".join(bytes(row[x + 2 - 2 * (x % 3)] for x in range(15)) for row in rows))


if __name__ == "__main__":
    unittest.main()
