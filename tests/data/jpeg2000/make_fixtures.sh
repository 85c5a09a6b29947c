#!/bin/sh
# Regenerates the JPEG-2000 family fixtures with independent tools only:
# ImageMagick (source pictures, 32-bit Sun raster, 4-component JP2), netpbm
# (PNM and Sun raster), OpenJPEG's command-line tools (JP2, J2K, PGX) and
# Pillow (an ICC profile for one JP2). Run from this directory.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

convert rose: "$tmp/rose.ppm"                                   # 70x46 RGB
convert rose: -depth 16 "$tmp/rose16.ppm"
pgmramp -lr 61 37 > "$tmp/ramp.pgm"
convert rose: -colorspace gray -depth 8 "$tmp/grey.pgm"
convert rose: -alpha set -channel A -fx "(i+j)/(w+h)" +channel "$tmp/rgba.png"
convert rose: -colorspace gray -alpha set -channel A -fx "(i+2*j)/(w+2*h)" +channel \
    -define png:color-type=4 "$tmp/greya.png"

# JPEG-2000: 8-bit RGB, grey, 16-bit RGB and 4 components, lossless and lossy.
opj_compress -i "$tmp/rose.ppm" -o rgb8_lossless.jp2 >/dev/null 2>&1
opj_compress -i "$tmp/rose.ppm" -o rgb8_lossy.j2k -r 20 >/dev/null 2>&1
opj_compress -i "$tmp/grey.pgm" -o grey8_lossy.jp2 -q 32 >/dev/null 2>&1
opj_compress -i "$tmp/grey.pgm" -o grey8_lossless.j2k >/dev/null 2>&1
opj_compress -i "$tmp/rose16.ppm" -o rgb16_lossless.jp2 >/dev/null 2>&1
opj_compress -i "$tmp/rose16.ppm" -o rgb16_lossy.j2k -r 30 >/dev/null 2>&1
opj_compress -i "$tmp/rgba.png" -o rgba_lossless.jp2 >/dev/null 2>&1
opj_compress -i "$tmp/rgba.png" -o rgba_lossy.j2k -r 10 >/dev/null 2>&1
opj_compress -i "$tmp/greya.png" -o greya_lossless.jp2 >/dev/null 2>&1

# No tool writes these: the RGBA file without its channel definition (four
# components nothing marks), and with its colour box saying CMYK. OpenJPEG's
# decoder turns the CMYK file into the RGB reference.
/usr/bin/python3 - <<'PY'
import struct
from jp2_boxes import boxes
def rewrite(src, dst, enumcs):
    out = b""
    for t, box in boxes(open(src, "rb").read()):
        if t == b"jp2h":
            inner = b""
            for it, ib in boxes(box[8:]):
                if it == b"cdef":
                    continue
                if it == b"colr" and enumcs:
                    ib = ib[:11] + struct.pack(">I", enumcs) + ib[15:]
                inner += ib
            box = struct.pack(">I4s", 8 + len(inner), b"jp2h") + inner
        out += box
    open(dst, "wb").write(out)
rewrite("rgba_lossless.jp2", "four_unmarked.jp2", None)
rewrite("rgba_lossless.jp2", "cmyk.jp2", 12)
PY
opj_decompress -i cmyk.jp2 -o cmyk_reference.png >/dev/null 2>&1

# sYCC with 4:2:0 chroma: planar Y, Cb, Cr from Pillow; OpenJPEG marks
# sub-sampled raw input as sYCC.
/usr/bin/python3 - "$tmp/rose.ppm" "$tmp/ycc.raw" <<'PY'
import sys
from PIL import Image
y, cb, cr = Image.open(sys.argv[1]).convert("YCbCr").split()
half = (35, 23)
with open(sys.argv[2], "wb") as f:
    f.write(y.tobytes() + cb.resize(half, Image.BOX).tobytes() + cr.resize(half, Image.BOX).tobytes())
PY
opj_compress -i "$tmp/ycc.raw" -o sycc420.jp2 -F 70,46,3,8,u@1x1:2x2:2x2 -n 4 >/dev/null 2>&1

# The lossless RGB file again, its colour box carrying an sRGB ICC profile.
/usr/bin/python3 - <<'PY'
import struct
from PIL import ImageCms
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
data = open("rgb8_lossless.jp2", "rb").read()
from jp2_boxes import boxes
out = b""
for t, box in boxes(data):
    if t == b"jp2h":
        inner = b""
        for it, ib in boxes(box[8:]):
            if it == b"colr":
                body = bytes([2, 0, 0]) + icc
                ib = struct.pack(">I4s", 8 + len(body), b"colr") + body
            inner += ib
        box = struct.pack(">I4s", 8 + len(inner), b"jp2h") + inner
    out += box
open("rgb8_icc.jp2", "wb").write(out)
PY

# PGX at 8 and 12 bits, written by OpenJPEG's decoder.
# (the decoder names its output after the component: x_0.pgx)
opj_decompress -i grey8_lossless.j2k -o "$tmp/grey8.pgx" >/dev/null 2>&1
mv "$tmp/grey8_0.pgx" grey8.pgx
convert -size 64x40 gradient:black-white -depth 12 "$tmp/g12.pgm"
opj_compress -i "$tmp/g12.pgm" -o "$tmp/g12.j2k" >/dev/null 2>&1
opj_decompress -i "$tmp/g12.j2k" -o "$tmp/grey12.pgx" >/dev/null 2>&1
mv "$tmp/grey12_0.pgx" grey12.pgx
# ImageMagick reads 12-bit PGX samples as 16-bit ones: the source PGM is the
# reference for that file.
cp "$tmp/g12.pgm" grey12_source.pgm

# PNM P1-P6, ASCII and raw, with a non-power-of-two and a 16-bit maxval.
pgmtopbm -threshold "$tmp/ramp.pgm" > p4.pbm
pnmtoplainpnm p4.pbm > p1.pbm
pnmdepth 100 "$tmp/ramp.pgm" | pnmtoplainpnm > p2_max100.pgm
pnmtoplainpnm "$tmp/rose.ppm" > p3.ppm
cp "$tmp/grey.pgm" p5.pgm
cp "$tmp/rose.ppm" p6.ppm
cp "$tmp/rose16.ppm" p6_16bit.ppm

# Sun raster: 1, 8 (grey and colour map), 24 and 32 bits, standard and RLE.
pnmtorast -standard p4.pbm 2>/dev/null > mono1.ras
pnmtorast -standard "$tmp/grey.pgm" 2>/dev/null > grey8.ras
pnmquant 16 "$tmp/rose.ppm" 2>/dev/null | pnmtorast -standard > map8.ras
pnmtorast -standard "$tmp/rose.ppm" 2>/dev/null > rgb24.ras
pnmquant 16 "$tmp/rose.ppm" 2>/dev/null | pnmtorast -rle 2>/dev/null > map8_rle.ras
convert "$tmp/rgba.png" rgba32.ras

# 65 components: more than the codec takes.
/usr/bin/python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 37) % 256 for i in range(8 * 8 * 65)))" > "$tmp/c65.raw"
opj_compress -i "$tmp/c65.raw" -o comps65.j2k -F 8,8,65,8,u -n 2 >/dev/null 2>&1

# Noise in 32 x 32 tiles: the decoder reads each tile's data before it
# decodes it, so a cancel is seen between tiles.
/usr/bin/python3 -c "import random, sys; random.seed(7); sys.stdout.buffer.write(b'P6\n128 128\n255\n' + bytes(random.randrange(64) for _ in range(128 * 128 * 3)))" > "$tmp/noise.ppm"
opj_compress -i "$tmp/noise.ppm" -o tiled.jp2 -t 32,32 >/dev/null 2>&1

# sYCC with an opacity channel, the same code stream with the opacity listed
# last and first in the channel definitions (opacity 50 + 20 x column).
/usr/bin/python3 - "$tmp" <<'PY'
import sys
t = sys.argv[1]
alpha = bytes(50 + (i % 8) * 20 for i in range(64))
y = bytes((i % 8) * 30 for i in range(64))
open(t + "/last.raw", "wb").write(y + bytes([90]) * 64 + bytes([170]) * 64 + alpha)
open(t + "/first.raw", "wb").write(alpha + y + bytes([90]) * 64 + bytes([170]) * 64)
PY
for order in last first; do
    opj_compress -i "$tmp/$order.raw" -o "$tmp/$order.j2k" -F 8,8,4,8,u -n 2 -mct 0 >/dev/null 2>&1
done
/usr/bin/python3 - "$tmp" <<'PY'
import struct, sys
t = sys.argv[1]
def box(kind, body):
    return struct.pack(">I", 8 + len(body)) + kind + body
for order, channels in (("last", [(0, 0, 1), (1, 0, 2), (2, 0, 3), (3, 1, 0)]),
                        ("first", [(0, 1, 0), (1, 0, 1), (2, 0, 2), (3, 0, 3)])):
    cdef = box(b"cdef", struct.pack(">H", 4) + b"".join(struct.pack(">HHH", *c) for c in channels))
    header = box(b"jp2h", box(b"ihdr", struct.pack(">IIHBBBB", 8, 8, 4, 7, 7, 0, 0)) +
                 box(b"colr", struct.pack(">BBBI", 1, 0, 0, 18)) + cdef)
    stream = open(t + "/" + order + ".j2k", "rb").read()
    open("sycc_alpha_" + order + ".jp2", "wb").write(
        box(b"jP  ", b"\r\n\x87\n") + box(b"ftyp", b"jp2 " + bytes(4) + b"jp2 ") + header +
        box(b"jp2c", stream))
PY
