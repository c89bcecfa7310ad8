#!/usr/bin/env bash
# Draws the button glyphs and the built-in window icon of Halvorne (all our
# own drawings) into glyphs/. Needs ImageMagick (/usr/bin/convert).
set -euo pipefail
cd "$(dirname "$0")"
CONVERT=/usr/bin/convert
FONT=$(fc-match -f '%{file}' 'DejaVu Sans:bold')
mkdir -p glyphs

# Red cross, 18 x 18: cancel ("Storno").
"$CONVERT" -size 18x18 xc:none -stroke '#7A0000' -strokewidth 4 \
  -draw 'line 4,4 13,13' -draw 'line 13,4 4,13' \
  -stroke '#E01010' -strokewidth 2.4 \
  -draw 'line 4,4 13,13' -draw 'line 13,4 4,13' glyphs/cross.png

# Cog wheel, 18 x 18: connection settings ("Nastavení").
"$CONVERT" -size 18x18 xc:none -fill '#5A5F66' -stroke '#2E3236' -strokewidth 1 \
  -draw 'rectangle 7.5,1 10.5,17' -draw 'rectangle 1,7.5 17,10.5' \
  -draw 'translate 9,9 rotate 45 rectangle -1.5,-8 1.5,8' \
  -draw 'translate 9,9 rotate 45 rectangle -8,-1.5 8,1.5' \
  -draw 'circle 9,9 9,3.5' \
  -fill '#D8DCE0' -stroke '#2E3236' -draw 'circle 9,9 9,6.5' glyphs/cog.png

# Yellow note with a red pin, 20 x 20: show the changes.
"$CONVERT" -size 20x20 xc:none \
  -fill '#FFE86B' -stroke '#9C8420' -strokewidth 1 -draw 'polygon 3,4 17,4 17,14 13,18 3,18' \
  -fill '#E6CB3C' -draw 'polygon 13,18 13,14 17,14' \
  -stroke '#8A7A3A' -draw 'line 6,9 14,9' -draw 'line 6,12 14,12' -draw 'line 6,15 11,15' \
  -fill '#D42020' -stroke '#7A0000' -draw 'circle 10,3.5 10,1.5' glyphs/note.png

# Blue arrow curving downwards, 20 x 20: download the new version.
"$CONVERT" -size 20x20 xc:none \
  -fill none -stroke '#1746A2' -strokewidth 3 -draw 'path "M 3,15 C 3,5 12,3 12,10"' \
  -fill '#1E5BD0' -stroke '#0E2F70' -strokewidth 1 -draw 'polygon 7,10 17,10 12,17.5' glyphs/arrow_down.png

# Floppy disc, 16 x 16: save the settings ("Uložit", Windows program).
"$CONVERT" -size 16x16 xc:none -fill '#2B4C8C' -stroke '#152850' -strokewidth 1 \
  -draw 'polygon 1.5,1.5 12.5,1.5 14.5,3.5 14.5,14.5 1.5,14.5' \
  -stroke none -fill '#E8ECF2' -draw 'rectangle 4,2 11,6' -fill '#2B4C8C' -draw 'rectangle 9,3 10,5' \
  -fill '#F4F4F4' -draw 'rectangle 4,9 12,14' -define png:exclude-chunks=date,time glyphs/floppy.png

# Two plugs joined by a spark, 16 x 16: test the connection ("Test spojení",
# Windows program).
"$CONVERT" -size 16x16 xc:none -fill '#6A6F76' -stroke '#2E3236' -strokewidth 1 \
  -draw 'rectangle 0.5,6 4.5,10' -draw 'rectangle 11.5,6 15.5,10' \
  -draw 'line 4.5,7 6,7' -draw 'line 4.5,9 6,9' \
  -fill '#F2C200' -stroke '#A07800' -draw 'polygon 8,2 10.5,7 8.8,7 10,14 6.5,8 8.2,8 6.8,2' \
  -define png:exclude-chunks=date,time glyphs/plug.png

# Window icon, 32 x 32: a white "@" on a blue disc.
"$CONVERT" -size 32x32 xc:none -fill '#1746A2' -draw 'circle 16,16 16,1' \
  -fill white -font "$FONT" -pointsize 24 -gravity center -annotate +0+1 '@' glyphs/halvorne.png

echo "written $(pwd)/glyphs"
