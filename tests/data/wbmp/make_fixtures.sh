#!/bin/sh
# Regenerates the WBMP fixtures with netpbm (pbmtowbmp) and ImageMagick.
# Widths of 128 and more need the multi-byte size integers.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 1x1 10x2 13x7 127x5 128x3 200x40 33x130; do
    w=${size%x*}
    h=${size#*x}
    # A diagonal pattern with a frame, so that rows and bit order both matter.
    convert -size "${w}x${h}" xc:white -fill black \
        -draw "line 0,0 $((w - 1)),$((h - 1))" -draw "point $((w - 1)),0" \
        -draw "rectangle 0,$((h - 1)) $((w / 3)),$((h - 1))" "$tmp/p.pbm"
    pbmtowbmp "$tmp/p.pbm" > "netpbm_${w}x${h}.wbmp"
done
convert -size 200x16 pattern:checkerboard -threshold 50% magick_200x16.wbmp
