#!/usr/bin/python3
"""Regenerates the JPEG fixtures with independent tools.

Needs cjpeg (libjpeg-turbo-progs), ImageMagick's convert and Pillow. EXIF blocks
are laid out byte by byte below, so every offset in them is known to the tests.
Run from anywhere: ./make_fixtures.py
"""
import io
import os
import shutil
import struct
import subprocess
import tempfile

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


def source_picture(w=64, h=48):
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = (x * 255 // (w - 1), y * 255 // (h - 1), (x * y) % 256)
    d = ImageDraw.Draw(im)
    d.rectangle([8, 6, 28, 20], fill=(250, 20, 30))
    d.ellipse([34, 18, 58, 42], fill=(20, 200, 60))
    d.line([0, 47, 63, 0], fill=(255, 255, 255), width=2)
    return im


def out(name):
    return os.path.join(HERE, name)


def cjpeg(ppm, name, *args):
    with open(out(name), "wb") as f:
        subprocess.run(["cjpeg", *args, ppm], check=True, stdout=f)


def segments(data):
    """Yields (offset, marker, length) of the marker segments before the scan."""
    pos = 2
    while pos < len(data):
        marker = data[pos + 1]
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        yield pos, marker, length
        if marker == 0xDA:
            return
        pos += 2 + length


def insert_after_app0(data, blocks):
    """Puts raw segments right after the JFIF APP0 (or after SOI without one)."""
    for pos, marker, length in segments(data):
        if marker == 0xE0:
            at = pos + 2 + length
            break
    else:
        at = 2
    return data[:at] + b"".join(blocks) + data[at:]


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


# --- EXIF layout -----------------------------------------------------------

TYPE_SIZE = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1, 9: 4, 10: 8}


class Entry:
    def __init__(self, tag, typ, count, data, link=None):
        self.tag, self.typ, self.count, self.data, self.link = tag, typ, count, data, link


def ascii_(o, tag, s):
    b = s.encode() + b"\0"
    return Entry(tag, 2, len(b), b)


def short(o, tag, v):
    return Entry(tag, 3, 1, struct.pack(o + "H", v))


def long_(o, tag, v):
    return Entry(tag, 4, 1, struct.pack(o + "I", v))


def rational(o, tag, n, d):
    return Entry(tag, 5, 1, struct.pack(o + "II", n, d))


def undefined(o, tag, b):
    return Entry(tag, 7, len(b), b)


def link(tag, target):
    return Entry(tag, 4, 1, None, link=target)


def tiff_block(order, ifds, blobs=None):
    """ifds: {name: (entries, next_name)}, laid out in insertion order after the
    8-byte header. Entry.link / next_name name another IFD or a blob in `blobs`.
    Returns the APP1 payload ("Exif\\0\\0" + TIFF)."""
    o = "<" if order == "II" else ">"
    blobs = blobs or {}
    offsets = {}
    pos = 8
    for name, (entries, _) in ifds.items():
        offsets[name] = pos
        pos += 2 + 12 * len(entries) + 4
        for e in entries:
            if e.data is not None and len(e.data) > 4:
                pos += len(e.data) + (len(e.data) & 1)
    for name, b in blobs.items():
        offsets[name] = pos
        pos += len(b)
    out_ = bytearray(order.encode() + struct.pack(o + "HI", 0x2A, offsets[next(iter(ifds))]))
    for name, (entries, nxt) in ifds.items():
        assert len(out_) == offsets[name]
        data_at = offsets[name] + 2 + 12 * len(entries) + 4
        table = bytearray(struct.pack(o + "H", len(entries)))
        extra = bytearray()
        for e in entries:
            if e.link is not None:
                value = struct.pack(o + "I", offsets[e.link])
            elif len(e.data) > 4:
                value = struct.pack(o + "I", data_at + len(extra))
                extra += e.data + (b"\0" if len(e.data) & 1 else b"")
            else:
                value = e.data.ljust(4, b"\0")
            table += struct.pack(o + "HHI", e.tag, e.typ, e.count) + value
        table += struct.pack(o + "I", offsets[nxt] if nxt else 0)
        out_ += table + extra
    for name, b in blobs.items():
        assert len(out_) == offsets[name]
        out_ += b
    return b"Exif\0\0" + bytes(out_)


def camera_exif(order, thumb):
    o = "<" if order == "II" else ">"
    ifd0 = [
        ascii_(o, 0x010F, "Vellum Optics"),
        ascii_(o, 0x0110, "VX-100 Field Camera"),
        short(o, 0x0112, 6),
        rational(o, 0x011A, 300, 1),
        rational(o, 0x011B, 300, 1),
        short(o, 0x0128, 2),
        link(0x8769, "exif"),
    ]
    exif = [
        rational(o, 0x829A, 1, 125),
        rational(o, 0x829D, 28, 10),
        short(o, 0x8827, 400),
        undefined(o, 0x9000, b"0230"),
        ascii_(o, 0x9003, "2024:05:06 07:08:09"),
        Entry(0x9204, 10, 1, struct.pack(o + "ii", -1, 3)),
        short(o, 0x9207, 5),
        short(o, 0x9209, 0x19),
        rational(o, 0x920A, 35, 1),
        undefined(o, 0x9286, b"ASCII\0\0\0Hello from the field   "),
        short(o, 0xA002, 64),
        short(o, 0xA003, 48),
    ]
    ifd1 = [
        rational(o, 0x011A, 72, 1),
        rational(o, 0x011B, 72, 1),
        short(o, 0x0128, 2),
        link(0x0201, "thumb"),
        long_(o, 0x0202, len(thumb)),
    ]
    # 0x0201 is a LONG offset; link() writes the blob's offset into it.
    return tiff_block(order, {"ifd0": (ifd0, "ifd1"), "exif": (exif, None), "ifd1": (ifd1, None)},
                      {"thumb": thumb})


def pillow_jpeg(im, **kw):
    buf = io.BytesIO()
    im.save(buf, "JPEG", quality=90, **kw)
    return buf.getvalue()


def main():
    src = source_picture()
    tmp = tempfile.mkdtemp()
    try:
        ppm = os.path.join(tmp, "src.ppm")
        src.save(ppm)
        pgm = os.path.join(tmp, "src.pgm")
        src.convert("L").save(pgm)

        cjpeg(ppm, "baseline_420.jpg", "-quality", "85", "-sample", "2x2")
        cjpeg(ppm, "baseline_444.jpg", "-quality", "85", "-sample", "1x1")
        cjpeg(ppm, "progressive.jpg", "-quality", "85", "-progressive")
        cjpeg(pgm, "grey.jpg", "-quality", "85")
        cjpeg(ppm, "arithmetic.jpg", "-quality", "85", "-arithmetic")
        cjpeg(ppm, "restart.jpg", "-quality", "85", "-restart", "1B")
        # Adobe CMYK (inverted samples, Adobe marker) as ImageMagick writes it.
        subprocess.run([CONVERT, ppm, "-colorspace", "CMYK", "-quality", "90", out("cmyk_adobe.jpg")],
                       check=True)

        # JFIF densities: unit 1 (Pillow), unit 2 (ImageMagick), unit 0 (Pillow's default).
        with open(out("density_dpi72.jpg"), "wb") as f:
            f.write(pillow_jpeg(src, dpi=(72, 72)))
        subprocess.run([CONVERT, ppm, "-units", "PixelsPerCentimeter", "-density", "118",
                        "-quality", "90", out("density_dpcm118.jpg")], check=True)
        with open(out("density_unit0.jpg"), "wb") as f:
            f.write(pillow_jpeg(src))

        with open(out("baseline_420.jpg"), "rb") as f:
            base = f.read()
        with open(out("truncated.jpg"), "wb") as f:
            f.write(base[:len(base) * 55 // 100])

        thumb = pillow_jpeg(src.resize((16, 12)))
        for order, name in (("II", "exif_intel.jpg"), ("MM", "exif_motorola.jpg")):
            with open(out(name), "wb") as f:
                f.write(pillow_jpeg(src, dpi=(72, 72), exif=camera_exif(order, thumb)))

        intel = pillow_jpeg(src, dpi=(72, 72), exif=camera_exif("II", thumb))
        com = segment(0xFE, b"Line one\r\nLine two\x01\tend")
        with open(out("exif_comment.jpg"), "wb") as f:
            f.write(insert_after_exif(intel, [com]))
        # More than 20 kept sections before the scan; the EXIF block is among the first.
        pads = [segment(0xE2, b"PAD%02d" % i + b"\0" * 10) for i in range(24)]
        with open(out("many_sections.jpg"), "wb") as f:
            f.write(insert_after_exif(intel, pads))

        o = "<"
        plain = pillow_jpeg(src, dpi=(72, 72))

        def with_exif(name, payload):
            with open(out(name), "wb") as f:
                f.write(insert_after_app0(plain, [segment(0xE1, payload)]))

        # Directory links that loop: IFD0 -> itself, the EXIF directory -> IFD0.
        with_exif("exif_bad_cycle.jpg", tiff_block("II", {
            "ifd0": ([ascii_(o, 0x010F, "Cycle"), link(0x8769, "exif"),
                      rational(o, 0x011A, 200, 1), short(o, 0x0128, 2)], "ifd0"),
            "exif": ([link(0x8769, "ifd0"), link(0xA005, "exif")], "exif"),
        }))
        # A value offset far outside the block.
        bad = bytearray(tiff_block("II", {"ifd0": ([ascii_(o, 0x010F, "Far away make name"),
                                                    rational(o, 0x011A, 300, 1)], None)}))
        struct.pack_into("<I", bad, 6 + 8 + 2 + 8, 0xFFFFFFF0)
        with_exif("exif_bad_offset.jpg", bytes(bad))
        # A format code above 12.
        bad = bytearray(tiff_block("II", {"ifd0": ([short(o, 0x0112, 1),
                                                    rational(o, 0x011A, 300, 1)], None)}))
        struct.pack_into("<H", bad, 6 + 8 + 2 + 2, 99)
        with_exif("exif_bad_format.jpg", bytes(bad))
        # An entry count that runs past the block.
        bad = bytearray(tiff_block("II", {"ifd0": ([rational(o, 0x011A, 300, 1)], None)}))
        struct.pack_into("<H", bad, 6 + 8, 0xFFFF)
        with_exif("exif_bad_count.jpg", bytes(bad))
        # Component count whose byte count wraps in 32 bits (0x20000000 * 8).
        bad = bytearray(tiff_block("II", {"ifd0": ([rational(o, 0x011A, 300, 1)], None)}))
        struct.pack_into("<I", bad, 6 + 8 + 2 + 4, 0x20000000)
        with_exif("exif_bad_wrap.jpg", bytes(bad))
        # A subdirectory link past the end.
        with_exif("exif_bad_sublink.jpg", tiff_block("II", {
            "ifd0": ([rational(o, 0x011A, 300, 1), Entry(0x8769, 4, 1, struct.pack("<I", 0x7FFFFFF0))],
                     None)}))
        # Bad alignment marker, and an APP1 that stops inside the TIFF header.
        good = tiff_block("II", {"ifd0": ([rational(o, 0x011A, 300, 1)], None)})
        with_exif("exif_bad_align.jpg", b"Exif\0\0XX" + good[8:])
        with_exif("exif_bad_short.jpg", good[:10])
        # A zero-component rational as the last entry of a directory that ends
        # flush with the block (no room for the next-directory link).
        z = bytearray(tiff_block("II", {"ifd0": ([ascii_(o, 0x010F, "Zer"),
                                                  Entry(0x011A, 5, 0, b"")], None)}))
        with_exif("exif_bad_flush.jpg", bytes(z[:-4]))
    finally:
        shutil.rmtree(tmp)


def insert_after_exif(data, blocks):
    for pos, marker, length in segments(data):
        if marker == 0xE1:
            at = pos + 2 + length
            return data[:at] + b"".join(blocks) + data[at:]
    raise SystemExit("no APP1")


if __name__ == "__main__":
    main()
