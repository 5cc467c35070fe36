#!/usr/bin/env bash
# Remakes the README's images with the tool from the sample photo (run after a build).
set -euo pipefail
cd "$(dirname "$0")/.."
tool=./build/cli/orvane
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" demo "$work/demo" --quiet >/dev/null
cp "$work/demo/relief/preview.png" docs/relief-preview.png
cp "$work/demo/translucent/preview.png" docs/translucent-preview.png
"$tool" relief data/chelsea.png --width 60 --pixel-size 0.3 --palette docs/example-palette.txt \
  --stack docs/example-stack.txt --only preview --out "$work/own" --quiet >/dev/null
cp "$work/own/preview.png" docs/relief-own-stack-preview.png
for plan in edges colours; do
  "$tool" relief data/chelsea.png --width 60 --pixel-size 0.3 --palette docs/six-filaments.txt --plan $plan \
    --only preview --out "$work/$plan" --quiet >/dev/null
  cp "$work/$plan/preview.png" docs/relief-plan-$plan.png
done
"$tool" card --simulate --cell-pixels 4 --out "$work/card" --quiet >/dev/null
cp "$work/card/card-simulated.png" docs/card-simulated.png
"$tool" card --simulate --photo --seed 3 --out "$work/photo" --quiet >/dev/null
"$tool" card-scan "$work"/photo/card-photo.* --out "$work/scan" --quiet >/dev/null 2>&1
# Shrunk to a few tens of kilobytes with Debian's python3-pil when it is there.
if /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
  /usr/bin/python3 - "$work/scan/card-found.png" docs/card-found.png <<'PY'
import sys
from PIL import Image
image = Image.open(sys.argv[1])
image = image.resize((640, image.size[1] * 640 // image.size[0]), Image.LANCZOS)
image.convert("P", palette=Image.ADAPTIVE, colors=128).save(sys.argv[2], optimize=True)
PY
fi
echo "docs-images: remade docs/*.png"
