#!/usr/bin/env python3
"""Luma-only AVIF in limited and full range at 8, 10 and 12 bits, from one grey
ramp, made with avifenc (lossless quantiser, so the range is all that differs)."""
import os
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def grey_png(path, w=32, h=8):
    rows = b"".join(b"\x00" + bytes((x * 8 + y * 3) % 256 for x in range(w)) for y in range(h))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


with tempfile.TemporaryDirectory() as t:
    src = os.path.join(t, "grey.png")
    grey_png(src)
    for depth in (8, 10, 12):
        for rng in ("limited", "full"):
            subprocess.run(["avifenc", "-j", "1", "--min", "0", "--max", "0", "--yuv", "400", "-r", rng,
                            "-d", str(depth), src, os.path.join(HERE, f"grey{depth}_{rng}.avif")],
                           check=True, capture_output=True)
