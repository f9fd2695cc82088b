#!/usr/bin/env bash
# Renders the PNG sizes of the hicolor icon from its SVG. The PNGs are kept in the repository
# so that building and packaging need no SVG tool; run this after changing the SVG
# (needs rsvg-convert from librsvg2-bin).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
svg="$here/hicolor/scalable/apps/example.quorvex.Tarnavel.svg"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$here/hicolor/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "$svg" \
    --output "$here/hicolor/${size}x${size}/apps/example.quorvex.Tarnavel.png"
done
