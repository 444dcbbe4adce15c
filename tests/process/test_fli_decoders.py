"""The slots the demo decodes, compared frame by frame with two independent FLI
decoders, FFmpeg and Pillow; and data/robotrk.fli checked against its tool."""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(__file__))
import demo  # noqa: E402

DUMP, MAKE_ROBOTRK, DATA, TEST_FLI = sys.argv[1:5]
ROBOTRK = os.path.join(DATA, "robotrk.fli")
SLOT = 320 * 200
ANIM_FRAMES = 698
COLOR_256, COLOR_64, LC, BLACK, BYTE_RUN, COPY = 4, 11, 12, 13, 15, 16


def records(path):
    """The frame records of a file: a list of [(chunk type, chunk body)] per record."""
    data = open(path, "rb").read()
    out, p = [], 128
    while p + 16 <= len(data):
        size, _, count = struct.unpack_from("<IHH", data, p)
        chunks, q = [], p + 16
        for _ in range(count):
            csize, ctype = struct.unpack_from("<IH", data, q)
            chunks.append((ctype, data[q + 6:q + csize]))
            q += csize
        out.append(chunks)
        if size == 0:
            break
        p += size
    return out


def first_palette_change(path):
    """Index of the first record after the first that carries a COLOR chunk."""
    for i, chunks in enumerate(records(path)):
        if i > 0 and any(t in (COLOR_256, COLOR_64) for t, _ in chunks):
            return i
    return None


def ours(path, first, last):
    """Slots first..last as an array of words, one row a slot."""
    out = subprocess.run([DUMP, "slots", path, str(first), str(last)], stdout=subprocess.PIPE, check=True,
                         timeout=120).stdout
    return np.frombuffer(out, dtype="<u4").reshape(-1, SLOT)


def ffmpeg_frames(path):
    """FFmpeg's frames as 0x00RRGGBB words (bgr0 bytes), one at a time."""
    proc = subprocess.Popen(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgr0", "-"],
                            stdout=subprocess.PIPE)
    while True:
        raw = proc.stdout.read(SLOT * 4)
        if len(raw) < SLOT * 4:
            break
        yield np.frombuffer(raw, dtype="<u4") & 0xFFFFFF
    proc.wait(timeout=60)


def widened(words):
    """FFmpeg's 6-bit scaling applied to our 8-bit components: c | c >> 6."""
    return words | (words >> 6) & 0x030303


def pillow_words(im):
    rgb = np.asarray(im.convert("RGB"), dtype=np.uint32).reshape(-1, 3)
    return rgb[:, 0] << 16 | rgb[:, 1] << 8 | rgb[:, 2]


class AgainstFFmpeg(demo.ProcessTest):
    def check(self, path, expected_frames):
        slots = ours(path, 1, ANIM_FRAMES)
        count = 0
        for k, theirs in enumerate(ffmpeg_frames(path)):
            count += 1
            if k >= ANIM_FRAMES:
                continue
            diff = np.nonzero(widened(slots[k]) != theirs)[0]
            self.assertEqual(len(diff), 0, f"{path}: frame {k} differs at pixel {diff[:1]}")
        self.assertEqual(count, expected_frames, path)
        # After the records run out, the walk stays on zero bytes: the last picture repeats.
        for s in range(min(count, ANIM_FRAMES), ANIM_FRAMES):
            self.assertTrue(np.array_equal(slots[s], slots[count - 1]), f"{path}: slot {s + 1}")

    def test_robotrk(self):
        self.check(ROBOTRK, ANIM_FRAMES + 1)  # FFmpeg also decodes the ring frame

    def test_real_files(self):
        self.check(os.path.join(TEST_FLI, "ANN2.FLI"), 20)
        self.check(os.path.join(TEST_FLI, "a.fli"), 385)


class AgainstPillow(unittest.TestCase):
    """Pillow reads the palette once, so it agrees until the palette first changes."""

    def check(self, path, width=320):
        im = Image.open(path)
        end = first_palette_change(path) or im.n_frames
        end = min(end, im.n_frames, ANIM_FRAMES)
        slots = ours(path, 1, end)
        for k in range(end):
            im.seek(k)
            theirs = pillow_words(im)
            # A narrower picture lies in raster order from pixel 0: the byte run
            # position runs on across lines.
            self.assertTrue(np.array_equal(slots[k][:theirs.size], theirs), f"{path}: frame {k}")
        return end

    def test_robotrk(self):
        self.assertGreater(self.check(ROBOTRK), 300)

    def test_real_files(self):
        self.assertEqual(self.check(os.path.join(TEST_FLI, "ANN2.FLI")), 19)
        self.assertEqual(self.check(os.path.join(TEST_FLI, "a.fli")), 274)
        for name in ("hopper.fli", "hopper_palette_chunk_second.fli"):
            self.assertEqual(self.check(os.path.join(TEST_FLI, name)), 1)


class Robotrk(unittest.TestCase):
    def test_tool_makes_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "robotrk.fli")
            subprocess.run([MAKE_ROBOTRK, out], check=True, timeout=300)
            made = open(out, "rb").read()
        kept = open(ROBOTRK, "rb").read()
        self.assertEqual(hashlib.sha256(made).hexdigest(), hashlib.sha256(kept).hexdigest(),
                         "data/robotrk.fli is not what tools/make_robotrk makes: rerun "
                         "build/release/tools/make_robotrk data/robotrk.fli")

    def test_layout(self):
        data = open(ROBOTRK, "rb").read()
        size, magic, frames, width, height = struct.unpack_from("<IHHHH", data, 0)
        self.assertEqual((size, magic, frames, width, height), (len(data), 0xAF11, ANIM_FRAMES, 320, 200))
        self.assertLessEqual(len(data), 8 << 20)
        recs = records(ROBOTRK)
        self.assertIn(len(recs), (ANIM_FRAMES, ANIM_FRAMES + 1))
        self.assertEqual([t for t, _ in recs[0]], [COLOR_256, BYTE_RUN])
        used = {t for chunks in recs for t, _ in chunks}
        self.assertLessEqual(used, {COLOR_256, COLOR_64, LC, BLACK, BYTE_RUN, COPY})
        self.assertLessEqual({COLOR_64, BLACK, COPY}, used)
        for k, chunks in enumerate(recs[1:], 1):
            types = [t for t, _ in chunks]
            self.assertNotIn(COLOR_256, types, k)
            self.assertLessEqual(sum(t in (LC, BLACK, BYTE_RUN, COPY) for t in types), 1, k)

    def test_palette_entry_zero_stays_black(self):
        for k, chunks in enumerate(records(ROBOTRK)):
            for t, body in chunks:
                if t not in (COLOR_256, COLOR_64):
                    continue
                packets, p, i = struct.unpack_from("<H", body, 0)[0], 2, 0
                for _ in range(packets):
                    i += body[p]
                    n = body[p + 1] or 256
                    if i == 0:
                        self.assertEqual(body[p + 2:p + 5], b"\0\0\0", f"record {k}")
                    p += 2 + 3 * n
                    i += n


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
