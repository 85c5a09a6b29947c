#!/usr/bin/env python3
"""Writes the QOI fixtures, assembled op by op by hand: no tool here reads or
writes QOI (ImageMagick 6 and Pillow before 9.5 lack it). Each op is noted
with the pixel it yields, so that a byte can be checked against the format's
definition without running anything."""
import os
import struct

END = bytes([0, 0, 0, 0, 0, 0, 0, 1])


def header(w, h, channels, colourspace):
    return b"qoif" + struct.pack(">IIBB", w, h, channels, colourspace)


# 4x2, four channels, sRGB; every op once. The writer makes these bytes too.
every_op = header(4, 2, 4, 0) + bytes([
    0xFE, 10, 20, 30,        # RGB          -> (10, 20, 30, 255), kept in slot 9
    0x76,                    # DIFF +1 -1 0 -> (11, 19, 30, 255)
    0xAA, 0x5D,              # LUMA g+10, r-g -3, b-g +5 -> (18, 29, 45, 255)
    0xFF, 200, 100, 50, 128,  # RGBA        -> (200, 100, 50, 128)
    0x09,                    # INDEX 9      -> (10, 20, 30, 255)
    0xC2,                    # RUN 3        -> the same three times more
]) + END

# 3x1, three channels, linear; the alpha an RGBA op sets is not a sample here.
three_channels = header(3, 1, 3, 1) + bytes([
    0xFE, 255, 0, 0,         # RGB          -> (255, 0, 0)
    0xFF, 0, 255, 0, 7,      # RGBA         -> (0, 255, 0)
    0xC0,                    # RUN 1        -> (0, 255, 0)
]) + END

here = os.path.dirname(os.path.abspath(__file__))
for name, data in (("hand_every_op.qoi", every_op), ("hand_rgb_linear.qoi", three_channels)):
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
