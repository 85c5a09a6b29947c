#!/usr/bin/env python3
"""Decode a picture with an independent tool, keeping its deep samples, and
print "W H\n" and its pixels as red, green, blue, alpha, each a 16-bit
big-endian value scaled to 0..65535 (v * 65535 / maxval, rounded).

usage: reference_deep.py png|tiff|djxl|opj|pgx|heif|avifdec|pnm FILE
(tiff: ImageMagick)
"""
import os
import subprocess
import sys
import tempfile


def pam_pixels(data):
    """A PAM file -> (w, h, [RGBA16 lists])."""
    header, _, rest = data.partition(b"ENDHDR\n")
    fields = dict(l.split(None, 1) for l in header.decode().splitlines()[1:] if " " in l)
    w, h, depth, maxval = (int(fields[k]) for k in ("WIDTH", "HEIGHT", "DEPTH", "MAXVAL"))
    size = 2 if maxval > 255 else 1
    values = [int.from_bytes(rest[i:i + size], "big") for i in range(0, w * h * depth * size, size)]
    values = [(v * 65535 * 2 + maxval) // (2 * maxval) for v in values]
    px = []
    for p in range(w * h):
        s = values[p * depth:(p + 1) * depth]
        colour = s[:3] if depth >= 3 else [s[0]] * 3
        alpha = s[-1] if depth in (2, 4) else 65535
        px.append(colour + [alpha])
    return w, h, px


def run(args, stdin=None):
    return subprocess.run(args, check=True, capture_output=True, stdin=stdin).stdout


def decode(tool, path):
    if tool == "tiff":  # tifftopnm keeps 16 bits only by rows and refuses grey with alpha
        return pam_pixels(run(["/usr/bin/convert", path + "[0]", "-depth", "16", "pam:-"]))
    if tool == "pnm":
        with open(path, "rb") as f:
            return pam_pixels(run(["/usr/bin/pamtopam"], stdin=f))
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.png")
        if tool == "pgx":  # OpenJPEG reads PGX only to code it (losslessly)
            run(["/usr/bin/opj_compress", "-i", path, "-o", out + ".j2k", "-n", "1"])
            path, tool = out + ".j2k", "opj"
        commands = {"png": None, "djxl": ["/usr/bin/djxl", path, out, "--num_threads=1"],
                    "heif": ["/usr/bin/heif-convert", path, out],
                    "avifdec": ["/usr/bin/avifdec", "-j", "1", "--depth", "16", path, out],
                    "opj": ["/usr/bin/opj_decompress", "-i", path, "-o", out]}
        if commands[tool]:
            run(commands[tool])
        return pam_pixels(run(["/usr/bin/pngtopam", "-alphapam", out if commands[tool] else path]))


w, h, px = decode(sys.argv[1], sys.argv[2])
sys.stdout.buffer.write(f"{w} {h}\n".encode())
sys.stdout.buffer.write(b"".join(v.to_bytes(2, "big") for p in px for v in p))
