#!/usr/bin/env bash
# Remakes the README's images with the tool from the sample photo (run after a build).
set -euo pipefail
cd "$(dirname "$0")/.."
tool=./build/cli/orvane
work=$(mktemp -d)
xvfb= slicer=
trap 'for p in $slicer $xvfb; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
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

# Pictures of the two demo projects as PrusaSlicer shows them, drawn on a virtual X display with
# Mesa's software OpenGL: the relief in the 3D view, the translucent print sliced and shown up to
# the top of its colour layers. Skipped with a note when a program it needs is missing.
slicer_pictures() {
  # PrusaSlicer wants an English locale and stops at a message box without one: when the system
  # has none, one is compiled into the work directory.
  slicer_env=(env LC_ALL=en_US.UTF-8 LIBGL_ALWAYS_SOFTWARE=1)
  if ! locale -a 2>/dev/null | grep -qix 'en_US.utf-\?8'; then
    mkdir -p "$work/locale"
    localedef -i en_US -c -f UTF-8 "$work/locale/en_US.UTF-8" >/dev/null 2>&1 || return 1
    slicer_env+=(LOCPATH="$work/locale")
  fi
  # A data directory past the first start: a printer of its own (so no configuration wizard),
  # the question about sending system information answered, no hints or update checks.
  local data="$work/slicer-data"
  mkdir -p "$data/printer" "$work/fb"
  printf 'bed_shape = 0x0,200x0,200x200,0x200\nprinter_technology = FFF\n' >"$data/printer/docs.ini"
  printf '%s\n' 'notify_release = none' 'preset_update = 0' 'show_drop_project_dialog = 0' \
    'show_hints = 0' 'show_splash_screen = 0' 'single_instance = 0' 'version = 2.5.0' \
    'version_check = 0' 'version_system_info_sent = 2.5.0' '' '[presets]' \
    'filament = - default -' 'print = - default -' 'printer = docs' >"$data/PrusaSlicer.ini"
  # The screen is also an XWD file in $work/fb, read for the pictures.
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nocursor -nolisten tcp -fbdir "$work/fb" \
    3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  local i
  for i in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.2; done
  [ -s "$work/display" ] || return 1
  export DISPLAY=":$(cat "$work/display")"
  local made=0
  slicer_picture relief "$work/demo/relief/relief.3mf" docs/slicer-relief.png &&
    slicer_picture translucent "$work/demo/translucent/translucent.3mf" docs/slicer-translucent.png ||
    made=1
  kill "$xvfb"; wait "$xvfb" 2>/dev/null || true; xvfb=
  return $made
}

# Waits until the virtual screen has stayed the same for a second (at most 30 s).
settle() {
  local previous= now i
  for i in $(seq 30); do
    sleep 1
    now=$(md5sum <"$work/fb/Xvfb_screen0")
    [ "$now" = "$previous" ] && return 0
    previous=$now
  done
}

# slicer_picture NAME PROJECT OUT: loads the project as it lies (in the middle of the bed), looks at it from
# the front corner, crops the 3D view from the screen and writes it shrunk to OUT.
slicer_picture() {
  local name=$1 project=$2 out=$3 log="$work/slicer-$1.log" window box top i
  "${slicer_env[@]}" prusa-slicer --datadir "$work/slicer-data" --loglevel 3 "$project" >"$log" 2>&1 &
  slicer=$!
  window=$(timeout 120 xdotool search --sync --onlyvisible --name "^\\*?$name - PrusaSlicer" | head -1) || true
  [ -n "$window" ] || { echo "docs-images: PrusaSlicer showed no window for $name" >&2; return 1; }
  xdotool windowmove "$window" 0 0 windowsize "$window" 1600 1200
  settle
  # A click on the empty bed takes the focus and clears the selection (a selected object is drawn
  # in one colour); 0 turns to the corner view, Z zooms to the object.
  xdotool mousemove 1050 1150 click 1
  sleep 1
  xdotool key 0 key z
  settle
  # One step back from the zoom, so that notes in the bottom corner fall outside the crop; the
  # pointer then leaves the object (an object under it is drawn in one colour).
  xdotool mousemove 568 633 click 5 mousemove 1050 1150
  settle
  box="90 290 1050 1000"
  if [ "$name" = translucent ]; then
    xdotool key ctrl+r
    for i in $(seq 300); do grep -q 'Exporting G-code finished' "$log" && break; sleep 1; done
    grep -q 'Exporting G-code finished' "$log" || { echo "docs-images: slicing $name failed" >&2; return 1; }
    xdotool mousemove 500 500 key Tab
    settle
    # The preview is cut at the top of the colour layers: the highest point of the material meshes.
    top=$(/usr/bin/python3 -c '
import struct, sys
top = 0.0
for name in sys.argv[1:]:
    for facet in struct.iter_unpack("<12fH", open(name, "rb").read()[84:]):
        top = max(top, facet[5], facet[8], facet[11])
print(f"{top:.2f}")' "$work"/demo/translucent/material-*.stl)
    xdotool key shift+g
    timeout 20 xdotool search --sync --onlyvisible --name '^Jump to height$' >/dev/null || return 1
    xdotool type "$top"
    xdotool key Return
    settle
    box="0 66 1015 980"
  fi
  cp "$work/fb/Xvfb_screen0" "$work/$name.xwd"
  kill "$slicer"; wait "$slicer" 2>/dev/null || true; slicer=
  /usr/bin/python3 -c '
import struct, sys
from PIL import Image
data = open(sys.argv[1], "rb").read()
header = struct.unpack(">25I", data[:100])
width, height, line, colours = header[4], header[5], header[12], header[19]
image = Image.frombuffer("RGB", (width, height), data[header[0] + 12 * colours:], "raw", "BGRX", line, 1)
image = image.crop(tuple(int(v) for v in sys.argv[3:7]))
image = image.resize((640, image.size[1] * 640 // image.size[0]), Image.LANCZOS)
image.quantize(32, Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE).save(sys.argv[2], optimize=True)' \
    "$work/$name.xwd" "$out" $box
}

missing=
for program in Xvfb xdotool prusa-slicer localedef; do
  command -v $program >/dev/null || missing="$missing $program"
done
/usr/bin/python3 -c 'import PIL' 2>/dev/null || missing="$missing python3-pil"
if [ -n "$missing" ]; then
  echo "docs-images: skipped docs/slicer-*.png, missing:$missing (Debian: xvfb xdotool prusa-slicer python3-pil)"
elif ! slicer_pictures; then
  echo "docs-images: docs/slicer-*.png not remade (PrusaSlicer under Xvfb failed)" >&2
fi
echo "docs-images: remade docs/*.png"
