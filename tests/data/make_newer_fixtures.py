#!/usr/bin/python3
"""Regenerates the WebP, HEIF/AVIF and JPEG XL fixtures with each format's
reference tools (cwebp, img2webp, webpmux, heif-enc, avifenc, cjxl) from small
pictures Pillow draws.

usage: tests/data/make_newer_fixtures.py
Writes webp/, heif/ and jxl/ beside this script.
"""
import os
import struct
import subprocess
import tempfile

from PIL import Image, ImageCms

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 48, 32


def run(*cmd):
    subprocess.run(cmd, check=True, capture_output=True)


def rgb():
    im = Image.new("RGB", (W, H))
    for y in range(H):
        for x in range(W):
            im.putpixel((x, y), ((x * 5) & 255, (y * 8) & 255, (x * y * 3 + 40) & 255))
    return im


def rgba():
    """Every opacity from clear to opaque, and colours under clear pixels."""
    im = Image.new("RGBA", (W, H))
    for y in range(H):
        for x in range(W):
            a = 0 if x < 6 else 255 if x >= 40 else (x - 6) * 7
            im.putpixel((x, y), ((x * 7) & 255, (y * 9) & 255, 200 - x, a))
    return im


def grey():
    return rgb().convert("L")


def frames():
    """Three canvases: a square moving over a clear background, one half-clear."""
    out = []
    for i in range(3):
        im = Image.new("RGBA", (40, 30), (0, 0, 0, 0))
        for y in range(8, 20):
            for x in range(4 + i * 9, 18 + i * 9):
                im.putpixel((x, y), (200, 40 * i, 90, 255 if i != 1 else 128))
        out.append(im)
    return out


def deep_ppm(path):
    """A 16-bit PPM whose samples are not multiples of 257."""
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n65535\n" % (W, H))
        for y in range(H):
            for x in range(W):
                f.write(struct.pack(">HHH", (x * 1361) & 0xFFFF, (y * 2011 + 5) & 0xFFFF,
                                    (x * y * 97 + 300) & 0xFFFF))


def s15(v):
    return struct.pack(">i", int(round(v * 65536)))


def xyz_tag(x, y, z):
    return b"XYZ " + b"\0" * 4 + s15(x) + s15(y) + s15(z)


def wide_gamut_icc():
    """An ICC v2 matrix/TRC profile: Adobe RGB (1998) primaries, gamma 2.2."""
    desc_text = b"Vellumar test wide gamut\0"
    desc = (b"desc" + b"\0" * 4 + struct.pack(">I", len(desc_text)) + desc_text +
            b"\0" * 8 + b"\0" * 3 + b"\0" * 67)
    curve = b"curv" + b"\0" * 4 + struct.pack(">I", 1) + struct.pack(">H", 0x0233) + b"\0\0"
    tags = [
        (b"desc", desc),
        (b"wtpt", xyz_tag(0.9642, 1.0, 0.8249)),
        (b"rXYZ", xyz_tag(0.6097, 0.3111, 0.0195)),
        (b"gXYZ", xyz_tag(0.2053, 0.6257, 0.0609)),
        (b"bXYZ", xyz_tag(0.1492, 0.0632, 0.7446)),
        (b"rTRC", curve), (b"gTRC", curve), (b"bTRC", curve),
        (b"cprt", b"text" + b"\0" * 4 + b"none\0\0\0\0"),
    ]
    offset = 128 + 4 + 12 * len(tags)
    table, body = b"", b""
    for sig, data in tags:
        while (offset + len(body)) % 4:
            body += b"\0"
        table += sig + struct.pack(">II", offset + len(body), len(data))
        body += data
    size = offset + len(body)
    header = (struct.pack(">I", size) + b"\0" * 4 + struct.pack(">I", 0x02100000) + b"mntr" +
              b"RGB XYZ " + b"\0" * 12 + b"acsp" + b"\0" * 24 + struct.pack(">I", 0) +
              s15(0.9642) + s15(1.0) + s15(0.8249) + b"\0" * 48)
    assert len(header) == 128
    return header + struct.pack(">I", len(tags)) + table + body


def shrink_ispe(path, width, height):
    """Makes the container declare a smaller picture than its stream codes."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    at = data.find(b"ispe")
    data[at + 8:at + 16] = struct.pack(">II", width, height)
    with open(path, "wb") as f:
        f.write(data)


def expected_srgb(src, icc, path):
    """What a viewer shows for `src` tagged with `icc`: Pillow's own conversion."""
    profile = ImageCms.ImageCmsProfile(__import__("io").BytesIO(icc))
    srgb = ImageCms.createProfile("sRGB")
    out = ImageCms.profileToProfile(src, profile, srgb, outputMode="RGB")
    out.info.pop("icc_profile", None)  # it carries the time it was made
    out.save(path)


def main():
    for d in ("webp", "heif", "jxl"):
        os.makedirs(os.path.join(HERE, d), exist_ok=True)
    webp, heif, jxl = (os.path.join(HERE, d) for d in ("webp", "heif", "jxl"))
    icc = wide_gamut_icc()
    with tempfile.TemporaryDirectory() as t:
        src_rgb, src_rgba, src_grey = (os.path.join(t, n) for n in ("rgb.png", "rgba.png", "grey.png"))
        rgb().save(src_rgb)
        rgba().save(src_rgba)
        grey().save(src_grey)
        src_icc = os.path.join(t, "icc.png")
        rgb().save(src_icc, icc_profile=icc)
        icc_path = os.path.join(t, "wide.icc")
        with open(icc_path, "wb") as f:
            f.write(icc)
        src_deep = os.path.join(t, "deep.ppm")
        deep_ppm(src_deep)
        src_deep_png = os.path.join(t, "deep.png")
        with open(src_deep_png, "wb") as f:
            f.write(subprocess.run(["/usr/bin/pnmtopng", src_deep], check=True,
                                   capture_output=True).stdout)
        frame_paths = []
        for i, im in enumerate(frames()):
            frame_paths.append(os.path.join(t, f"f{i}.png"))
            im.save(frame_paths[-1])
        # A JPEG whose EXIF block says orientation 6, and the block alone as
        # Pillow writes it (with JPEG's "Exif\0\0" in front).
        exif = Image.Exif()
        exif[271] = "Vellumar fixture"
        exif[274] = 6
        src_exif = os.path.join(t, "exif.jpg")
        rgb().save(src_exif, exif=exif.tobytes())
        exif_path = os.path.join(t, "exif.bin")
        with open(exif_path, "wb") as f:
            f.write(exif.tobytes())
        apng = os.path.join(t, "anim.png")
        canvases = frames()
        canvases[0].save(apng, save_all=True, append_images=canvases[1:], duration=[100, 200, 300],
                         loop=0)

        # WebP
        run("cwebp", "-quiet", "-q", "80", src_rgb, "-o", f"{webp}/lossy.webp")
        run("cwebp", "-quiet", "-lossless", src_rgb, "-o", f"{webp}/lossless.webp")
        run("cwebp", "-quiet", "-lossless", "-exact", src_rgba, "-o", f"{webp}/alpha_lossless.webp")
        run("cwebp", "-quiet", "-q", "75", src_rgba, "-o", f"{webp}/alpha_lossy.webp")
        run("img2webp", "-loop", "0", "-lossless", "-d", "100", frame_paths[0], "-d", "200",
            frame_paths[1], "-d", "300", frame_paths[2], "-o", f"{webp}/anim.webp")
        run("img2webp", "-loop", "0", "-lossy", "-q", "70", *frame_paths, "-o", f"{webp}/anim_lossy.webp")
        plain = os.path.join(t, "plain.webp")
        run("cwebp", "-quiet", "-lossless", src_rgb, "-o", plain)
        run("webpmux", "-set", "icc", icc_path, plain, "-o", f"{webp}/icc.webp")
        expected_srgb(rgb(), icc, f"{webp}/icc_expected.png")
        run("webpmux", "-set", "exif", exif_path, plain, "-o", f"{webp}/exif.webp")

        # HEIC and AVIF
        run("heif-enc", "-q", "80", src_rgb, "-o", f"{heif}/lossy.heic")
        run("heif-enc", "-q", "80", src_rgba, "-o", f"{heif}/alpha.heic")
        run("heif-enc", "-L", "-p", "chroma=444", "--matrix_coefficients=0", src_rgb,
            "-o", f"{heif}/lossless.heic")
        run("heif-enc", "-L", "-p", "chroma=444", "--matrix_coefficients=0", src_rgb, src_grey,
            "-o", f"{heif}/two.heic")
        run("heif-enc", "-b", "10", "-q", "90", src_deep_png, "-o", f"{heif}/deep10.heic")
        run("avifenc", "-j", "1", "-s", "8", src_rgb, f"{heif}/lossy.avif")
        run("avifenc", "-j", "1", "-s", "8", src_rgba, f"{heif}/alpha.avif")
        run("avifenc", "-j", "1", "-s", "8", "-l", src_rgb, f"{heif}/lossless.avif")
        run("avifenc", "-j", "1", "-s", "8", "-d", "10", src_deep_png, f"{heif}/deep10.avif")
        run("avifenc", "-j", "1", "-s", "8", "-d", "12", src_deep_png, f"{heif}/deep12.avif")
        run("avifenc", "-j", "1", "-s", "8", "-l", "--irot", "1", "--imir", "0", src_rgb,
            f"{heif}/turned.avif")
        run("avifenc", "-j", "1", "-s", "8", "-l", "--icc", icc_path, src_rgb, f"{heif}/icc.avif")
        expected_srgb(rgb(), icc, f"{heif}/icc_expected.png")
        run("heif-enc", "-q", "80", src_exif, "-o", f"{heif}/exif.heic")
        run("avifenc", "-j", "1", "-s", "8", src_exif, f"{heif}/exif.avif")
        # Coded 1024 x 1024, declared 64 x 64.
        flat = os.path.join(t, "flat.png")
        Image.new("RGB", (1024, 1024), (90, 120, 30)).save(flat)
        run("heif-enc", "-q", "30", "-p", "preset=ultrafast", flat, "-o", f"{heif}/lying.heic")
        run("avifenc", "-j", "1", "-s", "10", flat, f"{heif}/lying.avif")
        shrink_ispe(f"{heif}/lying.heic", 64, 64)
        shrink_ispe(f"{heif}/lying.avif", 64, 64)

        # JPEG XL
        run("cjxl", "-d", "0", src_rgb, f"{jxl}/lossless.jxl")
        run("cjxl", "-d", "1", src_rgb, f"{jxl}/lossy.jxl")
        run("cjxl", "-d", "0", src_rgba, f"{jxl}/alpha.jxl")
        run("cjxl", "-d", "0", src_grey, f"{jxl}/grey.jxl")
        run("cjxl", "-d", "0", src_deep, f"{jxl}/deep16.jxl")
        run("cjxl", "-d", "0", apng, f"{jxl}/anim.jxl")
        run("cjxl", "-d", "0", src_icc, f"{jxl}/icc.jxl")
        expected_srgb(rgb(), icc, f"{jxl}/icc_expected.png")
        # A rebuildable JPEG: orientation in the code stream, EXIF in "brob".
        run("cjxl", src_exif, f"{jxl}/exif.jxl")
        for i, im in enumerate(canvases):
            im.save(f"{jxl}/anim_frame{i}.png")


if __name__ == "__main__":
    main()
