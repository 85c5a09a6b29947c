#!/usr/bin/python3
"""Regenerates the deep fixtures with netpbm and ImageMagick (never with Vellumar):
/usr/bin/python3 tests/data/deep/make_fixtures.py
Samples spread over all 16 bits, few of them multiples of 257, so that a file
cut to 8 bits anywhere on its way cannot read back equal.
"""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 13, 7  # odd sizes: row padding
KINDS = {"grey16": ("GRAYSCALE", 1), "ga16": ("GRAYSCALE_ALPHA", 2),
         "rgb16": ("RGB", 3), "rgba16": ("RGB_ALPHA", 4)}


def pam(kind):
    tupltype, depth = KINDS[kind]
    state, samples = 12345 + depth, bytearray()
    for _ in range(W * H * depth):
        state = (state * 1103515245 + 12345) % (1 << 31)
        samples += (state >> 15 & 0xFFFF).to_bytes(2, "big")
    path = os.path.join(tempfile.mkdtemp(), kind + ".pam")
    with open(path, "wb") as f:
        f.write(f"P7\nWIDTH {W}\nHEIGHT {H}\nDEPTH {depth}\nMAXVAL 65535\n"
                f"TUPLTYPE {tupltype}\nENDHDR\n".encode() + samples)
    return path


for kind, (_, depth) in KINDS.items():
    out = os.path.join(HERE, kind)
    with open(out + ".png", "wb") as f:
        subprocess.run(["pamtopng", pam(kind)], check=True, stdout=f)
    if depth in (2, 4):  # pamtotiff drops or leaves alpha untagged
        subprocess.run(["/usr/bin/convert", pam(kind), "-define", "tiff:alpha=unassociated",
                        "-compress", "lzw", out + ".tif"], check=True)
    else:
        with open(pam(kind), "rb") as f, open(out + ".tif", "wb") as g:  # no file name inside
            subprocess.run(["pamtotiff", "-truecolor", "-lzw"], check=True, stdin=f, stdout=g)
