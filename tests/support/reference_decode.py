#!/usr/bin/env python3
"""Decode a picture with an independent tool and print "W H\n" + RGBA bytes.

usage: reference_decode.py pil|magick FILE FRAME
"""
import subprocess
import sys


def pil(path, frame):
    from PIL import Image
    im = Image.open(path)
    if frame:
        im.seek(frame)
    im.load()
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


def main():
    tool, path, frame = sys.argv[1], sys.argv[2], int(sys.argv[3])
    w, h, raw = (pil if tool == "pil" else magick)(path, frame)
    if len(raw) != w * h * 4:
        sys.exit(1)
    sys.stdout.buffer.write(f"{w} {h}\n".encode())
    sys.stdout.buffer.write(raw)


if __name__ == "__main__":
    main()
