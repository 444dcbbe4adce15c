"""The font and the texture in data/: made again by their tools, byte for byte,
and in the layouts the program reads."""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

from velmorante_facts import DATA_FILES

MAKEFONT, MAKETEXTURE, FONT_TTF, DATA = sys.argv[1:5]
FONT, TEXTURE, _ = DATA_FILES

CODES, GLYPHS, SIDE = 256, 86, 16
FONT_SIZE = CODES + GLYPHS * SIDE * SIDE  # 22,272
TEX, BMP_PIXELS_AT = 256, 54


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Regenerated(unittest.TestCase):
    def check_same(self, command, name):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, name)
            subprocess.run(command + [out], check=True, timeout=120)
            made, kept = sha256(out), sha256(os.path.join(DATA, name))
        self.assertEqual(made, kept, f"{name}: the tool now makes {made}; "
                                     f"regenerate data/{name} with `make data` if that is meant")

    def test_font_tool_makes_the_committed_font(self):
        self.check_same([MAKEFONT, FONT_TTF], FONT)

    def test_texture_tool_makes_the_committed_texture(self):
        self.check_same([MAKETEXTURE], TEXTURE)


class FontLayout(unittest.TestCase):
    def setUp(self):
        self.data = read(os.path.join(DATA, FONT))
        self.map = self.data[:CODES]

    def glyph(self, g):
        start = CODES + g * SIDE * SIDE
        return self.data[start:start + SIDE * SIDE]

    def test_size_map_and_levels(self):
        self.assertEqual(len(self.data), FONT_SIZE)
        self.assertTrue(all(g < GLYPHS for g in self.map))
        self.assertTrue(all(t <= 15 for t in self.data[CODES:]))

    def test_space_and_codes_without_a_glyph_are_blank(self):
        self.assertFalse(any(self.glyph(0)))
        for code in [0, ord(" "), ord("$"), ord("_"), ord("~"), 127, 128, 200, 255]:
            self.assertEqual(self.map[code], 0, code)


class TextureLayout(unittest.TestCase):
    def setUp(self):
        self.path = os.path.join(DATA, TEXTURE)
        self.data = read(self.path)

    def test_header_says_what_the_loader_assumes(self):
        d = self.data
        self.assertEqual(len(d), BMP_PIXELS_AT + TEX * TEX * 3)
        self.assertEqual(d[:2], b"BM")
        u16 = lambda at: int.from_bytes(d[at:at + 2], "little")
        u32 = lambda at: int.from_bytes(d[at:at + 4], "little", signed=True)
        self.assertEqual(u32(2), len(d))
        self.assertEqual(u32(10), BMP_PIXELS_AT)
        self.assertEqual((u32(14), u32(18), u32(22)), (40, TEX, TEX))  # positive height: bottom-up
        self.assertEqual((u16(26), u16(28), u32(30)), (1, 24, 0))

    def test_an_independent_reader_sees_the_rows_bottom_up(self):
        image = Image.open(self.path)
        self.assertEqual((image.size, image.mode), ((TEX, TEX), "RGB"))
        first = self.data[BMP_PIXELS_AT:BMP_PIXELS_AT + 3]  # blue, green, red of the bottom-left pixel
        self.assertEqual(image.getpixel((0, TEX - 1)), (first[2], first[1], first[0]))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
