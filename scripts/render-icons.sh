#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG, into
# packaging/icons/<size>x<size>/. Run by hand after the SVG changes and commit
# the PNGs: the build and the tests only install them, so that neither needs
# librsvg. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
icons=$root/packaging/icons
id=org.kvmupgrade.KvmUpgrade

command -v rsvg-convert >/dev/null || { echo "render-icons: needs rsvg-convert (apt install librsvg2-bin)" >&2; exit 1; }
for size in 16 32 48 64 128 256; do
  mkdir -p "$icons/${size}x${size}"
  rsvg-convert --width "$size" --height "$size" --output "$icons/${size}x${size}/$id.png" "$icons/$id.svg"
  echo "$icons/${size}x${size}/$id.png"
done
