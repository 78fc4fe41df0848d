#!/usr/bin/env bash
# Renders the PNG icons from the scalable one, after a change to the artwork:
#   data/icons/hicolor/scalable/apps/tavo-control.svg -> data/icons/hicolor/NxN/apps/tavo-control.png
# The PNGs are committed, so neither the build nor the package needs an SVG renderer;
# this script does (rsvg-convert, Debian package librsvg2-bin). Commit the results.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
icons=$root/data/icons/hicolor
if ! command -v rsvg-convert >/dev/null; then
    echo "render-icons.sh: rsvg-convert is needed (apt install librsvg2-bin)" >&2
    exit 1
fi
for size in 16 32 48 64 128 256; do
    mkdir -p "$icons/${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" --output "$icons/${size}x${size}/apps/tavo-control.png" \
        "$icons/scalable/apps/tavo-control.svg"
done
