#!/usr/bin/env bash
# Draws the formatter's five window icons (a flash disk with a mark of its own
# colour and shape) and writes them as .ico files under icons/: 16 and 32
# pixels, each in 4, 8 and 32 bits per pixel (tools/icons/ico.py), so that
# Windows 98 and 2000, which draw the alpha channel black, take a palette
# image. The .ico files are committed, so the build does not need this script.
# Needs ImageMagick and python3. Run from this folder: bash make_icons.sh
set -euo pipefail
mkdir -p icons

# draw ID BODY MARK DRAW-COMMANDS-FOR-THE-MARK
draw() {
  local id=$1 body=$2 mark=$3 shape=$4
  local big=icons/tmp32.png small=icons/tmp16.png
  convert -size 32x32 xc:none \
    -fill "$body" -stroke black -strokewidth 1 -draw "roundrectangle 6,9 25,30 3,3" \
    -fill silver -draw "rectangle 10,2 21,9" \
    -fill black -stroke none -draw "rectangle 12,4 14,6" -draw "rectangle 17,4 19,6" \
    -fill "$mark" -stroke black -draw "$shape" \
    "$big"
  convert "$big" -resize 16x16 "$small"
  python3 ../../tools/icons/ico.py "icons/vornak$id.ico" "$small" "$big"
  rm -f "$big" "$small"
}

draw 128 "#3060c0" white  "rectangle 11,15 20,24"
draw 134 "#c03030" yellow "circle 16,20 16,15"
draw 135 "#30a040" white  "polygon 16,14 22,25 10,25"
draw 136 "#8040b0" orange "polygon 16,13 22,19 16,26 10,19"
draw 137 "#303030" cyan   "line 10,14 22,26 line 22,14 10,26"
