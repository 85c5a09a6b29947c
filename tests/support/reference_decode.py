#!/usr/bin/env python3
"""Decode a picture with an independent tool and print "W H\n" + RGBA bytes.

usage: reference_decode.py pil|magick|dwebp|heif|avifdec|djxl FILE FRAME

The format tools write PAM or PNG files; netpbm reads them back, and deep
samples are scaled to 8 bits (v * 255 / maxval, rounded).
"""
import os
import subprocess
import sys
import tempfile


def pil(path, frame):
    from PIL import Image
    im = Image.open(path)
    if frame:
        im.seek(frame)
    im.load()
    if im.mode in ("I;16", "I;16B", "I;16L", "I"):
        # convert() clips 16-bit grey at 255: scale it here, rounded.
        w, h = im.size
        grey = bytes((v * 255 * 2 + 65535) // (2 * 65535) for v in im.getdata())
        return w, h, b"".join(bytes((g, g, g, 255)) for g in grey)
    im = im.convert("RGBA")
    return im.size[0], im.size[1], im.tobytes()


def magick(path, frame):
    source = f"{path}[{frame}]"
    size = subprocess.run(["/usr/bin/identify", "-format", "%w %h\n", source], check=True,
                          capture_output=True, text=True).stdout.split()
    w, h = int(size[0]), int(size[1])
    raw = subprocess.run(["/usr/bin/convert", source, "-depth", "8", "rgba:-"], check=True,
                         capture_output=True).stdout
    return w, h, raw


def read_pam(data):
    """P7 RGB, RGB_ALPHA, GRAYSCALE or GRAYSCALE_ALPHA, any maxval -> 8-bit RGBA."""
    header, _, rest = data.partition(b"ENDHDR\n")
    fields = dict(line.split(None, 1) for line in header.decode().splitlines()[1:] if " " in line)
    w, h, depth, maxval = (int(fields[k]) for k in ("WIDTH", "HEIGHT", "DEPTH", "MAXVAL"))
    size = 2 if maxval > 255 else 1
    samples = [int.from_bytes(rest[i:i + size], "big") for i in range(0, w * h * depth * size, size)]
    out = bytearray()
    for p in range(w * h):
        px = [(v * 255 * 2 + maxval) // (2 * maxval) for v in samples[p * depth:(p + 1) * depth]]
        if depth <= 2:
            px = [px[0], px[0], px[0]] + px[1:]
        out += bytes(px + [255] * (4 - len(px)))
    return w, h, bytes(out)


def read_png(path):
    pam = subprocess.run(["/usr/bin/pngtopam", "-alphapam", path], check=True,
                         capture_output=True).stdout
    return read_pam(pam)


def format_tool(tool, path, frame):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.pam" if tool == "dwebp" else "out.png")
        cmd = {
            "dwebp": ["/usr/bin/dwebp", "-quiet", path, "-pam", "-o", out],
            "heif": ["/usr/bin/heif-convert", path, out],
            "avifdec": ["/usr/bin/avifdec", "-j", "1", path, out],
            "djxl": ["/usr/bin/djxl", path, out, "--num_threads=1"],
        }[tool]
        subprocess.run(cmd, check=True, capture_output=True)
        if tool == "heif" and not os.path.exists(out):
            # heif-convert numbers the pictures of a file that holds several.
            out = os.path.join(tmp, f"out-{frame + 1}.png")
        elif frame:
            raise SystemExit(1)
        if tool == "dwebp":
            with open(out, "rb") as f:
                return read_pam(f.read())
        return read_png(out)


def main():
    tool, path, frame = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if tool in ("pil", "magick"):
        w, h, raw = (pil if tool == "pil" else magick)(path, frame)
    else:
        w, h, raw = format_tool(tool, path, frame)
    if len(raw) != w * h * 4:
        sys.exit(1)
    sys.stdout.buffer.write(f"{w} {h}\n".encode())
    sys.stdout.buffer.write(raw)


if __name__ == "__main__":
    main()
