#!/bin/sh
# Regenerates the GIF fixtures with independent writers (ImageMagick, Pillow).
# Run from this folder: sh make_fixtures.sh
set -e
cd "$(dirname "$0")"
PY=/usr/bin/python3

# 2 colours (1 bit), odd width so rows end mid-byte.
convert -size 37x23 pattern:checkerboard -colors 2 -type palette two_colors.gif
# 16 colours.
convert rose: -colors 16 colors16.gif
# Interlaced, odd height so the last pass is short.
convert -size 31x29 plasma:fractal -seed 7 -colors 64 -interlace GIF interlaced.gif 2>/dev/null || \
  convert -size 31x29 gradient:yellow-navy -colors 64 -interlace GIF interlaced.gif
# A comment extension.
convert -comment "made for vellumar tests" -size 20x12 gradient:green-white -colors 8 comment.gif

$PY - <<'PYEOF'
from PIL import Image, ImageDraw
import random

random.seed(4)

# 256 colours, every palette entry used.
im = Image.new("P", (48, 40))
pal = []
for i in range(256):
    pal += [i, (i * 37) & 255, (255 - i)]
im.putpalette(pal)
im.putdata([(x * 7 + y * 11 + random.randrange(3)) & 255 for y in range(40) for x in range(48)])
im.save("colors256.gif")

# Transparent index 3 on a 16-colour picture.
im = Image.new("P", (25, 19))
im.putpalette([i * 16 for i in range(16) for _ in range(3)])
im.putdata([(x + y) % 16 for y in range(19) for x in range(25)])
im.save("transparent.gif", transparency=3)

# Animated, full-screen frames with their own colour tables.
frames = []
for f in range(4):
    fr = Image.new("P", (30, 22))
    pal = []
    for i in range(16):
        pal += [(i * 16 + f * 40) & 255, (i * 5 + f * 60) & 255, (200 - i * 9 + f * 13) & 255]
    fr.putpalette(pal)
    fr.putdata([(x // 3 + y // 2 + f) % 16 for y in range(22) for x in range(30)])
    frames.append(fr)
frames[0].save("anim_local.gif", save_all=True, append_images=frames[1:], duration=70,
               loop=3, optimize=False)
PYEOF

# Animated with offsets and disposal on one global table: a full first frame
# that stays (dispose none), then smaller frames placed at offsets; the second
# one is disposed to background before the third is drawn over the first.
convert -size 40x30 xc:'#3050a0' -fill '#e0c020' -draw 'rectangle 5,5 20,18' base.ppm
convert -size 12x9 xc:'#c02020' small1.ppm
convert -size 10x7 xc:'#20c040' small2.ppm
convert -size 8x6 xc:'#f0f0f0' small3.ppm
convert -delay 20 -dispose none base.ppm \
        -dispose background -page +6+4 small1.ppm \
        -dispose none -page +22+15 small2.ppm \
        -dispose none -page +30+2 small3.ppm \
        +map anim_offsets.gif
rm -f base.ppm small1.ppm small2.ppm small3.ppm

# A damaged stream: the first frame's data overwritten with junk codes in the
# middle; the second frame stays intact and must still be found.
$PY - <<'PYEOF'
from PIL import Image
a = Image.new("P", (32, 24))
a.putpalette([i * 40 % 256 for i in range(8) for _ in range(3)] + [0] * (256 - 8) * 3)
a.putdata([(x * y) % 8 for y in range(24) for x in range(32)])
b = Image.new("P", (32, 24))
b.putpalette(a.getpalette())
b.putdata([(x + 2 * y) % 8 for y in range(24) for x in range(32)])
a.save("damaged_source.gif", save_all=True, append_images=[b], duration=50, optimize=False)
data = bytearray(open("damaged_source.gif", "rb").read())
# First image descriptor, then its data: code size byte and first sub-block.
pos = data.index(b"\x2c\x00\x00\x00\x00\x20\x00\x18\x00")
desc_flags = data[pos + 9]
start = pos + 10 + ((3 << ((desc_flags & 7) + 1)) if desc_flags & 0x80 else 0)
first_len = data[start + 1]
for i in range(start + 2 + first_len // 3, start + 2 + first_len // 3 + 6):
    data[i] = 0xFF
open("damaged.gif", "wb").write(bytes(data))
PYEOF

# Animated with transparency: a frame with clear pixels over a frame that is
# cleared away (dispose to background), and delays that differ per frame.
$PY - <<'PYEOF'
from PIL import Image
pal = [0, 0, 0, 230, 40, 40, 40, 200, 60, 50, 80, 220, 250, 220, 30] + [0] * (256 - 5) * 3
frames = []
for f in range(3):
    fr = Image.new("P", (24, 18), 0)
    fr.putpalette(pal)
    fr.putdata([0 if (x + y + f * 3) % 7 == 0 else 1 + (x // 6 + y // 6 + f) % 4
                for y in range(18) for x in range(24)])
    frames.append(fr)
frames[0].save("anim_clear.gif", save_all=True, append_images=frames[1:], duration=[40, 120, 60],
               loop=0, disposal=[1, 2, 1], transparency=0, optimize=False)
PYEOF
