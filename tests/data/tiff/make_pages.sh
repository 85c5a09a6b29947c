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
