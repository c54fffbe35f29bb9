#!/usr/bin/env bash
# Remakes dist/tl8v05.ico, the Windows programs' icon, from dist/tl8v05.svg,
# the icon of the Linux desktop entry: rendered at each size Windows shows
# (librsvg2-bin) and put into one icon file (icoutils), the 256-pixel one as
# PNG. The result is committed; the build only reads it.
set -euo pipefail
dist=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 24 32 48 64 256; do
  rsvg-convert -w "$size" -h "$size" "$dist/tl8v05.svg" -o "$work/$size.png"
done
icotool -c -o "$dist/tl8v05.ico" "$work"/{16,24,32,48,64}.png -r "$work/256.png"
