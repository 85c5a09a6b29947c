#!/usr/bin/env python3
"""Every frame of an animation as an independent decoder shows it.

usage: animation_tool.py FILE OUTDIR

Writes OUTDIR/frame<i>.rgba (top-down RGBA) and prints
"W H FRAMES PLAYS DELAY0 DELAY1 ..." (delays in milliseconds, PLAYS 0 for
forever). ImageMagick composes GIF frames (`convert -coalesce`, which clears
a frame disposed to the background as browsers do), Pillow WebP and APNG
frames; a JPEG XL file is first turned into an APNG by djxl. Pillow reads
the delays and the loop count. A GIF's loop block counts repeats after the
first play, and a GIF without one plays once.
"""
import os
import subprocess
import sys
import tempfile

from PIL import Image


def main():
    path, outdir = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        if path.lower().endswith(".jxl"):
            apng = os.path.join(tmp, "frames.apng")
            subprocess.run(["/usr/bin/djxl", path, apng, "--num_threads=1"], check=True,
                           capture_output=True)
            path = apng
        im = Image.open(path)
        count = getattr(im, "n_frames", 1)
        delays = []
        for i in range(count):
            im.seek(i)
            im.load()
            delays.append(int(round(float(im.info.get("duration", 0)))))
            if im.format != "GIF":
                with open(os.path.join(outdir, f"frame{i}.rgba"), "wb") as f:
                    f.write(im.convert("RGBA").tobytes())
        if im.format == "GIF":
            subprocess.run(["/usr/bin/convert", path, "-coalesce", "-depth", "8",
                            "+adjoin", "rgba:" + os.path.join(outdir, "frame%d.rgba")],
                           check=True, capture_output=True)
        loop = im.info.get("loop")
        if im.format == "GIF":
            plays = 1 if loop is None else (0 if loop == 0 else loop + 1)
        else:
            plays = 0 if loop is None else loop
        print(im.size[0], im.size[1], count, plays, *delays)


if __name__ == "__main__":
    main()
