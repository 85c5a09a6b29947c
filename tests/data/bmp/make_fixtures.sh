#!/usr/bin/env bash
# Regenerates the BMP fixtures with independent tools (ImageMagick, Pillow).
# Variants no tool writes (RLE4, top-down, 16-bit without masks, the 52-, 56-
# and 108-byte headers, 10-bit fields) are derived from tool output by small
# byte edits in make_derived.py.
set -euo pipefail
cd "$(dirname "$0")"
py=/usr/bin/python3
convert=/usr/bin/convert
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A 13 x 7 source: odd width so every depth has row padding. The RGBA copy
# has the same colours and an alpha ramp.
$py - "$tmp/src.png" "$tmp/srca.png" <<'PY'
import sys
from PIL import Image
im = Image.new("RGB", (13, 7))
for y in range(7):
    for x in range(13):
        im.putpixel((x, y), ((x * 19) & 255, (y * 37) & 255, (x * y * 11) & 255))
im.save(sys.argv[1])
im.putalpha(Image.frombytes("L", (13, 7), bytes((x * 20 + y * 9) & 255
                                                  for y in range(7) for x in range(13))))
im.save(sys.argv[2])
PY

$convert "$tmp/src.png" -monochrome BMP3:bits1.bmp
$convert "$tmp/src.png" -colors 16 -type palette BMP3:bits4.bmp
$convert "$tmp/src.png" -colors 200 -type palette -compress None BMP3:bits8.bmp
$convert "$tmp/src.png" -colors 200 -type palette -compress RLE BMP3:rle8.bmp
$convert "$tmp/src.png" -define bmp:subtype=RGB555 BMP:v5_555.bmp
$convert "$tmp/src.png" -define bmp:subtype=RGB565 BMP:v5_565.bmp
$convert "$tmp/src.png" BMP3:bits24.bmp
$convert "$tmp/src.png" BMP:v5_24.bmp
$convert "$tmp/src.png" BMP2:os2_24.bmp
$convert "$tmp/src.png" -colors 16 -type palette BMP2:os2_4.bmp
# ImageMagick's default (version 4 and 5 headers): palette pictures from a
# GIF as RLE8, 1-bit with a 108-byte header, alpha as 32 and 16-bit fields.
$convert "$tmp/src.png" -colors 40 "$tmp/src.gif"
$convert "$tmp/src.gif" v5_rle8.bmp
$convert "$tmp/src.png" -colors 16 -type palette BMP:v5_pal4.bmp
$convert "$tmp/src.png" -monochrome BMP:v4_1.bmp
$convert "$tmp/srca.png" BMP:v5_argb32.bmp
$convert "$tmp/srca.png" -define bmp:subtype=ARGB4444 BMP:v5_argb4444.bmp
$convert "$tmp/srca.png" -define bmp:subtype=ARGB1555 BMP:v5_argb1555.bmp
$py -c "
from PIL import Image
im = Image.open('$tmp/src.png')
im.convert('RGBA').save('bits32.bmp')
im.quantize(40).save('pil8.bmp')
im.convert('1').save('pil1.bmp')
"
$py make_derived.py "$tmp"
