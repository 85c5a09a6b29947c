#!/usr/bin/python3
"""Colour profiles and EXIF blocks read and written by Pillow, independently
of Vellumar's codecs.

  metadata_tool.py read PATH
      prints "icc HEX" (or "icc -"), "exif HEX" (or "exif -"), then "tag N V"
      for the main directory's Make (271) and Orientation (274) and the EXIF
      directory's pixel size (40962, 40963) where present
  metadata_tool.py write PATH FORMAT ICC_FILE ORIENTATION
      writes a 16 x 8 picture (grey 128 with one red column) carrying the
      profile and an EXIF block with Make "Vellumar test" and that orientation
"""
import sys

from PIL import Image


def read(path):
    im = Image.open(path)
    icc = im.info.get("icc_profile")
    print("icc", icc.hex() if icc else "-")
    exif = im.getexif()
    raw = im.info.get("exif")
    if isinstance(raw, bytes) and raw.startswith(b"Exif\0\0"):
        raw = raw[6:]
    print("exif", raw.hex() if isinstance(raw, bytes) and raw else "-")
    for tag in (271, 274):
        if tag in exif:
            print("tag", tag, exif[tag])
    sub = exif.get_ifd(0x8769)
    for tag in (40962, 40963):
        if tag in sub:
            print("tag", tag, sub[tag])


def write(path, fmt, icc_file, orientation):
    im = Image.new("RGB", (16, 8), (128, 128, 128))
    for y in range(8):
        im.putpixel((3, y), (255, 0, 0))
    exif = Image.Exif()
    exif[271] = "Vellumar test"
    exif[274] = int(orientation)
    with open(icc_file, "rb") as f:
        icc = f.read()
    im.save(path, fmt, icc_profile=icc, exif=exif.tobytes())


if __name__ == "__main__":
    if sys.argv[1] == "read":
        read(sys.argv[2])
    else:
        write(*sys.argv[2:6])
