#!/usr/bin/env bash
# Renders kelvora.svg into the PNGs the program carries (16 to 256 pixels).
# Run it after changing the SVG and commit the PNGs; the build only reads
# them. Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" --output "kelvora-$size.png" kelvora.svg
done
