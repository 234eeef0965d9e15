#!/usr/bin/env bash
# Draws the program's pictures from the SVG sources in resources/icons into
# the PNG files the build compiles in (resources/images/) and the launcher's
# icon (resources/pellory.png). The PNGs are kept in the repository, so only
# whoever changes a drawing needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sources=$root/resources/icons

# picture  source  width  height: each drawing is square, as large as the
# picture's shorter side, centred on a transparent page.
render() {
  local output=$1 source=$2 width=$3 height=$4
  local side=$((width < height ? width : height))
  rsvg-convert --width "$side" --height "$side" \
    --page-width "$width" --page-height "$height" \
    --left $(((width - side) / 2)) --top $(((height - side) / 2)) \
    --output "$output" "$sources/$source.svg"
}

while read -r name source width height; do
  render "$root/resources/images/$name.png" "$source" "$width" "$height"
done <<'LIST'
exe             exe             32 32
todaysale       todaysale       32 32
order           order           31 31
stock           stock           32 32
purchase        purchase        32 32
purchasemanager purchasemanager 32 32
provider        provider        32 32
addprovider     add             28 31
additem         add             29 31
pay             pay             39 32
cancelpay       cancelpay       39 31
search          search          32 32
LIST
render "$root/resources/pellory.png" exe 256 256
