#!/bin/sh
# Regenerates pages3.tif: three pages of differing size and kind (RGB,
# grey, RGB), drawn by ImageMagick and joined by tiffcp.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 40x30 gradient:red-blue -depth 8 -compress none "$tmp/a.tif"
convert -size 24x20 gradient:white-black -colorspace Gray -depth 8 -compress none "$tmp/b.tif"
convert -size 40x30 pattern:checkerboard -fill green -draw "circle 20,15 20,5" -depth 8 \
    -type TrueColor -compress none "$tmp/c.tif"
tiffcp -c lzw "$tmp/a.tif" "$tmp/b.tif" "$tmp/c.tif" pages3.tif

# grow2.tif: a small first page before a large one (the memory budget must
# size a row keeping both by the large one).
convert -size 4x4 xc:red -depth 8 -compress none "$tmp/s.tif"
convert -size 1000x1000 xc:blue -depth 8 -compress none "$tmp/l.tif"
tiffcp -c lzw "$tmp/s.tif" "$tmp/l.tif" grow2.tif
