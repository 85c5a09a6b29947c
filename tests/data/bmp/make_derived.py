#!/usr/bin/env python3
"""BMP variants no installed tool writes, derived from tool-written fixtures:
RLE4 (encoded with the format's absolute and encoded runs), top-down 24-bit,
16-bit 5-5-5 without bit masks, version 5 headers cut to 52, 56 and 108
bytes, alpha masks after a 40-byte header, a 32-bit file whose alpha is zero
everywhere, and 10-bit fields in red-low order."""
import struct


def headers(data):
    off = struct.unpack_from("<I", data, 10)[0]
    return off


def top_down(src, dst):
    d = bytearray(open(src, "rb").read())
    off = headers(d)
    w, h = struct.unpack_from("<ii", d, 18)
    stride = ((w * 24 + 31) // 32) * 4
    rows = [d[off + i * stride: off + (i + 1) * stride] for i in range(h)]
    d[off:off + stride * h] = b"".join(reversed(rows))
    struct.pack_into("<i", d, 22, -h)
    open(dst, "wb").write(d)


def v5_to_info_header(src, dst, keep_masks):
    """A 124-byte-header 16-bit bit-field file as a 40-byte-header file: with
    the three masks after the header (BI_BITFIELDS), or without them (BI_RGB,
    which means 5-5-5)."""
    d = open(src, "rb").read()
    assert struct.unpack_from("<I", d, 14)[0] == 124
    assert struct.unpack_from("<I", d, 30)[0] == 3
    masks = d[54:66]
    pixels = d[headers(d):]
    info = bytearray(d[14:54])
    struct.pack_into("<I", info, 0, 40)
    if not keep_masks:
        assert struct.unpack("<III", masks) == (0x7C00, 0x03E0, 0x001F)
        struct.pack_into("<I", info, 16, 0)
        masks = b""
    out = bytearray(b"BM" + bytes(12)) + info + masks + pixels
    struct.pack_into("<I", out, 2, len(out))
    struct.pack_into("<I", out, 10, 14 + 40 + len(masks))
    open(dst, "wb").write(out)


def rle4(src, dst):
    """Re-encodes a 4-bit BMP as RLE4: runs of equal pixels as encoded runs,
    the rest as absolute runs of even length, with the end-of-line and
    end-of-bitmap escapes."""
    d = open(src, "rb").read()
    off = headers(d)
    w, h = struct.unpack_from("<ii", d, 18)
    assert struct.unpack_from("<H", d, 28)[0] == 4
    stride = ((w * 4 + 31) // 32) * 4
    body = bytearray()
    for y in range(h):
        row = d[off + y * stride: off + (y + 1) * stride]
        px = [(row[x // 2] >> 4) if x % 2 == 0 else (row[x // 2] & 15) for x in range(w)]
        x = 0
        while x < w:
            run = 1
            while x + run < w and px[x + run] == px[x] and run < 255:
                run += 1
            # Absolute runs stay even: Pillow, the reference here, drops the
            # last pixel of odd ones. Odd runs are covered by unit tests.
            n = 0
            while x + n + 1 < w and n < 254 and px[x + n] != px[x + n + 1]:
                n += 2
            if run >= 3 or n < 4:
                run = max(1, run if run >= 3 else 1)
                body += bytes([run, (px[x] << 4) | px[x]])
                x += run
            else:
                vals = px[x:x + n]
                packed = bytes((vals[i] << 4) | vals[i + 1] for i in range(0, n, 2))
                body += bytes([0, n]) + packed
                if len(packed) % 2:
                    body += b"\0"
                x += n
        body += b"\0\0"
    body += b"\0\1"
    head = bytearray(d[:off])
    struct.pack_into("<I", head, 30, 2)          # BI_RLE4
    struct.pack_into("<I", head, 34, len(body))
    struct.pack_into("<I", head, 2, len(head) + len(body))
    open(dst, "wb").write(head + body)


def cut_header(src, dst, size):
    """A 124-byte-header file with its header cut to `size` bytes."""
    d = open(src, "rb").read()
    assert struct.unpack_from("<I", d, 14)[0] == 124
    out = bytearray(d[:14 + size] + d[14 + 124:])
    struct.pack_into("<I", out, 14, size)
    struct.pack_into("<I", out, 10, headers(d) - (124 - size))
    struct.pack_into("<I", out, 2, len(out))
    open(dst, "wb").write(out)


def alpha_fields_after_info_header(src, dst):
    """A 32-bit version 5 file as a 40-byte header with compression 6 and the
    four masks after it."""
    d = open(src, "rb").read()
    assert struct.unpack_from("<IHI", d, 14 + 0)[0] == 124
    info = bytearray(d[14:54])
    struct.pack_into("<I", info, 0, 40)
    struct.pack_into("<I", info, 16, 6)
    out = bytearray(b"BM" + bytes(12)) + info + d[54:70] + d[headers(d):]
    struct.pack_into("<I", out, 2, len(out))
    struct.pack_into("<I", out, 10, 14 + 40 + 16)
    open(dst, "wb").write(out)


def zero_alpha(src, dst):
    d = bytearray(open(src, "rb").read())
    for i in range(headers(d) + 3, len(d), 4):
        d[i] = 0
    open(dst, "wb").write(d)


def ten_bit_fields(src, dst):
    """The 24-bit picture with 10-bit channels (red in the low bits, exact
    after scaling back) and a 2-bit alpha of 3, in a 108-byte header."""
    d = open(src, "rb").read()
    off = headers(d)
    w, h = struct.unpack_from("<ii", d, 18)
    stride = ((w * 24 + 31) // 32) * 4
    body = bytearray()
    for y in range(h):
        for x in range(w):
            b, g, r = d[off + y * stride + 3 * x: off + y * stride + 3 * x + 3]
            ten = [round(v * 1023 / 255) for v in (r, g, b)]
            body += struct.pack("<I", ten[0] | ten[1] << 10 | ten[2] << 20 | 3 << 30)
    info = bytearray(108)
    struct.pack_into("<IiiHHIIiiII", info, 0, 108, w, h, 1, 32, 3, len(body), 2835, 2835, 0, 0)
    struct.pack_into("<IIII", info, 40, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000)
    out = bytearray(b"BM" + bytes(12)) + info + body
    struct.pack_into("<I", out, 2, len(out))
    struct.pack_into("<I", out, 10, 14 + 108)
    open(dst, "wb").write(out)


import sys
tmp = sys.argv[1]
top_down("bits24.bmp", "topdown24.bmp")
v5_to_info_header("v5_555.bmp", "rgb555.bmp", keep_masks=False)
v5_to_info_header("v5_565.bmp", "rgb565.bmp", keep_masks=True)
rle4("bits4.bmp", "rle4.bmp")
cut_header("v5_565.bmp", "v2_565.bmp", 52)
cut_header("v5_argb32.bmp", "v3_argb32.bmp", 56)
cut_header("v5_24.bmp", "v4_24.bmp", 108)
alpha_fields_after_info_header("v5_argb32.bmp", "alphafields_argb32.bmp")
zero_alpha("v5_argb32.bmp", "v5_zero_alpha32.bmp")
ten_bit_fields("bits24.bmp", "x10_r10g10b10a2.bmp")
