#!/usr/bin/env bash
# Renders tessarin.svg into the PNG sizes that are installed and built into the program.
# The PNGs are committed, so a build needs no SVG renderer; run this after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" tessarin.svg --output "tessarin-$size.png"
done
# The Windows icon holds the sizes Windows picks from (256 stored as PNG). Needs ImageMagick.
convert tessarin-16.png tessarin-24.png tessarin-32.png tessarin-48.png tessarin-64.png \
  tessarin-128.png tessarin-256.png tessarin.ico
