#!/usr/bin/env bash
# Renders the window's pages with the brand's real texts into docs/screens/: home, home with the
# custom panel unfolded, the banner page and the finish page, left to right (English) and right
# to left (Arabic), at scale 1 and 2.
#
#   tools/kvskin/screens.sh [KVSKIN] [OUT_DIR]
set -euo pipefail
kvskin=${1:-build/dev/tools/kvskin/kvskin}
out=${2:-docs/screens}
mkdir -p "$out"
path="/opt/Korvana/Korvana Lumenstack"

for dir in ltr rtl; do
  if [ "$dir" = ltr ]; then lang=1033; bar=42; else lang=1025; bar=58; fi
  common=(--lang "$lang" --texts --attr "edit_path:text=$path" --attr "edit_path:readonly=true")
  for scale in 1 2; do
    suffix="${dir}@${scale}x"
    "$kvskin" "${common[@]}" --hide btn_start --scale "$scale" --png "$out/home-$suffix.png"
    "$kvskin" "${common[@]}" --hide btn_start --unfold --scale "$scale" \
      --png "$out/unfolded-$suffix.png"
    # The bar's value is the remaining share right to left; the label says 42 % either way.
    "$kvskin" "${common[@]}" --page 1 --attr "progress_download:value=$bar" \
      --attr "label_progress:text=42 %" --scale "$scale" --png "$out/banner-$suffix.png"
    "$kvskin" "${common[@]}" --hide btn_install --hide lineLayout --hide customLayout \
      --scale "$scale" --png "$out/finish-$suffix.png"
  done
done
