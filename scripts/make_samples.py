#!/usr/bin/env python3
"""Regenerates the sample pictures the README's run command converts."""
import math
import os

from PIL import Image, ImageDraw

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "samples")

# A sunset-like true-colour scene.
w, h = 320, 200
scene = Image.new("RGB", (w, h))
px = scene.load()
for y in range(h):
    for x in range(w):
        t = y / h
        px[x, y] = (int(250 - 120 * t), int(150 - 100 * t + 30 * math.sin(x / 40)), int(80 + 150 * t))
d = ImageDraw.Draw(scene)
d.ellipse((200, 40, 260, 100), fill=(255, 230, 120))
d.polygon([(0, 200), (90, 120), (170, 200)], fill=(40, 60, 50))
d.polygon([(110, 200), (230, 110), (320, 200)], fill=(30, 45, 40))
scene.save(os.path.join(here, "sunset.bmp"))

# A 16-colour chart and a 1-bit drawing.
chart = Image.new("P", (128, 64))
chart.putpalette([c for i in range(16) for c in (i * 16, 255 - i * 16, (i * 64) % 256)] + [0] * 720)
d = ImageDraw.Draw(chart)
for i in range(16):
    d.rectangle(((i % 8) * 16, (i // 8) * 32, (i % 8) * 16 + 15, (i // 8) * 32 + 31), fill=i)
chart.save(os.path.join(here, "chart.bmp"))

line = Image.new("1", (96, 96), 1)
d = ImageDraw.Draw(line)
for r in range(8, 48, 8):
    d.ellipse((48 - r, 48 - r, 48 + r, 48 + r), outline=0)
line.save(os.path.join(here, "rings.bmp"))

# The scene as a JPEG photo, and a small animation.
scene.save(os.path.join(here, "sunset.jpg"), quality=90)
frames = []
for i in range(8):
    f = Image.new("P", (64, 64), 0)
    f.putpalette([0, 0, 0, 255, 200, 0, 40, 90, 200] + [0] * 759)
    ImageDraw.Draw(f).ellipse((8 + i * 4, 20, 24 + i * 4, 36), fill=1)
    frames.append(f)
frames[0].save(os.path.join(here, "ball.gif"), save_all=True, append_images=frames[1:], duration=80, loop=0)
