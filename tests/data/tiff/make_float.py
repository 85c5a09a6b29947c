#!/usr/bin/env python3
"""Little-endian, uncompressed TIFFs of 32-bit float samples written by hand:
grey and RGB, in one strip and in one 16 x 16 tile. The picture is 3 x 2;
channel c of pixel i holds VALUES[(i + c) % 6]."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
VALUES = [0.0, 1.0, 0.5, -1.0, 2.0, float("nan")]


def tiff(spp, tiled, w=3, h=2):
    tw, th = (16, 16) if tiled else (w, h)
    pixels = bytearray(tw * th * spp * 4)
    for y in range(h):
        for x in range(w):
            for c in range(spp):
                struct.pack_into("<f", pixels, ((y * tw + x) * spp + c) * 4, VALUES[(y * w + x + c) % 6])
    extra = struct.pack("<%dH" % (2 * spp), *([32] * spp + [3] * spp))
    data = 8 + len(extra)
    shorts = lambda i: 8 + i * 2 * spp if spp > 2 else (32 if i == 0 else 3)
    tags = {256: (4, 1, w), 257: (4, 1, h), 258: (3, spp, shorts(0)), 259: (3, 1, 1),
            262: (3, 1, 2 if spp == 3 else 1), 277: (3, 1, spp), 339: (3, spp, shorts(1))}
    if tiled:
        tags.update({322: (4, 1, 16), 323: (4, 1, 16), 324: (4, 1, data), 325: (4, 1, len(pixels))})
    else:
        tags.update({273: (4, 1, data), 278: (4, 1, h), 279: (4, 1, len(pixels))})
    ifd = struct.pack("<H", len(tags)) + b"".join(
        struct.pack("<HHII", t, *tags[t]) for t in sorted(tags)) + struct.pack("<I", 0)
    return b"II*\0" + struct.pack("<I", data + len(pixels)) + extra + bytes(pixels) + ifd


for spp, kind in ((1, "grey"), (3, "rgb")):
    for tiled, layout in ((False, "strip"), (True, "tile")):
        with open(os.path.join(HERE, f"float_{kind}_{layout}.tif"), "wb") as f:
            f.write(tiff(spp, tiled))
