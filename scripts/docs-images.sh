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
echo "docs-images: remade docs/*.png"
