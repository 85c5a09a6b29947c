#!/usr/bin/python3
"""Regenerates the TIFF fixtures with independent tools (Pillow, ImageMagick,
libtiff's tiffcp/tiffset) plus a few hand-packed files for layouts no tool
writes (12-bit palette, a ColorMap holding 8-bit values).

usage: tests/data/tiff/make_fixtures.py   (run from anywhere; writes next to itself)
"""
import os
import struct
import subprocess
import tempfile

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))


def run(*args):
    subprocess.run(args, check=True)


def out(name):
    return os.path.join(HERE, name)


def pattern(w, h):
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = ((x * 4) % 256, (y * 6) % 256, ((x + y) * 3) % 256)
    return im


def ifd_tiff(path, width, height, entries, data):
    """Little-endian single-strip TIFF. entries: (tag, type, values)."""
    types = {3: ("H", 2), 4: ("I", 4)}
    entries = sorted(entries + [(273, 4, [0]), (279, 4, [len(data)])])
    n = len(entries)
    ifd_size = 2 + n * 12 + 4
    extra = b""
    extra_base = 8 + ifd_size
    data_offset = None
    raw = []
    for tag, typ, vals in entries:
        fmt, size = types[typ]
        if tag == 273:
            raw.append([tag, typ, vals, None])
            continue
        blob = struct.pack("<" + fmt * len(vals), *vals)
        if len(blob) <= 4:
            raw.append([tag, typ, vals, blob.ljust(4, b"\0")])
        else:
            off = extra_base + len(extra)
            extra += blob
            if len(extra) % 2:
                extra += b"\0"
            raw.append([tag, typ, vals, struct.pack("<I", off)])
    data_offset = extra_base + len(extra)
    body = struct.pack("<H", n)
    for tag, typ, vals, field in raw:
        if tag == 273:
            field = struct.pack("<I", data_offset)
        body += struct.pack("<HHI", tag, typ, len(vals)) + field
    body += struct.pack("<I", 0)
    with open(path, "wb") as f:
        f.write(b"II*\0" + struct.pack("<I", 8) + body + extra + data)


def main():
    src = pattern(41, 29)
    tmp = tempfile.mkdtemp()
    rgb = os.path.join(tmp, "rgb.tif")
    src.save(rgb)
    grey = os.path.join(tmp, "grey.tif")
    src.convert("L").save(grey)

    # bilevel
    run("convert", rgb, "-threshold", "50%", "-compress", "Group4", out("g4_miniswhite.tif"))
    src.convert("L").point(lambda v: 255 if v > 100 else 0).convert("1").save(
        out("bilevel_minisblack.tif"))
    # palettes and grey
    run("convert", rgb, "-colors", "16", "-depth", "4", "-type", "palette", out("palette4.tif"))
    run("convert", rgb, "-colors", "4", "-depth", "2", "-type", "palette", out("palette2.tif"))
    src.convert("P", palette=Image.ADAPTIVE, colors=200).save(out("palette8.tif"))
    run("tiffcp", "-c", "lzw:2", grey, out("grey8_lzw_pred.tif"))
    run("convert", rgb, "-colorspace", "gray", "-depth", "2", "-type", "grayscale",
        out("grey2.tif"))
    run("convert", rgb, "-colorspace", "gray", "-depth", "12", out("grey12.tif"))
    run("convert", rgb, "-colorspace", "gray", "-depth", "16", out("grey16.tif"))
    run("convert", rgb, "-depth", "16", out("rgb16.tif"))
    run("tiffcp", "-B", out("rgb16.tif"), out("rgb16_bigendian.tif"))
    run("tiffcp", "-B", "-c", "lzw", out("grey12.tif"), out("grey12_bigendian.tif"))
    # RGB with every usual compression
    for name, scheme in [("none", "none"), ("lzw", "lzw"), ("deflate", "zip"),
                         ("packbits", "packbits"), ("jpeg", "jpeg:90")]:
        args = ["tiffcp", "-c", scheme]
        if name == "jpeg":
            args += ["-r", "16"]
        run(*args, rgb, out(f"rgb_{name}.tif"))
    # alpha, CMYK, Lab
    rgba = src.convert("RGBA")
    a = Image.linear_gradient("L").resize(src.size)
    rgba.putalpha(a)
    rgba.save(out("rgba.tif"))
    src.convert("CMYK").save(out("cmyk.tif"))
    run("convert", rgb, "-colorspace", "Lab", out("cielab.tif"))
    # tiles (the picture is not a multiple of the tile size), planes, pages
    big = pattern(70, 50)
    bigrgb = os.path.join(tmp, "big.tif")
    big.save(bigrgb)
    run("tiffcp", "-t", "-w", "32", "-l", "32", "-c", "lzw", bigrgb, out("tiled_rgb.tif"))
    biggrey = os.path.join(tmp, "biggrey.tif")
    big.convert("L").save(biggrey)
    run("tiffcp", "-t", "-w", "16", "-l", "48", "-c", "lzw", biggrey, out("tiled_grey.tif"))
    run("tiffcp", "-t", "-w", "16", "-l", "16", out("palette4.tif"), out("tiled_palette4.tif"))
    run("tiffcp", "-p", "separate", rgb, out("planar_separate.tif"))
    run("tiffcp", "-p", "separate", "-c", "lzw", out("rgba.tif"), out("planar_rgba.tif"))
    run("tiffcp", rgb, grey, out("two_pages.tif"))
    run("convert", rgb, "-units", "PixelsPerCentimeter", "-density", "118.11",
        out("res_cm.tif"))
    # orientation tags on a picture that is not square
    small = pattern(13, 7)
    base = os.path.join(tmp, "orient.tif")
    small.save(base)
    for o in range(1, 9):
        p = out(f"orient{o}.tif")
        run("tiffcp", base, p)
        run("tiffset", "-s", "274", str(o), p)
    small.convert("L").save(base)
    p = out("orient6_grey.tif")
    run("tiffcp", base, p)
    run("tiffset", "-s", "274", "6", p)

    # Hand-packed: palette whose ColorMap holds 8-bit values (kept unscaled),
    # and a 12-bit palette page. Pixel i of row y is index (x + 3y) mod n.
    w, h = 16, 4
    idx = bytes((x + 3 * y) % 8 for y in range(h) for x in range(w))
    cmap = [(i * 30) % 256 for i in range(256)] + [255 - i for i in range(256)] + [7] * 256
    ifd_tiff(out("palette_cmap8bit.tif"), w, h,
             [(256, 4, [w]), (257, 4, [h]), (258, 3, [8]), (259, 3, [1]), (262, 3, [3]),
              (277, 3, [1]), (278, 4, [h]), (320, 3, cmap)], idx)
    n = 4096
    cmap = ([(i * 16) & 0xFFFF for i in range(n)] + [((n - 1 - i) * 16) & 0xFFFF for i in range(n)]
            + [(i * 7 % 4096) * 16 for i in range(n)])
    vals = [(x * 257 + y * 1000) % n for y in range(h) for x in range(w)]
    packed = bytearray()
    for y in range(h):
        row = vals[y * w:(y + 1) * w]
        for i in range(0, w, 2):
            a, b = row[i], row[i + 1]
            packed += bytes([a >> 4, ((a & 15) << 4) | (b >> 8), b & 0xFF])
    ifd_tiff(out("palette12.tif"), w, h,
             [(256, 4, [w]), (257, 4, [h]), (258, 3, [12]), (259, 3, [1]), (262, 3, [3]),
              (277, 3, [1]), (278, 4, [h]), (320, 3, cmap)], bytes(packed))


if __name__ == "__main__":
    main()
