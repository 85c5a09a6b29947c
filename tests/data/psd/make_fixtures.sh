#!/bin/sh
# Regenerates the PSD/PSB fixtures with ImageMagick, and beside each one the
# RGBA that ImageMagick decodes it to (the tests compare against those).
set -e
cd "$(dirname "$0")"
src="-size 23x13 gradient:red-blue ( -size 23x13 gradient:white-black -rotate 90 -resize 23x13! ) -compose multiply -composite"
alpha="( -size 23x13 gradient:white-#00000040 ) -alpha off -compose copy_opacity -composite"
convert $src -depth 8 -compress RLE rgb8_rle.psd
convert $src -depth 8 -compress None rgb8_raw.psd
convert $src -depth 16 -compress RLE rgb16_rle.psd
convert $src -colorspace Gray -depth 8 -compress RLE grey8_rle.psd
convert $src -colorspace Gray -depth 16 -compress None grey16_raw.psd
convert $src -colorspace CMYK -depth 8 -compress RLE cmyk8_rle.psd
convert $src $alpha -depth 8 -compress RLE rgba8_rle.psd
convert $src $alpha -depth 16 -compress RLE rgba16_rle.psd
convert $src -depth 8 -compress RLE PSB:rgb8_rle.psb
convert $src $alpha -depth 8 -compress None PSB:rgba8_raw.psb
convert $src -colors 7 -type Palette -depth 8 -compress RLE indexed8_rle.psd
for f in *.psd *.psb; do
  case "$f" in
    # ImageMagick refuses the palette it writes: Pillow decodes that one.
    indexed*) /usr/bin/python3 -c "import sys; from PIL import Image; sys.stdout.buffer.write(Image.open('$f').convert('RGBA').tobytes())" >"$f.rgba" ;;
    *) convert "$f[0]" -depth 8 RGBA:"$f.rgba" ;;
  esac
done
