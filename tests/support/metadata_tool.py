#!/usr/bin/python3
"""Colour profiles and EXIF blocks read and written by Pillow, independently
of Vellumar's codecs.

  metadata_tool.py read PATH
      prints "icc HEX" (or "icc -"), "exif HEX" (or "exif -"), then "tag N V"
      for the tags below that are present (GPS tags as 100000 + N)
  metadata_tool.py write PATH FORMAT ICC_FILE ORIENTATION
      writes a 16 x 8 picture (grey 128 with one red column) carrying the
      profile and an EXIF block: Make "Vellumar test", that orientation, an
      EXIF directory of rationals, shorts, bytes, text and longs, and a GPS
      directory
"""
import sys

from PIL import Image, TiffImagePlugin

R = TiffImagePlugin.IFDRational
MAIN = {271: "Vellumar test"}
EXIF = {33434: R(1, 250), 34855: 200, 36864: b"0230", 36867: "2024:05:01 10:00:00", 40962: 16}
GPS = {1: "N", 2: (R(52, 1), R(30, 1), R(15, 1))}


def text(value):
    """Numbers to six digits: TIFF writers may store a rational through a float."""
    if isinstance(value, tuple):
        return "(" + ", ".join(text(v) for v in value) + ")"
    if isinstance(value, (float, R)):
        return "%.6g" % float(value)
    return str(value)


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
            print("tag", tag, text(exif[tag]))
    sub = exif.get_ifd(0x8769)
    for tag in sorted(EXIF) + [40963]:
        if tag in sub:
            print("tag", tag, text(sub[tag]))
    gps = exif.get_ifd(0x8825)
    for tag in sorted(GPS):
        if tag in gps:
            print("tag", 100000 + tag, text(gps[tag]))


def write(path, fmt, icc_file, orientation):
    im = Image.new("RGB", (16, 8), (128, 128, 128))
    for y in range(8):
        im.putpixel((3, y), (255, 0, 0))
    exif = Image.Exif()
    exif.update(MAIN)
    exif[274] = int(orientation)
    exif[0x8769] = EXIF
    exif[0x8825] = GPS
    with open(icc_file, "rb") as f:
        icc = f.read()
    im.save(path, fmt, icc_profile=icc, exif=exif.tobytes())


if __name__ == "__main__":
    if sys.argv[1] == "read":
        read(sys.argv[2])
    else:
        write(*sys.argv[2:6])
