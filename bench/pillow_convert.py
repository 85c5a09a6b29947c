#!/usr/bin/python3
"""The Pillow peer: the loop a user would write to convert files.

    pillow_convert.py FORMAT OUTDIR FILE...      FORMAT: png bmp jpg gif tif ico webp
    pillow_convert.py --frames FILE              decode every frame of an animation
"""
import os
import sys

from PIL import Image

if sys.argv[1] == "--frames":
    with Image.open(sys.argv[2]) as im:
        for i in range(im.n_frames):
            im.seek(i)
            im.load()
    sys.exit(0)

fmt, out = sys.argv[1], sys.argv[2]
for path in sys.argv[3:]:
    name = os.path.splitext(os.path.basename(path))[0] + "." + fmt
    with Image.open(path) as im:
        if fmt == "jpg":
            im.convert("RGB").save(os.path.join(out, name), quality=90)  # 4:2:0 by default
        elif fmt == "png":
            im.save(os.path.join(out, name), compress_level=6)
        elif fmt == "tif":
            im.convert("RGB").save(os.path.join(out, name), compression="tiff_jpeg", quality=90)
        elif fmt == "webp":
            # Every frame, at method 4 as the others code: Pillow's default for
            # animations is 0, a faster, larger file (1.25 MB against 1.15 MB).
            im.save(os.path.join(out, name), save_all=True, quality=90, method=4)
        elif fmt == "ico":
            im.save(os.path.join(out, name), sizes=[im.size])  # one entry, as the others write
        else:
            im.save(os.path.join(out, name))
