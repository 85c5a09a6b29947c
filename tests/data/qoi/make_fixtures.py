#!/usr/bin/env python3
# Writes the QOI fixtures op by op: no tool here has QOI (ImageMagick 6, Pillow < 9.5).
import os, struct
files = {  # 4x2 RGBA sRGB: every op once, each where the writer would use it.
    "hand_every_op.qoi": (4, 2, 4, 0, [0xFE, 10, 20, 30,  # RGB (10, 20, 30, 255), slot 9
        0x76, 0xAA, 0x5D,  # DIFF +1 -1 0: (11, 19, 30); LUMA g+10, r-g -3, b-g +5: (18, 29, 45)
        0xFF, 200, 100, 50, 128,  # RGBA (200, 100, 50, 128)
        0x09, 0xC2]),  # INDEX 9, RUN 3: (10, 20, 30, 255) four times
    # 3x1 RGB linear: red, green twice; the alpha an RGBA op sets is no sample.
    "hand_rgb_linear.qoi": (3, 1, 3, 1, [0xFE, 255, 0, 0, 0xFF, 0, 255, 0, 7, 0xC0]),
}
for name, (w, h, channels, space, ops) in files.items():
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), name), "wb") as f:
        f.write(b"qoif" + struct.pack(">IIBB", w, h, channels, space) + bytes(ops + [0] * 7 + [1]))
