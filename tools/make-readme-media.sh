#!/bin/sh
# Makes the README's screenshot and animated preview with velmorante-capture:
# frame 3000 as a PNG, and frames 2900-2989 (3 s at 30 a second) as a small GIF.
# Run from the top of the tree after `make build`.
set -eu
capture=$(pwd)/build/release/velmorante-capture
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd data
"$capture" --frame 3000 --out "$scratch"
cp "$scratch/frame-3000.png" ../docs/screenshot.png
"$capture" --frames 2900:2989 --rate 30 --out "$scratch/preview.mkv"
ffmpeg -v error -y -i "$scratch/preview.mkv" -vf \
  "fps=10,scale=400:-1:flags=lanczos,split[a][b];[a]palettegen=max_colors=64:stats_mode=diff[p];[b][p]paletteuse=dither=none:diff_mode=rectangle" \
  -loop 0 ../docs/preview.gif
