#!/usr/bin/python3
"""Regenerates the orientation fixtures: orientN.jpg holds one upright 24 x 16
picture stored turned so that EXIF orientation N (Pillow writes the tag) shows
it upright again; orientN.png is ImageMagick's `convert -auto-orient` of it.
Run from anywhere: ./make_fixtures.py
"""
import os
import subprocess

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"

# What a viewer does to show orientation N upright, undone: the stored picture.
STORED = {
    1: [],
    2: [Image.Transpose.FLIP_LEFT_RIGHT],
    3: [Image.Transpose.ROTATE_180],
    4: [Image.Transpose.FLIP_TOP_BOTTOM],
    5: [Image.Transpose.TRANSPOSE],
    6: [Image.Transpose.ROTATE_90],
    7: [Image.Transpose.TRANSVERSE],
    8: [Image.Transpose.ROTATE_270],
}


def upright():
    im = Image.new("RGB", (24, 16), (255, 255, 255))
    d = ImageDraw.Draw(im)
    d.rectangle([0, 0, 7, 7], fill=(255, 0, 0))      # top left red
    d.rectangle([16, 0, 23, 7], fill=(0, 0, 255))    # top right blue
    d.rectangle([0, 8, 7, 15], fill=(0, 160, 0))     # bottom left green
    return im


def main():
    for n, ops in STORED.items():
        im = upright()
        for op in ops:
            im = im.transpose(op)
        exif = Image.Exif()
        exif[0x0112] = n
        jpg = os.path.join(HERE, f"orient{n}.jpg")
        im.save(jpg, quality=95, subsampling=0, exif=exif.tobytes())
        subprocess.run([CONVERT, jpg, "-auto-orient", os.path.join(HERE, f"orient{n}.png")],
                       check=True)


if __name__ == "__main__":
    main()
