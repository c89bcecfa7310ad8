#!/usr/bin/env bash
# Draws the transfer window's animated picture: a blue "@" that turns once
# around in 9 steps of 0.16 s and repeats without end, 55 x 45 pixels,
# transparent background. Writes gif/ZAVINAC.gif next to this script.
# Needs ImageMagick (/usr/bin/convert) and the DejaVu fonts.
set -euo pipefail
cd "$(dirname "$0")"
CONVERT=/usr/bin/convert
FONT=$(fc-match -f '%{file}' 'DejaVu Sans:bold')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

frames=()
for i in 0 1 2 3 4 5 6 7 8; do
  angle=$((i * 40))
  # The glyph is drawn large on a square canvas, turned about its centre,
  # then cut to the picture's size; a pale ring behind it keeps the outline
  # steady while the sign turns.
  "$CONVERT" -size 90x90 xc:none \
    -fill none -stroke '#9DB8E8' -strokewidth 3 -draw 'circle 45,45 45,6' \
    -stroke none -fill '#1746A2' -font "$FONT" -pointsize 52 \
    -gravity center -annotate "${angle}x${angle}+0+3" '@' \
    -resize 45x45 -background none -gravity center -extent 55x45 \
    "$work/f$i.png"
  frames+=("$work/f$i.png")
done
"$CONVERT" -delay 16 -loop 0 -dispose background "${frames[@]}" gif/ZAVINAC.gif
echo "written $(pwd)/gif/ZAVINAC.gif"
