#!/usr/bin/python3
"""Regenerates the TGA fixtures.

Pillow, ImageMagick and netpbm write the usual variants; 16-bit pixels, which
no tool here writes, are built byte by byte (Pillow reads them back). Packets
that cross rows and colour maps with a first entry are built in the tests.
"""
import os
import struct
import subprocess
import tempfile

from PIL import Image

os.chdir(os.path.dirname(os.path.abspath(__file__)))
W, H = 23, 17


def rgba_source():
    im = Image.new("RGBA", (W, H))
    for y in range(H):
        for x in range(W):
            im.putpixel((x, y), (x * 11 % 256, y * 15 % 256, (x * y * 7) % 256,
                                 (x * 23 + y * 5) % 256))
    return im


def header(id_len=0, cmap_type=0, img_type=2, first=0, length=0, entry_bits=0,
           w=W, h=H, depth=24, desc=0):
    return struct.pack("<BBBHHBHHHHBB", id_len, cmap_type, img_type, first, length,
                       entry_bits, 0, 0, w, h, depth, desc)


rgba = rgba_source()
rgb = rgba.convert("RGB")
pal = rgb.quantize(40)
grey = rgb.convert("L")

# Pillow: true colour, alpha, grey, colour-mapped; raw and run-length; both origins.
rgb.save("pil_rgb24.tga")
rgba.save("pil_rgba32.tga")
grey.save("pil_grey.tga")
pal.save("pil_mapped.tga")
rgb.save("pil_rgb24_rle.tga", compression="tga_rle")
rgba.save("pil_rgba32_rle.tga", compression="tga_rle")
pal.save("pil_mapped_rle.tga", compression="tga_rle")
rgba.save("pil_rgba32_topleft.tga", orientation=1)
grey.save("pil_grey_rle_topleft.tga", compression="tga_rle", orientation=1)

# ImageMagick and netpbm as second writers.
with tempfile.TemporaryDirectory() as tmp:
    ppm = os.path.join(tmp, "src.ppm")
    rgb.save(ppm)
    subprocess.run(["convert", ppm, "-compress", "RLE", "magick_rgb24_rle.tga"], check=True)
    subprocess.run(["convert", ppm, "-colors", "30", "-type", "Palette", "magick_mapped.tga"],
                   check=True)
    few = os.path.join(tmp, "few.ppm")
    pal.convert("RGB").save(few)
    # 15-bit colour map entries; Pillow misreads them, tgatoppm is the reference.
    with open("netpbm_cmap16.tga", "wb") as out:
        subprocess.run(["pamtotga", "-cmap16", "-norle", "-name", "netpbm", few], stdout=out, check=True)

# 16-bit pixels, raw; the top bit is an attribute bit and must not matter.
px = rgb.load()
body = bytearray()
for y in range(H - 1, -1, -1):
    for x in range(W):
        r, g, b = px[x, y]
        v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3) | (0x8000 if x & 1 else 0)
        body += struct.pack("<H", v)
open("built_rgb16.tga", "wb").write(header(depth=16) + body)
