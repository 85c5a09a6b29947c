#!/usr/bin/python3
"""Regenerates the metafile fixtures.

fig_*.emf come from fig2dev (an independent EMF writer; Debian package fig2dev,
needed only to regenerate) fed with the .fig
drawings written here. wmf_*.wmf and emf_*.emf are built record by record;
their drawings are described next to each record so a viewer can check them.
"""
import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def rgb(r, g, b):
    return r | (g << 8) | (b << 16)


# ---------------------------------------------------------------- 16-bit WMF
class Wmf:
    def __init__(self):
        self.recs = b""
        self.max_rec = 0

    def rec(self, fn, payload=b""):
        if len(payload) % 2:
            payload += b"\0"
        words = 3 + len(payload) // 2
        self.max_rec = max(self.max_rec, words)
        self.recs += struct.pack("<IH", words, fn) + payload

    def w(self, fn, *params):
        self.rec(fn, struct.pack("<%dh" % len(params), *params))

    def build(self, box, upi, objects=16):
        self.rec(0)  # META_EOF
        body = struct.pack("<HHHIHIH", 1, 9, 0x300, (18 + len(self.recs)) // 2, objects,
                           self.max_rec, 0) + self.recs
        ph = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, *box, upi, 0)
        checksum = 0
        for i in range(10):
            checksum ^= struct.unpack("<H", ph[2 * i:2 * i + 2])[0]
        return ph + struct.pack("<H", checksum) + body

    # drawing helpers; points are (x, y), rectangles (left, top, right, bottom)
    def pen(self, style, width, color):
        self.rec(0x02FA, struct.pack("<HhhI", style, width, 0, color))

    def brush(self, style, color, hatch=0):
        self.rec(0x02FC, struct.pack("<HIH", style, color, hatch))

    def font(self, height, face, charset=0, weight=400, esc=0):
        name = face.encode("gbk" if charset == 134 else "cp1252")
        self.rec(0x02FB, struct.pack("<5h8B", height, 0, esc, esc, weight, 0, 0, 0, charset, 0, 0, 0, 0)
                 + name.ljust(32, b"\0")[:32])

    def select(self, i):
        self.w(0x012D, i)

    def delete(self, i):
        self.w(0x01F0, i)

    def rect(self, l, t, r, b):
        self.w(0x041B, b, r, t, l)

    def ellipse(self, l, t, r, b):
        self.w(0x0418, b, r, t, l)

    def roundrect(self, l, t, r, b, cw, ch):
        self.w(0x061C, ch, cw, b, r, t, l)

    def arc(self, fn, box, start, end):
        l, t, r, b = box
        self.w(fn, end[1], end[0], start[1], start[0], b, r, t, l)

    def poly(self, fn, pts):
        self.rec(fn, struct.pack("<H", len(pts)) + b"".join(struct.pack("<hh", *p) for p in pts))

    def polypolygon(self, polys):
        data = struct.pack("<H", len(polys)) + b"".join(struct.pack("<H", len(p)) for p in polys)
        data += b"".join(struct.pack("<hh", *pt) for p in polys for pt in p)
        self.rec(0x0538, data)

    def textout(self, x, y, text, charset=0):
        s = text.encode("gbk" if charset == 134 else "cp1252")
        pad = s + (b"\0" if len(s) % 2 else b"")
        self.rec(0x0521, struct.pack("<H", len(s)) + pad + struct.pack("<hh", y, x))

    def stretchdib(self, dst, src, dib, rop=0x00CC0020):
        x, y, w, h = dst
        sx, sy, sw, sh = src
        self.rec(0x0F43, struct.pack("<IH8h", rop, 0, sh, sw, sy, sx, h, w, y, x) + dib)


def dib24(pixels):
    """pixels: rows top to bottom of (r, g, b); stored bottom-up, 24 bits."""
    h = len(pixels)
    w = len(pixels[0])
    stride = (w * 3 + 3) & ~3
    bits = b""
    for row in reversed(pixels):
        line = b"".join(struct.pack("BBB", b, g, r) for (r, g, b) in row)
        bits += line.ljust(stride, b"\0")
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(bits), 0, 0, 0, 0) + bits


RED, GREEN, BLUE, BLACK = rgb(255, 0, 0), rgb(0, 160, 0), rgb(0, 0, 255), rgb(0, 0, 0)
YELLOW, GREY = rgb(255, 200, 0), rgb(128, 128, 128)


def wmf_shapes():
    """288 x 192 pixels (box 0..4320 x 0..2880 at 1440 units per inch: 15 units a pixel)."""
    m = Wmf()
    m.w(0x0103, 8)           # MM_ANISOTROPIC
    m.w(0x020B, 0, 0)        # window origin
    m.w(0x020C, 2880, 4320)  # window extent (y, x)
    m.pen(0, 30, BLACK)      # 0: 2-pixel black pen
    m.brush(0, RED)          # 1: red
    m.brush(0, BLUE)         # 2: blue
    m.brush(2, GREEN, 5)     # 3: green diagonal cross hatch
    m.brush(1, 0)            # 4: null brush
    m.brush(0, YELLOW)       # 5: yellow
    m.select(0)
    m.select(1)
    m.rect(150, 150, 1200, 900)          # red rectangle, pixels 10..80 x 10..60
    m.select(2)
    m.ellipse(1500, 150, 2700, 900)      # blue ellipse, pixels 100..180 x 10..60
    m.select(3)
    m.roundrect(3000, 150, 4200, 900, 300, 300)  # hatched round rectangle
    m.select(5)
    m.poly(0x0324, [(150, 1200), (1200, 1200), (675, 2100)])  # yellow triangle
    m.w(0x0106, 1)  # ALTERNATE: the inner square stays a hole
    m.select(2)
    m.polypolygon([[(1500, 1200), (2700, 1200), (2700, 2100), (1500, 2100)],
                   [(1800, 1400), (2400, 1400), (2400, 1900), (1800, 1900)]])
    m.select(1)
    m.arc(0x081A, (3000, 1200, 4200, 2400), (4200, 1800), (3600, 1200))  # pie: the upper right quarter
    m.select(4)
    m.arc(0x0830, (150, 2250, 1200, 2850), (150, 2550), (1200, 2550))   # chord outline
    m.arc(0x0817, (1500, 2250, 2700, 2850), (2700, 2550), (1500, 2550))  # arc over the top
    m.w(0x0214, 2700, 3000)  # move to (3000, 2700)
    m.w(0x0213, 2400, 4200)  # line to (4200, 2400)
    m.poly(0x0325, [(3000, 2850), (3300, 2550), (3600, 2850), (3900, 2550), (4200, 2850)])
    return m.build((0, 0, 4320, 2880), 1440)


def wmf_text_bitmap():
    """192 x 96 pixels, one unit a pixel."""
    m = Wmf()
    m.font(-20, "Arial")                       # 0
    m.font(-24, "宋体", charset=134)            # 1
    m.brush(0, rgb(230, 230, 255))             # 2
    m.select(0)
    m.w(0x0209, BLUE & 0xFFFF, BLUE >> 16)     # text colour
    m.w(0x0102, 1)                             # transparent background
    m.textout(8, 6, "Hello WMF")
    m.select(1)
    m.w(0x0209, RED & 0xFFFF, RED >> 16)
    m.textout(8, 36, "中文字体", charset=134)
    checker = [[(255, 0, 0), (0, 0, 255)], [(0, 160, 0), (255, 200, 0)]]
    m.stretchdib((120, 30, 60, 60), (0, 0, 2, 2), dib24(checker))  # 2 x 2 scaled to 60 x 60
    m.w(0x001E)                                # SaveDC
    m.w(0x0416, 60, 180, 8, 150)               # IntersectClipRect(150, 8, 180, 60)
    m.select(2)
    m.rect(100, 0, 192, 20)                    # only its clipped part shows
    m.w(0x0127, -1)                            # RestoreDC
    return m.build((0, 0, 192, 96), 96)


# ---------------------------------------------------------------- EMF
class Emf:
    def __init__(self):
        self.recs = b""
        self.count = 0

    def rec(self, t, payload=b""):
        payload += b"\0" * (-len(payload) % 4)
        self.recs += struct.pack("<II", t, 8 + len(payload)) + payload
        self.count += 1

    def i(self, t, *vals):
        self.rec(t, struct.pack("<%di" % len(vals), *vals))

    def build(self, bounds, handles=16):
        self.rec(14, struct.pack("<III", 0, 16, 20))
        l, t, r, b = bounds
        frame = tuple(int(round(v * 2540 / 96)) for v in bounds)
        total = 88 + len(self.recs)
        head = struct.pack("<II4i4iIIIIHHIIIii ii".replace(" ", ""), 1, 88, l, t, r, b, *frame,
                           0x464D4520, 0x10000, total, self.count + 1, handles, 0, 0, 0, 0,
                           960, 960, 254, 254)
        return head + self.recs

    def pen(self, ih, style, width, color):
        self.i(38, ih, style, width, 0, color)

    def brush(self, ih, style, color, hatch=0):
        self.i(39, ih, style, color, hatch)

    def select(self, ih):
        self.i(37, ih)

    def font(self, ih, height, face, weight=400):
        name = face.encode("utf-16-le").ljust(64, b"\0")[:64]
        self.rec(82, struct.pack("<6i8B", ih, height, 0, 0, 0, weight, 0, 0, 0, 1, 0, 0, 0, 0) + name)

    def textw(self, x, y, text, options=0, rect=(0, 0, 0, 0)):
        s = text.encode("utf-16-le")
        off = 8 + 28 + 40  # record header, bounds and scales, EMRTEXT
        head = struct.pack("<4iiff", 0, 0, -1, -1, 1, 1.0, 1.0)
        emrtext = struct.pack("<iiIII4iI", x, y, len(s) // 2, off, options, *rect, 0)
        self.rec(84, head + emrtext + s)

    def points(self, t, pts, small=False):
        fmt = "<hh" if small else "<ii"
        self.rec(t, struct.pack("<4iI", 0, 0, -1, -1, len(pts)) + b"".join(struct.pack(fmt, *p) for p in pts))

    def stretchdibits(self, dst, src, dib):
        x, y, w, h = dst
        sx, sy, sw, sh = src
        header_len = 40
        off_bmi = 8 + 72
        off_bits = off_bmi + header_len
        self.rec(81, struct.pack("<4i6i4I2I2i", 0, 0, -1, -1, x, y, sx, sy, sw, sh, off_bmi, header_len,
                                 off_bits, len(dib) - header_len, 0, 0x00CC0020, w, h) + dib)


def emf_shapes():
    """192 x 144 pixels: Bézier, path fill, world transform, clip path, text."""
    m = Emf()
    m.pen(1, 0, 3, BLACK)      # geometric 3-pixel pen
    m.brush(2, 0, GREEN)
    m.brush(3, 0, BLUE)
    m.pen(4, 0, 0, RED)        # cosmetic red
    m.select(1)
    m.select(2)
    m.i(43, 10, 10, 60, 50)                                  # green rectangle
    m.select(4)
    m.points(2, [(70, 50), (90, 0), (130, 100), (150, 20)])  # red Bézier
    m.select(3)
    m.i(59)                                                  # BeginPath
    m.points(86, [(10, 70), (60, 70), (35, 120)], small=True)  # triangle into the path
    m.i(60)                                                  # EndPath
    m.i(62, 0, 0, -1, -1)                                    # FillPath: blue triangle
    m.i(33)                                                  # SaveDC
    m.rec(36, struct.pack("<6fI", 1.0, 0.0, 0.0, 1.0, 80.0, 60.0, 4))  # world: move by (80, 60)
    m.brush(5, 2, RED, 4)                                    # red cross hatch
    m.select(5)
    m.i(42, 0, 10, 40, 50)                                   # hatched circle at (80..120, 70..110)
    m.i(34, -1)                                              # RestoreDC
    m.i(59)
    m.i(42, 130, 60, 190, 120)                               # circle path
    m.i(60)
    m.i(67, 5)                                               # SelectClipPath(RGN_COPY)
    m.select(2)
    m.i(43, 130, 60, 190, 90)                                # green, only inside the circle
    m.i(75, 0, 5)                                            # clip reset
    m.font(6, -16, "DejaVu Sans")
    m.select(6)
    m.i(24, BLUE)                                            # text colour
    m.i(18, 1)                                               # transparent
    m.textw(10, 124, "EMF 文字")
    return m.build((0, 0, 192, 144))


def emf_bitmap():
    """96 x 96 pixels: a 4 x 4 DIB stretched over the middle."""
    m = Emf()
    colours = [(255, 0, 0), (0, 160, 0), (0, 0, 255), (255, 200, 0)]
    pix = [[colours[(x // 2) + 2 * (y // 2)] for x in range(4)] for y in range(4)]
    m.stretchdibits((16, 16, 64, 64), (0, 0, 4, 4), dib24(pix))
    return m.build((0, 0, 96, 96))


# ---------------------------------------------------------------- fig2dev
FIG_HEAD = "#FIG 3.2\nLandscape\nCenter\nInches\nLetter\n100.00\nSingle\n-2\n1200 2\n"


def fig_shapes():
    # fig2dev writes EMF in 1200-dpi device units whatever the magnification,
    # so the drawing itself is small: about 480 x 400 pixels.
    # colours: 1 blue, 2 green, 4 red; fill style 20 = full colour
    body = [
        # red rectangle 100..300 x 100..220, 1/80 inch black border
        "2 2 0 1 0 4 50 -1 20 0.000 0 0 -1 0 0 5\n\t 100 100 300 100 300 220 100 220 100 100\n",
        # blue disc centred at (450, 160), radius 80
        "1 3 0 1 0 1 50 -1 20 0.000 1 0.0000 450 160 80 80 450 160 530 160\n",
        # green open polyline, 2/80 inch wide
        "2 1 0 2 2 7 50 -1 -1 0.000 0 0 -1 0 0 3\n\t 100 300 250 360 550 300\n",
        # black 5-point Helvetica text with its baseline at y = 460
        "4 0 0 50 -1 16 5 0.0000 4 60 300 100 460 Metafile\\001\n",
    ]
    return FIG_HEAD + "".join(body)


def main():
    out = {
        "wmf_shapes.wmf": wmf_shapes(),
        "wmf_text_bitmap.wmf": wmf_text_bitmap(),
        "emf_shapes.emf": emf_shapes(),
        "emf_bitmap.emf": emf_bitmap(),
    }
    for name, data in out.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
    fig = os.path.join(HERE, "fig_shapes.fig")
    with open(fig, "w") as f:
        f.write(fig_shapes())
    subprocess.run(["fig2dev", "-L", "emf", fig, os.path.join(HERE, "fig_shapes.emf")],
                   check=True)


if __name__ == "__main__":
    main()
