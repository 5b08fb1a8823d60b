#!/usr/bin/env bash
# Draws the program icon (a blue tile with three rising orange bars, the
# benchmark's chart) at 48, 32 and 16 pixels and packs the three 32-bit images
# into res/Vantrel.ico. Each size is drawn on its own grid, not scaled, so the
# small images stay sharp. Needs ImageMagick's convert.
# Usage: bash tools/make-icon.sh [output.ico]
set -euo pipefail
out="${1:-$(cd "$(dirname "$0")/.." && pwd)/res/Vantrel.ico}"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

draw() {  # size radius inset bar-width gap
  local s=$1 r=$2 i=$3 w=$4 g=$5
  local bottom=$((s - i - 2)) x0=$((i + (s - 2 * i - 3 * w - 2 * g) / 2))
  local h1=$(((s - 2 * i) * 3 / 10)) h2=$(((s - 2 * i) * 5 / 10)) h3=$(((s - 2 * i) * 7 / 10))
  local x1=$((x0 + w + g)) x2=$((x0 + 2 * (w + g)))
  convert -size "${s}x${s}" xc:none \
    -fill '#1f4e8c' -stroke '#0f2a4d' -strokewidth 1 \
    -draw "roundrectangle 0,0 $((s - 1)),$((s - 1)) $r,$r" \
    -stroke none -fill '#f39c1f' \
    -draw "rectangle $x0,$((bottom - h1 + 1)) $((x0 + w - 1)),$bottom" \
    -draw "rectangle $x1,$((bottom - h2 + 1)) $((x1 + w - 1)),$bottom" \
    -fill '#ffd166' \
    -draw "rectangle $x2,$((bottom - h3 + 1)) $((x2 + w - 1)),$bottom" \
    -define png:exclude-chunks=date,time +set date:create +set date:modify \
    "PNG32:$tmp/icon$s.png"
}

draw 48 8 6 8 3
draw 32 5 4 6 2
draw 16 3 2 3 1
# Without compression options ImageMagick stores images below 256 pixels as
# 32-bit BMP entries with an alpha channel, which is what the icon group needs.
convert "$tmp/icon48.png" "$tmp/icon32.png" "$tmp/icon16.png" "ICO:$out"
echo "wrote $out"
