#!/usr/bin/python3
"""Regenerates the ICO/CUR fixtures.

netpbm (ppmtowinicon) writes 1, 4 and 8-bit icons with AND masks and icons with
several entries; ImageMagick writes 32-bit icons; Pillow writes PNG entries.
No tool here writes cursors: cursor.cur is an icon with its type word set to 2
and a hot spot in the fields icons use for planes and bit count.
"""
import os
import struct
import subprocess
import tempfile

from PIL import Image

os.chdir(os.path.dirname(os.path.abspath(__file__)))

PALETTE = [(200, 30, 40), (20, 160, 60), (30, 40, 210), (250, 220, 10), (40, 40, 40),
           (255, 255, 255), (0, 200, 200)]


def picture(size, colours, shift=0):
    im = Image.new("RGB", (size, size))
    for y in range(size):
        for x in range(size):
            if len(colours) > 16:
                im.putpixel((x, y), colours[(x * 3 + y * 7 + shift) % len(colours)])
            else:
                im.putpixel((x, y), colours[(x // 3 + y // 4 + shift) % len(colours)])
    return im


def mask(size, shift=0):
    # Black = transparent for ppmtowinicon's AND-mask maps: a corner and a stripe.
    m = Image.new("L", (size, size), 255)
    for y in range(size):
        for x in range(size):
            if (x < size // 4 and y < size // 3) or (x + shift) % 7 == 6:
                m.putpixel((x, y), 0)
    return m


def winicon(name, pairs):
    with tempfile.TemporaryDirectory() as tmp:
        args = []
        for i, (im, m) in enumerate(pairs):
            p, a = os.path.join(tmp, f"{i}.ppm"), os.path.join(tmp, f"{i}.pgm")
            im.save(p)
            m.save(a)
            args += [p, a]
        with open(name, "wb") as out:
            subprocess.run(["ppmtowinicon", "-andpgms", *args], stdout=out, check=True,
                           stderr=subprocess.DEVNULL)


many = [((i * 37) % 256, (i * 91) % 256, (i * 53) % 256) for i in range(40)]
winicon("netpbm_1bit.ico", [(picture(16, [(0, 0, 0), (255, 255, 255)]), mask(16))])
winicon("netpbm_4bit_mask.ico", [(picture(16, PALETTE[:5]), mask(16))])
winicon("netpbm_8bit_mask.ico", [(picture(32, many), mask(32, 2))])
winicon("netpbm_three.ico", [(picture(16, PALETTE[:5]), mask(16)),
                             (picture(32, many, 3), mask(32, 1)),
                             (picture(24, PALETTE, 2), mask(24, 4))])

rgba = Image.new("RGBA", (24, 24))
for y in range(24):
    for x in range(24):
        rgba.putpixel((x, y), (x * 10, y * 10, (x * y) % 256, 0 if x < 4 else (x * 11 + y) % 256))
with tempfile.TemporaryDirectory() as tmp:
    src = os.path.join(tmp, "a.png")
    rgba.save(src)
    subprocess.run(["convert", src, "magick_32bit.ico"], check=True)

rgba.resize((32, 32)).save("pil_png_entry.ico", sizes=[(32, 32)])

data = bytearray(open("netpbm_4bit_mask.ico", "rb").read())
struct.pack_into("<H", data, 2, 2)
struct.pack_into("<HH", data, 6 + 4, 5, 7)
open("cursor.cur", "wb").write(bytes(data))
