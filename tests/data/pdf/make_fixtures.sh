#!/bin/sh
# Regenerates the PDF fixtures: two pages of different sizes drawn by
# rsvg-convert's PDF output (a clear background where nothing is painted),
# and beside them what pdftocairo renders of each page with a transparent
# background, at 150 dpi (the default) and 72 dpi. locked.pdf has a user
# password (make_locked.py).
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat > "$tmp/a.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="30pt" height="20pt" viewBox="0 0 30 20">
  <rect x="1" y="1" width="28" height="9" fill="#e22"/>
  <circle cx="10" cy="14" r="5" fill="#22e" fill-opacity="0.5"/>
</svg>
SVG
cat > "$tmp/b.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="16pt" height="24pt" viewBox="0 0 16 24">
  <path d="M0 24 L8 0 L16 24 Z" fill="#0a0"/>
</svg>
SVG
rsvg-convert -f pdf "$tmp/a.svg" "$tmp/b.svg" -o pages.pdf
for r in 150 72; do
  pdftocairo -png -transp -r $r pages.pdf "$tmp/p"
  mv "$tmp/p-1.png" pages.pdf.1.$r.png
  mv "$tmp/p-2.png" pages.pdf.2.$r.png
done
python3 make_locked.py > locked.pdf
