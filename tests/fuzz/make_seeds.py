#!/usr/bin/python3
"""Writes the fuzzers' own seeds into tests/fuzz/seeds/: small FLI files, each
built to reach a part of the walk that random changes to the real files take
long to find. The names of the format's fields are those of src/FLIplay.h.

    python3 tests/fuzz/make_seeds.py        # from the top of the tree
"""
import os
import struct

FLI_HEADER_BYTES = 128
FLI_SIZE_AT, FLI_MAGIC_AT, FLI_FRAMES_AT, FLI_WIDTH_AT, FLI_HEIGHT_AT = 0, 4, 6, 8, 10
FLI_MAGIC, FRAME_MAGIC = 0xAF11, 0xF1FA
COLOR_256, COLOR_64, LC, BLACK, BYTE_RUN, COPY = 4, 11, 12, 13, 15, 16
UNHANDLED = 99
SLOT_WORDS = 320 * 200
# The stores of the two fuzz targets: the program's and fuzz_fli_fast's.
STORES = {"32m": 32 << 20, "64k": 64 << 10}
FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")


def chunk(kind, body=b"", size=None):
    """A chunk header (its true size unless `size` is given) and its body."""
    return struct.pack("<IH", 6 + len(body) if size is None else size, kind) + body


def frame(chunks, size=None, count=None):
    """A frame header (true size and count unless given) and its chunks."""
    body = b"".join(chunks)
    n = len(chunks) if count is None else count
    return struct.pack("<IHH8x", 16 + len(body) if size is None else size, FRAME_MAGIC, n) + body


def fli(frames, height=200, size=None):
    """A file: the 128-byte header (true size unless given), then the frames."""
    body = b"".join(frames)
    header = bytearray(FLI_HEADER_BYTES)
    struct.pack_into("<IHHHH", header, FLI_SIZE_AT, FLI_HEADER_BYTES + len(body) if size is None else size,
                     FLI_MAGIC, len(frames), 320, height)
    return bytes(header) + body


PALETTE = chunk(COLOR_256, struct.pack("<HBB", 1, 0, 2) + bytes([0, 0, 0, 40, 80, 120]))
# One LC line: row 0, one packet filling 128 pixels with index 1.
STRIPE = chunk(LC, struct.pack("<HHBBbB", 0, 1, 1, 0, -128, 1))

SEEDS = {
    # A second BLACK while the picture is still black from the first.
    "black-after-black.fli": fli([frame([PALETTE, STRIPE, chunk(BLACK), chunk(BLACK)])]),
    # One unhandled chunk of size 0, counted 65,535 times, in a frame of size 0
    # that is walked again: more lines than a walk call prints.
    "unhandled-lines.fli": fli([frame([chunk(UNHANDLED, size=0)], size=0, count=65535)]),
    # A frame size that wraps to 16 bytes below 2^32: the next frame header's
    # reserved bytes are read from past the store's end.
    "past-the-store.fli": fli([frame([PALETTE, STRIPE], size=0x100000000 - 16)]),
    # COPY whose file ends 10 bytes into its picture: the rest reads as 255.
    "copy-cut-short.fli": fli([frame([PALETTE, chunk(COPY, bytes(range(10)), size=6 + SLOT_WORDS)],
                                     size=16 + 6 + 6 + 6 + SLOT_WORDS)],
                              size=FLI_HEADER_BYTES + 16 + 6 + 6 + 6 + SLOT_WORDS),
    # BYTE_RUN in a file whose header gives 0 lines: it reads nothing.
    "byte-run-no-lines.fli": fli([frame([PALETTE, chunk(BYTE_RUN, bytes([1, 100, 1]))])], height=0),
    # An LC chunk of size 0 read twice: the second time moves on a row.
    "lc-twice.fli": fli([frame([PALETTE, chunk(LC, struct.pack("<HHBBbB", 0, 1, 1, 0, -100, 1), size=0)],
                               count=3)]),
    # COLOR_64 packets past the last entry: 200 + 100 colours, then one more.
    "palette-past-255.fli": fli([frame([chunk(COLOR_64, struct.pack("<HBB", 2, 200, 100) + bytes(k % 64 for k in range(300)) +
                                               bytes([0, 1, 63, 63, 63])), STRIPE])]),
}
# A first frame that ends 12 bytes before the store's end: the next header's
# reserved bytes run across it.
for name, store in STORES.items():
    SEEDS[f"store-end-{name}.fli"] = fli([frame([PALETTE, STRIPE], size=store - 12)])


def main():
    os.makedirs(FOLDER, exist_ok=True)
    for name, data in sorted(SEEDS.items()):
        with open(os.path.join(FOLDER, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
