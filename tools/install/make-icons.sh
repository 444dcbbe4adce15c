#!/bin/sh
# Makes the icons tools/install/icons/velmorante-SIZE.png (SIZE 16, 32, 48, 64,
# 128, 256) from frame 3000 of the demo, captured by velmorante-capture: the
# 200 x 200 square of the tile where the robot walks past the sun (the same
# frame as docs/screenshot.png), scaled down with a Lanczos filter. The icons
# are committed; run this only to make them again, from the top of the tree
# after `make build` (it needs Python 3 with Pillow, which `make build` installs).
set -eu
capture=$(pwd)/build/release/velmorante-capture
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd data && "$capture" --frame 3000 --out "$scratch")
/usr/bin/python3 - "$scratch/frame-3000.png" tools/install/icons <<'PY'
import sys
from PIL import Image

frame, folder = sys.argv[1], sys.argv[2]
square = Image.open(frame).convert("RGB").crop((130, 390, 330, 590))
for size in (16, 32, 48, 64, 128, 256):
    icon = square.resize((size, size), Image.LANCZOS)
    icon.save(f"{folder}/velmorante-{size}.png", optimize=True)
PY
