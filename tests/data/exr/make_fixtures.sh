#!/bin/sh
# Regenerates the OpenEXR fixtures with oiiotool, and beside each the 16-bit
# sRGB PNG that oiiotool makes of it (values clipped to 0..1); the tests
# compare against those. `.ev1.png` is the picture one stop brighter.
set -e
cd "$(dirname "$0")"
fill="fill:topleft=0,0,0,1:topright=4,0.5,0,0.5:bottomleft=0,0,1,0:bottomright=1,1,1,1"
o="--nosoftwareattrib"
oiiotool $o --pattern "$fill" 31x17 3 -d half --compression zip -o rgb_half_scan.exr
oiiotool $o --pattern "$fill" 31x17 4 -d float --tile 16 16 --compression piz -o rgba_float_tiled.exr
oiiotool $o --pattern "$fill" 31x17 4 --origin +5+3 -d half --compression rle -o rgba_half_window.exr
# The reference is the data window (what is read), wherever it stands.
for f in *.exr; do
  oiiotool "$f" --origin +0+0 --fullpixels --colorconvert linear sRGB -d uint16 -o "$f.png"
done
oiiotool rgb_half_scan.exr --mulc 2 --colorconvert linear sRGB -d uint16 -o rgb_half_scan.exr.ev1.png
