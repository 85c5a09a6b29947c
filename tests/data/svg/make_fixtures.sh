#!/bin/sh
# Regenerates the SVG fixtures and, beside each, the PNG that rsvg-convert
# renders of it (the independent renderer the tests compare against); the
# `.z2.png` is the drawing at twice its size (192 dpi).
set -e
cd "$(dirname "$0")"
cat > shapes.svg <<'SVG'
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="40" height="30">
  <defs><linearGradient id="g"><stop offset="0" stop-color="#f00"/><stop offset="1" stop-color="#00f" stop-opacity="0.3"/></linearGradient></defs>
  <rect x="2" y="2" width="36" height="12" fill="url(#g)"/>
  <circle cx="14" cy="21" r="7.5" fill="#0a0" fill-opacity="0.6"/>
  <path d="M24 28 L38 16 L38 28 Z" fill="#fc0" stroke="#000" stroke-width="0.7"/>
</svg>
SVG
cat > viewbox.svg <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 12">
  <rect width="24" height="12" fill="#336"/><circle cx="6" cy="6" r="5" fill="#fff"/>
</svg>
SVG
cat > units.svg <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="0.25in" height="5mm" viewBox="0 0 10 10" preserveAspectRatio="none">
  <rect width="10" height="5" fill="#c33"/><rect y="5" width="5" height="5" fill="#3c3" opacity="0.5"/>
</svg>
SVG
gzip -9nc shapes.svg > shapes.svgz
for f in shapes viewbox units; do rsvg-convert "$f.svg" -o "$f.svg.png"; done
rsvg-convert -z 2 shapes.svg -o shapes.svg.z2.png
