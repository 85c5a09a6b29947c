#!/usr/bin/python3
"""Makes the benchmark's input sets (seeded, so every run gets the same files).

    /usr/bin/python3 bench/make_inputs.py [DIR]     (default build-bench/inputs)

DIR/photos/{jpg,bmp,png}/photoNN.*   20 photo-like pictures of 2-12 megapixels:
                                     JPEG quality 90 (4:2:0, as a camera writes),
                                     and the JPEG's decoded pixels as 24-bit BMP
                                     and as PNG (zlib level 6)
DIR/small/smallNNN.png               200 pictures of 64-256 pixels: icons with
                                     alpha, flat colour, rendered text
DIR/anim/anim.gif                    100-frame 320x240 animation
DIR/photos/{heic,webp}/photoNN.*     the same photos as a phone and a web page
                                     keep them: HEIC at heif-enc's default quality
                                     (50), WebP at cwebp -q 90 (made by --newer
                                     when missing, from the PNGs)
DIR/photos/tif16/photoNN.tif         the photos as 16-bit RGB TIFF (deflate), the
                                     low byte noise (made by --deep when missing)
DIR/vector/svg/drawNN.svg            40 seeded drawings of 800x600 CSS pixels:
                                     gradients, translucent shapes, strokes
DIR/vector/doc.pdf                   the first 20 of them as a 20-page PDF
                                     (rsvg-convert); both made by --vector
                                     when missing

No Debian package ships enough real photographs (the wallpaper packages hold a
handful, mostly rendered art), so the photos are synthetic: smooth light
fields, hard-edged objects, textured areas and sensor noise, tuned so that
their JPEG sizes (about 3 bits per pixel at quality 90) are those of camera
pictures.
"""
import glob
import math
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

SEED = 20261208

# (width, height): 2 to 12 megapixels, landscape and portrait, 4:3 and 3:2.
PHOTO_SIZES = [
    (1632, 1224), (1224, 1632), (2048, 1536), (1920, 1280), (2304, 1728),
    (2592, 1728), (2592, 1944), (1944, 2592), (3000, 2000), (2816, 2112),
    (3072, 2304), (3264, 2176), (3264, 2448), (2448, 3264), (3456, 2304),
    (3648, 2432), (3648, 2736), (3888, 2592), (4000, 3000), (4032, 3024),
]
SMALL_COUNT = 200
ANIM_FRAMES = 100
ANIM_SIZE = (320, 240)

FONT_PATHS = [
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
]


def upscaled_noise(rng, grid_w, grid_h, width, height):
    """Smooth random field in [-1, 1] of the given size (bicubic upscale)."""
    small = rng.uniform(-1.0, 1.0, (grid_h, grid_w)).astype(np.float32)
    big = Image.fromarray(small, "F").resize((width, height), Image.BICUBIC)
    return np.asarray(big, dtype=np.float32)


def make_photo(index, width, height):
    rng = np.random.default_rng(SEED + index)

    # Light and colour: a sky-to-ground gradient tinted by broad colour fields.
    y = np.linspace(0.0, 1.0, height, dtype=np.float32)[:, None]
    horizon = rng.uniform(0.3, 0.6)
    sky = np.array(rng.uniform([90, 120, 170], [170, 190, 250]), dtype=np.float32)
    ground = np.array(rng.uniform([40, 50, 20], [150, 140, 110]), dtype=np.float32)
    t = np.clip((y - horizon) * 8.0 + 0.5, 0.0, 1.0)[..., None]
    img = np.broadcast_to(sky * (1 - t) + ground * t, (height, width, 3)).copy()
    for c in range(3):
        img[..., c] += 35.0 * upscaled_noise(rng, 5, 4, width, height)

    # Objects: hard-edged shapes in their own colours, then lit by the light field.
    layer = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8), "RGB")
    draw = ImageDraw.Draw(layer)
    scale = min(width, height)
    for _ in range(int(rng.integers(250, 450))):
        cx, cy = rng.uniform(0, width), rng.uniform(height * horizon * 0.8, height)
        r = scale * rng.uniform(0.004, 0.035) * (1 + 4 * rng.uniform() ** 6)
        colour = tuple(int(v) for v in rng.integers(10, 245, 3))
        kind = rng.integers(0, 3)
        if kind == 0:
            draw.ellipse([cx - r, cy - r * rng.uniform(0.3, 1.0), cx + r, cy + r], fill=colour)
        elif kind == 1:
            draw.rectangle([cx - r, cy - r * 2, cx + r * 0.6, cy + r], fill=colour)
        else:
            n = int(rng.integers(3, 8))
            pts = [(cx + r * math.cos(a) * rng.uniform(0.5, 1.2),
                    cy + r * math.sin(a) * rng.uniform(0.5, 1.2))
                   for a in np.sort(rng.uniform(0, 2 * math.pi, n))]
            draw.polygon(pts, fill=colour)
    # Lens softness: edges spread over a pixel or two.
    layer = layer.filter(ImageFilter.GaussianBlur(1.1))
    img = np.asarray(layer, dtype=np.float32)
    light = 1.0 + 0.35 * upscaled_noise(rng, 7, 5, width, height)
    img *= light[..., None]

    # Texture (foliage, fabric, gravel) in part of the picture.
    mask = np.clip(upscaled_noise(rng, 6, 5, width, height) * 2.0 + 0.6, 0.3, 1.0)
    fine = upscaled_noise(rng, width // 3, height // 3, width, height)
    medium = upscaled_noise(rng, width // 12, height // 12, width, height)
    texture = (34.0 * fine + 18.0 * medium) * mask
    img += texture[..., None] * np.array([0.9, 1.0, 0.8], dtype=np.float32)

    # Sensor noise: luminance plus a little chroma noise, stronger in shadows.
    lum = img.mean(axis=2, keepdims=True)
    sigma = 2.4 + 1.6 * (1.0 - np.clip(lum / 255.0, 0.0, 1.0))
    img += rng.standard_normal((height, width, 1), dtype=np.float32) * sigma
    img += rng.standard_normal((height, width, 3), dtype=np.float32) * 1.2
    return Image.fromarray(np.clip(img + 0.5, 0, 255).astype(np.uint8), "RGB")


def make_small(index, rng, fonts):
    size = int(rng.integers(64, 256))  # ICO stops at 255
    w, h = (size, size) if index % 4 != 3 else (size, int(rng.integers(64, 256)))
    kind = index % 3
    if kind == 0:
        # Icon: antialiased shapes on a transparent background (drawn 4x, reduced).
        big = Image.new("RGBA", (w * 4, h * 4), (0, 0, 0, 0))
        d = ImageDraw.Draw(big)
        base = tuple(int(v) for v in rng.integers(0, 256, 3))
        d.rounded_rectangle([w * 0.4, h * 0.4, w * 3.6, h * 3.6], radius=w * 0.6, fill=base + (255,))
        for _ in range(int(rng.integers(2, 6))):
            c = tuple(int(v) for v in rng.integers(0, 256, 3)) + (int(rng.integers(120, 256)),)
            x0, y0 = rng.uniform(0, w * 3), rng.uniform(0, h * 3)
            d.ellipse([x0, y0, x0 + rng.uniform(w * 0.5, w * 2), y0 + rng.uniform(h * 0.5, h * 2)],
                      fill=c)
        return big.resize((w, h), Image.LANCZOS)
    if kind == 1:
        # Flat colour: a few solid blocks, as in diagrams and UI pieces.
        img = Image.new("RGB", (w, h), tuple(int(v) for v in rng.integers(0, 256, 3)))
        d = ImageDraw.Draw(img)
        for _ in range(int(rng.integers(1, 5))):
            x0, y0 = int(rng.integers(0, w)), int(rng.integers(0, h))
            d.rectangle([x0, y0, x0 + int(rng.integers(4, w)), y0 + int(rng.integers(4, h))],
                        fill=tuple(int(v) for v in rng.integers(0, 256, 3)))
        return img
    # Text: a few antialiased lines on a light background.
    img = Image.new("RGB", (w, h), tuple(int(v) for v in rng.integers(200, 256, 3)))
    d = ImageDraw.Draw(img)
    words = ["Vellumar", "batch", "convert", "photo", "icon", "Aa Bb Cc", "0123456789",
             "hello", "image", "palette", "quick brown fox"]
    y = 2
    while y < h - 8:
        font = fonts[int(rng.integers(0, len(fonts)))] if fonts else ImageFont.load_default()
        line = " ".join(words[int(i)] for i in rng.integers(0, len(words), 3))
        d.text((2, y), line, fill=tuple(int(v) for v in rng.integers(0, 120, 3)), font=font)
        y += int(rng.integers(12, 24))
    return img


def make_animation():
    rng = np.random.default_rng(SEED + 1000)
    w, h = ANIM_SIZE
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    background = np.stack([80 + 100 * xx / w, 60 + 120 * yy / h, 160 - 60 * xx / w], axis=2)
    background += rng.normal(0, 4, background.shape)
    frames = []
    for i in range(ANIM_FRAMES):
        img = Image.fromarray(np.clip(background, 0, 255).astype(np.uint8), "RGB")
        d = ImageDraw.Draw(img)
        for k in range(3):
            phase = 2 * math.pi * (i / ANIM_FRAMES) * (k + 1)
            cx = w / 2 + (w / 3) * math.cos(phase + k)
            cy = h / 2 + (h / 3) * math.sin(phase * 1.3 + k)
            r = 18 + 6 * k
            d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=((255, 200, 40), (40, 220, 90),
                                                               (230, 60, 60))[k])
        d.text((8, h - 20), f"frame {i:03d}", fill=(255, 255, 255))
        frames.append(img.quantize(colors=256, method=Image.MEDIANCUT, dither=Image.NONE))
    return frames


def make_newer(out):
    """HEIC and WebP copies of the photos, written by the formats' own tools."""
    for sub, ext, tool in (("heic", ".heic", ["heif-enc", "-q", "50"]),
                           ("webp", ".webp", ["cwebp", "-quiet", "-q", "90"])):
        os.makedirs(os.path.join(out, "photos", sub), exist_ok=True)
        for png in sorted(glob.glob(os.path.join(out, "photos/png/*.png"))):
            target = os.path.join(out, "photos", sub, os.path.basename(png)[:-4] + ext)
            if not os.path.exists(target):
                subprocess.run(tool + [png, "-o", target], check=True, stdout=subprocess.DEVNULL)
    print(f"HEIC and WebP photos in {out}/photos")


def make_deep(out):
    """16-bit TIFF copies of the photos, as a scanner writes them: the JPEG's
    pixels times 257 with noise in the low byte, so the extra bits carry
    something a writer must keep. Written by ImageMagick from 16-bit PPM."""
    os.makedirs(os.path.join(out, "photos", "tif16"), exist_ok=True)
    rng = np.random.default_rng(SEED + 3000)
    for png in sorted(glob.glob(os.path.join(out, "photos/png/*.png"))):
        target = os.path.join(out, "photos/tif16", os.path.basename(png)[:-4] + ".tif")
        if os.path.exists(target):
            continue
        rgb = np.asarray(Image.open(png).convert("RGB"), dtype=np.int32) * 257
        rgb += rng.integers(-128, 128, rgb.shape, dtype=np.int32)
        deep = np.clip(rgb, 0, 65535).astype(">u2")
        with tempfile.NamedTemporaryFile(suffix=".ppm") as ppm:
            ppm.write(b"P6 %d %d 65535\n" % (deep.shape[1], deep.shape[0]) + deep.tobytes())
            ppm.flush()
            subprocess.run(["convert", ppm.name, "-compress", "zip", target], check=True)
    print(f"16-bit TIFF photos in {out}/photos/tif16")


def make_vector(out, count=40, pages=20):
    """Drawings as an illustration program exports them, and a document of them."""
    import random
    rng = random.Random(SEED + 4000)
    folder = os.path.join(out, "vector", "svg")
    os.makedirs(folder, exist_ok=True)
    colour = lambda: "#%06x" % rng.randrange(1 << 24)
    names = []
    for i in range(1, count + 1):
        parts = [f'<linearGradient id="g"><stop offset="0" stop-color="{colour()}"/>'
                 f'<stop offset="1" stop-color="{colour()}" stop-opacity="0.4"/></linearGradient>',
                 '<rect width="800" height="600" fill="url(#g)"/>']
        for _ in range(60):
            x, y, r = rng.uniform(0, 800), rng.uniform(0, 600), rng.uniform(5, 120)
            kind = rng.randrange(3)
            if kind == 0:
                parts.append(f'<circle cx="{x:.1f}" cy="{y:.1f}" r="{r:.1f}" fill="{colour()}" fill-opacity="0.6"/>')
            elif kind == 1:
                parts.append(f'<rect x="{x:.1f}" y="{y:.1f}" width="{r:.1f}" height="{r / 2:.1f}" '
                             f'fill="{colour()}" transform="rotate({rng.uniform(0, 90):.0f} {x:.0f} {y:.0f})"/>')
            else:
                pts = " ".join(f"{rng.uniform(0, 800):.1f},{rng.uniform(0, 600):.1f}" for _ in range(5))
                parts.append(f'<polyline points="{pts}" fill="none" stroke="{colour()}" stroke-width="{r / 20:.1f}"/>')
        name = os.path.join(folder, f"draw{i:02d}.svg")
        with open(name, "w") as f:
            f.write('<svg xmlns="http://www.w3.org/2000/svg" width="800" height="600">'
                    + "".join(parts) + "</svg>\n")
        names.append(name)
    subprocess.run(["rsvg-convert", "-f", "pdf", "-o", os.path.join(out, "vector", "doc.pdf")]
                   + names[:pages], check=True)
    print(f"{count} drawings and a {pages}-page PDF in {out}/vector")


def make_raw(out):
    """3:2 camera raw files (DNG: a 16-bit Bayer mosaic and a half-size JPEG
    preview), made by the test fixtures' script at photo size."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests/data/raw/make_fixtures.py")
    subprocess.run([sys.executable, script, os.path.join(out, "raw"), "--side", "2400", "--count", "6"], check=True)
    print(f"camera raw files in {out}/raw")


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ("--newer", "--deep", "--vector", "--raw"):
        make = {"--newer": make_newer, "--deep": make_deep, "--vector": make_vector, "--raw": make_raw}[sys.argv[1]]
        make(sys.argv[2] if len(sys.argv) > 2 else "build-bench/inputs")
        return
    out = sys.argv[1] if len(sys.argv) > 1 else "build-bench/inputs"
    for sub in ("photos/jpg", "photos/bmp", "photos/png", "small", "anim"):
        os.makedirs(os.path.join(out, sub), exist_ok=True)

    for i, (w, h) in enumerate(PHOTO_SIZES, start=1):
        name = f"photo{i:02d}"
        jpg = os.path.join(out, "photos/jpg", name + ".jpg")
        make_photo(i, w, h).save(jpg, quality=90, subsampling=2)
        # BMP and PNG carry the JPEG's decoded pixels: the same picture in three files.
        decoded = Image.open(jpg).convert("RGB")
        decoded.save(os.path.join(out, "photos/bmp", name + ".bmp"))
        decoded.save(os.path.join(out, "photos/png", name + ".png"), compress_level=6)
        print(f"{name}: {w}x{h} {os.path.getsize(jpg) / 1e6:.2f} MB JPEG "
              f"({os.path.getsize(jpg) * 8 / (w * h):.2f} bits/pixel)", flush=True)

    rng = np.random.default_rng(SEED + 2000)
    fonts = [ImageFont.truetype(p, int(s)) for p in FONT_PATHS if os.path.exists(p)
             for s in (10, 13, 16)]
    for i in range(1, SMALL_COUNT + 1):
        make_small(i, rng, fonts).save(os.path.join(out, "small", f"small{i:03d}.png"))

    frames = make_animation()
    frames[0].save(os.path.join(out, "anim/anim.gif"), save_all=True,
                   append_images=frames[1:], duration=40, loop=0)
    make_newer(out)
    make_deep(out)
    make_vector(out)
    make_raw(out)
    with open(os.path.join(out, "DONE"), "w") as f:
        f.write("complete\n")
    print(f"inputs in {out}")


if __name__ == "__main__":
    main()
