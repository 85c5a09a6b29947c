#!/usr/bin/env python3
"""Tiny camera-raw files in the DNG layout, and their references.

Each file is a little-endian TIFF: a Bayer mosaic of 16-bit samples (12 bits
used, black level 256) of a four-colour scene, AsShotNeutral, ColorMatrix1 (the
sRGB primaries, so the camera space is linear sRGB), Orientation, Make/Model.
Two carry an embedded preview in IFD0 with the raw in a SubIFD.

References, beside each file, from the library's own tools:
  NAME.dng.tiff   dcraw_emu -w -6 -T -o 1 -g 2.4 12.92 (16-bit sRGB, camera WB)
  NAME.dng.thumb  simple_dcraw -e (the preview as stored: JPEG or PPM)

    python3 make_fixtures.py [OUT_DIR] [--side N] [--count K]   (bench inputs)
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

BLACK, WHITE = 256, 4095
# XYZ (D65) to linear sRGB, the DNG ColorMatrix1 of a camera that sees sRGB.
MATRIX = [32406, -15372, -4986, -9689, 18758, 415, 557, -2040, 10570]
NEUTRAL = [(5, 10), (10, 10), (7, 10)]  # camera R, G, B of a white surface
CFA = {"RGGB": (0, 1, 1, 2), "BGGR": (2, 1, 1, 0)}


def scene(x, y, w, h):
    """Linear RGB 0..1: red, green, blue quadrants and a grey ramp."""
    left, top = x < w // 2, y < h // 2
    if top and left:
        return (0.7, 0.1, 0.1)
    if top:
        return (0.1, 0.6, 0.1)
    if left:
        return (0.1, 0.1, 0.8)
    v = 0.05 + 0.9 * (x - w // 2) / max(1, w - w // 2 - 1)
    return (v, v, v)


def mosaic(w, h, pattern):
    cfa = CFA[pattern]
    out = bytearray()
    for y in range(h):
        for x in range(w):
            c = cfa[(y % 2) * 2 + x % 2]
            n = NEUTRAL[c][0] / NEUTRAL[c][1]
            v = BLACK + round(scene(x, y, w, h)[c] * n * (WHITE - BLACK))
            out += struct.pack("<H", min(WHITE, v))
    return bytes(out)


def preview_rgb(w, h):
    """An 8-bit picture unlike the developed one (the bands tell them apart)."""
    out = bytearray()
    for y in range(h):
        for x in range(w):
            out += bytes((x * 255 // max(1, w - 1), y * 255 // max(1, h - 1), 200 if x < w // 2 else 40))
    return bytes(out)


def entry(tag, typ, values):
    fmt = {1: "B", 2: "s", 3: "H", 4: "I", 5: "II", 7: "B", 10: "ii"}[typ]
    if typ == 2:
        data = values.encode() + b"\0"
        return (tag, typ, len(data), data)
    flat = [v for pair in values for v in pair] if typ in (5, 10) else list(values)
    data = struct.pack("<" + fmt[0] * len(flat), *flat)
    return (tag, typ, len(values), data)


def ifd(entries, at, next_ifd=0):
    """An IFD placed at `at`, values that do not fit inline right after it."""
    entries = sorted(entries)
    size = 2 + 12 * len(entries) + 4
    body, extra = struct.pack("<H", len(entries)), bytearray()
    for tag, typ, count, data in entries:
        if len(data) <= 4:
            body += struct.pack("<HHI", tag, typ, count) + data.ljust(4, b"\0")
        else:
            body += struct.pack("<HHII", tag, typ, count, at + size + len(extra))
            extra += data + (b"\0" if len(data) % 2 else b"")
    return body + struct.pack("<I", next_ifd) + bytes(extra)


def raw_tags(w, h, pattern, offset, orientation, main):
    tags = [
        entry(254, 4, [0]), entry(256, 4, [w]), entry(257, 4, [h]), entry(258, 3, [16]),
        entry(259, 3, [1]), entry(262, 3, [32803]), entry(273, 4, [offset]),
        entry(277, 3, [1]), entry(278, 4, [h]), entry(279, 4, [w * h * 2]), entry(284, 3, [1]),
        entry(33421, 3, [2, 2]), entry(33422, 1, list(CFA[pattern])),
        entry(50714, 4, [BLACK]), entry(50717, 4, [WHITE]),
    ]
    if main:
        tags += main_tags(orientation)
    return tags


def main_tags(orientation):
    return [
        entry(271, 2, "Vellumar"), entry(272, 2, "Test Mosaic"), entry(274, 3, [orientation]),
        entry(50706, 1, [1, 4, 0, 0]), entry(50708, 2, "Vellumar Test Mosaic"),
        entry(50721, 10, [(m, 10000) for m in MATRIX]), entry(50728, 5, NEUTRAL),
        entry(50778, 3, [21]),
    ]


def jpeg_of(rgb, w, h):
    with tempfile.TemporaryDirectory() as d:
        ppm = os.path.join(d, "p.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6 %d %d 255\n" % (w, h) + rgb)
        return subprocess.run(["cjpeg", "-quality", "95", ppm], check=True, capture_output=True).stdout


def dng(w, h, pattern="RGGB", orientation=1, preview=None):
    """`preview`: None, "rgb" or "jpeg" (half size, in IFD0)."""
    raw = mosaic(w, h, pattern)
    at = 8
    raw_at = at
    at += len(raw)
    pw, ph = max(1, w // 2), max(1, h // 2)
    blob = b""
    if preview:
        rgb = preview_rgb(pw, ph)
        blob = rgb if preview == "rgb" else jpeg_of(rgb, pw, ph)
    blob_at = at
    at += len(blob) + len(blob) % 2
    if not preview:
        head = ifd(raw_tags(w, h, pattern, raw_at, orientation, True), at)
        ifds = head
        first = at
    else:
        sub_at = at
        sub = ifd(raw_tags(w, h, pattern, raw_at, orientation, False), sub_at)
        at += len(sub)
        first = at
        tags = main_tags(orientation) + [
            entry(254, 4, [1]), entry(256, 4, [pw]), entry(257, 4, [ph]),
            entry(277, 3, [3]), entry(278, 4, [ph]), entry(279, 4, [len(blob)]),
            entry(273, 4, [blob_at]), entry(284, 3, [1]), entry(330, 4, [sub_at]),
        ]
        if preview == "rgb":
            tags += [entry(258, 3, [8, 8, 8]), entry(259, 3, [1]), entry(262, 3, [2])]
        else:
            tags += [entry(258, 3, [8, 8, 8]), entry(259, 3, [7]), entry(262, 3, [6])]
        ifds = sub + ifd(tags, first)
    pad = b"\0" if len(blob) % 2 else b""
    return b"II*\0" + struct.pack("<I", first) + raw + blob + pad + ifds


FIXTURES = {
    "rggb_plain.dng": dict(w=48, h=32),
    "bggr_turned.dng": dict(w=48, h=32, pattern="BGGR", orientation=6),
    "preview_rgb.dng": dict(w=48, h=32, preview="rgb"),
    "preview_jpeg.dng": dict(w=48, h=32, orientation=8, preview="jpeg"),
}


def references(path):
    subprocess.run(["dcraw_emu", "-w", "-6", "-T", "-o", "1", "-g", "2.4", "12.92",
                    "-Z", path + ".tiff", path], check=True)
    with tempfile.TemporaryDirectory() as d:
        copy = os.path.join(d, "f.dng")
        shutil.copy(path, copy)
        if subprocess.run(["simple_dcraw", "-e", copy], capture_output=True).returncode == 0:
            for name in os.listdir(d):
                if ".thumb." in name:
                    shutil.copy(os.path.join(d, name), path + ".thumb")


def main(argv):
    out = os.path.dirname(os.path.abspath(__file__))
    side, count = 0, 0
    args = list(argv)
    if "--side" in args:
        i = args.index("--side")
        side = int(args[i + 1])
        del args[i:i + 2]
    if "--count" in args:
        i = args.index("--count")
        count = int(args[i + 1])
        del args[i:i + 2]
    if args:
        out = args[0]
    os.makedirs(out, exist_ok=True)
    if side:
        # Bench inputs: 3:2 mosaics with a JPEG preview, no references.
        for k in range(count or 1):
            with open(os.path.join(out, "raw%02d.dng" % k), "wb") as f:
                f.write(dng(side + 2 * k, side * 2 // 3, preview="jpeg"))
        return
    for name, kw in FIXTURES.items():
        path = os.path.join(out, name)
        with open(path, "wb") as f:
            f.write(dng(**kw))
        references(path)


if __name__ == "__main__":
    main(sys.argv[1:])
