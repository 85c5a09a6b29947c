#!/usr/bin/python3
"""Regenerates the PNG fixtures with Pillow and ImageMagick (never with Vellumar).

Run from anywhere: /usr/bin/python3 tests/data/png/make_fixtures.py
Sixteen-bit samples are multiples of 257 so that every 8-bit reduction agrees.
"""
import os
import subprocess
import tempfile

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 37, 23  # odd sizes: row padding and partial bytes


def out(name):
    return os.path.join(HERE, name)


def magick(*args):
    # No time stamps: regenerated files stay byte-identical.
    subprocess.run(["convert", *args[:-1], "-define", "png:exclude-chunks=date,time,tIME",
                    args[-1]], check=True)


def netpbm_grey(name, levels, maxval, interlace=False):
    """Grey PNG at the smallest depth that holds `maxval`, written by pnmtopng."""
    pgm = os.path.join(tempfile.mkdtemp(), "g.pgm")
    with open(pgm, "w") as f:
        f.write(f"P2\n{W} {H}\n{maxval}\n")
        for row in levels:
            f.write(" ".join(str(int(v)) for v in row) + "\n")
    args = ["pnmtopng"] + (["-interlace"] if interlace else []) + [pgm]
    with open(out(name), "wb") as f:
        subprocess.run(args, check=True, stdout=f)


def netpbm_palette(name, colours, interlace=False):
    """Palette PNG written by pnmtopng from a plain PPM with few colours."""
    rgb = np.array(palette_image(colours).convert("RGB"))
    ppm = os.path.join(tempfile.mkdtemp(), "p.ppm")
    with open(ppm, "w") as f:
        f.write(f"P3\n{W} {H}\n255\n")
        for row in rgb:
            f.write(" ".join(str(int(v)) for v in row.flatten()) + "\n")
    args = ["pnmtopng"] + (["-interlace"] if interlace else []) + [ppm]
    with open(out(name), "wb") as f:
        subprocess.run(args, check=True, stdout=f)


def grey_ramp():
    y, x = np.mgrid[0:H, 0:W]
    return ((x * 7 + y * 11) % 256).astype(np.uint8)


def rgb_pattern():
    y, x = np.mgrid[0:H, 0:W]
    r = (x * 255 // (W - 1)).astype(np.uint8)
    g = (y * 255 // (H - 1)).astype(np.uint8)
    b = ((x * 13 + y * 29) % 256).astype(np.uint8)
    return np.dstack([r, g, b])


def alpha_pattern():
    y, x = np.mgrid[0:H, 0:W]
    a = ((x * 17 + y * 5) % 256).astype(np.uint8)
    a[0, :4] = 0
    a[1, :4] = 255
    return a


def palette_image(colours):
    idx = ((np.mgrid[0:H, 0:W][1] + np.mgrid[0:H, 0:W][0] * 3) % colours).astype(np.uint8)
    im = Image.fromarray(idx, "P")
    pal = []
    for i in range(colours):
        pal += [(i * 53) % 256, (i * 101 + 40) % 256, (255 - i * 37) % 256]
    im.putpalette(pal)
    return im


def main():
    tmp = tempfile.mkdtemp()
    src_grey = os.path.join(tmp, "grey.png")
    src_rgb = os.path.join(tmp, "rgb.png")
    src_rgba = os.path.join(tmp, "rgba.png")
    src_ga = os.path.join(tmp, "ga.png")
    Image.fromarray(grey_ramp(), "L").save(src_grey)
    Image.fromarray(rgb_pattern(), "RGB").save(src_rgb)
    Image.fromarray(np.dstack([rgb_pattern(), alpha_pattern()]), "RGBA").save(src_rgba)
    Image.fromarray(np.dstack([grey_ramp(), alpha_pattern()]), "LA").save(src_ga)

    # Grey at every depth.
    Image.fromarray(grey_ramp() > 127).save(out("grey1.png"))
    netpbm_grey("grey2.png", grey_ramp() % 4, 3)
    netpbm_grey("grey4.png", grey_ramp() % 16, 15)
    Image.fromarray(grey_ramp(), "L").save(out("grey8.png"))
    Image.fromarray(grey_ramp().astype(np.uint16) * 257).save(out("grey16.png"))

    # True colour.
    Image.fromarray(rgb_pattern(), "RGB").save(out("rgb8.png"))
    magick(src_rgb, "-depth", "16", "PNG48:" + out("rgb16.png"))

    # Palettes: Pillow picks 1, 2, 4 or 8 bits from the colour count.
    palette_image(2).save(out("pal1.png"))
    palette_image(4).save(out("pal2.png"))
    palette_image(16).save(out("pal4.png"))
    palette_image(200).save(out("pal8.png"))
    palette_image(200).save(out("pal8_trns0.png"), transparency=0)       # tRNS {0}
    palette_image(200).save(out("pal8_trns7.png"), transparency=7)       # 0xFF.. then 0
    palette_image(16).save(out("pal4_alpha.png"),
                           transparency=bytes((i * 16) % 256 for i in range(16)))

    # Transparency keys on grey and colour files.
    Image.fromarray(grey_ramp(), "L").save(out("grey8_trns.png"), transparency=77)
    rgb = rgb_pattern()
    key = tuple(int(v) for v in rgb[5, 9])
    Image.fromarray(rgb, "RGB").save(out("rgb8_trns.png"), transparency=key)
    magick(out("rgb8_trns.png"), "-depth", "16", "-define", "png:color-type=2",
           "PNG48:" + out("rgb16_trns.png"))

    # Alpha channels.
    Image.fromarray(np.dstack([grey_ramp(), alpha_pattern()]), "LA").save(out("ga8.png"))
    magick(src_ga, "-depth", "16", "-define", "png:color-type=4", "-define", "png:bit-depth=16",
           out("ga16.png"))
    Image.fromarray(np.dstack([rgb_pattern(), alpha_pattern()]), "RGBA").save(out("rgba8.png"))
    magick(src_rgba, "-depth", "16", "PNG64:" + out("rgba16.png"))

    # Interlaced twins, plus tiny pictures whose later passes are empty.
    magick(src_rgb, "-interlace", "PNG", "PNG24:" + out("rgb8_interlaced.png"))
    magick(src_rgba, "-interlace", "PNG", "PNG32:" + out("rgba8_interlaced.png"))
    netpbm_grey("grey2_interlaced.png", grey_ramp() % 4, 3, interlace=True)
    netpbm_palette("pal4_interlaced.png", 16, interlace=True)
    magick(src_rgb, "-crop", "3x2+5+5", "+repage", "-interlace", "PNG",
           "PNG24:" + out("rgb8_interlaced_3x2.png"))
    magick(src_rgb, "-crop", "1x1+5+5", "+repage", "-interlace", "PNG",
           "PNG24:" + out("rgb8_interlaced_1x1.png"))

    # Ancillary chunks.
    magick(src_rgba, "-background", "#336699", "-define", "png:include-chunk=bKGD",
           "PNG32:" + out("rgba8_bkgd.png"))
    magick(src_ga, "-background", "#404040", "-define", "png:include-chunk=bKGD",
           "-define", "png:color-type=4", out("ga8_bkgd.png"))
    Image.fromarray(rgb_pattern(), "RGB").save(out("rgb8_phys300.png"), dpi=(300, 150))
    magick(src_rgb, "-units", "undefined", "-density", "2x1", "PNG24:" + out("rgb8_phys_aspect.png"))
    apng()


def apng():
    """An animated PNG: half-clear pixels in the frames drawn as they are,
    clear ones in the frames blended over the canvas (Pillow's blending of
    half-clear pixels is not the format's), frames disposed to the
    background and to the previous canvas, delays that differ, two plays."""
    frames = []
    for f in range(4):
        a = np.zeros((20, 30, 4), np.uint8)
        a[:, :, 0] = (np.arange(30)[None, :] * 8 + f * 50) % 256
        a[:, :, 1] = (np.arange(20)[:, None] * 12 + f * 30) % 256
        a[:, :, 2] = 90 + f * 40
        a[:, :, 3] = 255
        # A patch that moves: half clear, or clear where the frame is blended.
        a[2 + f * 3:9 + f * 3, 4 + f * 5:14 + f * 5, 3] = 0 if f in (1, 2) else 96
        a[0:3, 0:4, 3] = 0
        frames.append(Image.fromarray(a, "RGBA"))
    frames[0].save(out("anim.png"), save_all=True, append_images=frames[1:],
                   duration=[80, 160, 40, 250], loop=2, disposal=[0, 1, 2, 0], blend=[0, 1, 1, 0])


if __name__ == "__main__":
    main()
