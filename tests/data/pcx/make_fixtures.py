#!/usr/bin/python3
"""Regenerates the PCX fixtures with Pillow, netpbm (ppmtopcx) and ImageMagick.

Odd widths throughout (23 and 13 pixels), so that the even line length and its
pad byte are exercised.
"""
import os
import subprocess
import tempfile

from PIL import Image

os.chdir(os.path.dirname(os.path.abspath(__file__)))


def source(w, h):
    im = Image.new("RGB", (w, h))
    for y in range(h):
        for x in range(w):
            im.putpixel((x, y), (x * 11 % 256, y * 15 % 256, (x * y * 7) % 256))
    return im


def few_colours(w, h, n):
    colours = [(0, 0, 0), (255, 255, 255), (200, 30, 40), (20, 160, 60), (30, 40, 210),
               (250, 220, 10), (120, 0, 130), (0, 200, 200), (90, 90, 90), (255, 128, 0),
               (10, 80, 30), (180, 180, 255), (60, 20, 10), (128, 255, 128), (220, 100, 180),
               (40, 40, 120)][:n]
    im = Image.new("RGB", (w, h))
    for y in range(h):
        for x in range(w):
            im.putpixel((x, y), colours[(x // 2 + y * 3) % n])
    return im


rgb = source(23, 17)
# Pillow: 1-bit, 8-bit with the 256-colour trailer, 24-bit (3 planes).
rgb.convert("1").save("pil_1bit.pcx")
rgb.quantize(60).save("pil_8bit.pcx")
rgb.convert("L").save("pil_grey8.pcx")
rgb.save("pil_rgb24.pcx")
source(13, 9).save("pil_rgb24_w13.pcx")

with tempfile.TemporaryDirectory() as tmp:
    def netpbm(im, name, *options):
        ppm = os.path.join(tmp, "src.ppm")
        im.save(ppm)
        with open(name, "wb") as out:
            subprocess.run(["ppmtopcx", *options, ppm], stdout=out, check=True,
                           stderr=subprocess.DEVNULL)

    # Bit planes: 4 planes of 1 bit (16 colours), and the 2- and 3-plane forms.
    netpbm(few_colours(23, 11, 16), "netpbm_4planes.pcx", "-planes", "4")
    netpbm(few_colours(13, 7, 4), "netpbm_2planes.pcx", "-planes", "2")
    netpbm(few_colours(23, 9, 8), "netpbm_3planes.pcx", "-planes", "3")
    # Packed pixels of 2 and 4 bits in one plane.
    netpbm(few_colours(13, 7, 4), "netpbm_packed2.pcx", "-packed")
    netpbm(few_colours(23, 9, 16), "netpbm_packed4.pcx", "-packed")
    netpbm(source(13, 9), "netpbm_rgb24.pcx", "-24bit")
    netpbm(few_colours(23, 9, 16), "netpbm_8bit.pcx", "-8bit")

    subprocess.run(["convert", os.path.join(tmp, "src.ppm"), "-colors", "40", "-type", "Palette",
                    "magick_8bit.pcx"], check=True)
