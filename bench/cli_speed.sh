#!/usr/bin/env bash
# Times `orvane relief --only body` on the sample photo at 1000 x 1000 working pixels as a whole
# process (decoding, layer analysis, meshing, STL writing) and reports seconds per million
# triangles, best of several runs. The lower bound measured in the same run is writing the
# same number of bytes into a fresh file in the same folder, so the ratio is the tool's cost in
# multiples of merely storing its output.
# usage: bash bench/cli_speed.sh [build-dir] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
tool=$build/cli/orvane
[ -x "$tool" ] || { echo "cli_speed: no tool at $tool (build first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s%N; }
best_tool=0 best_copy=0 triangles=0 bytes=0
for ((i = 0; i < runs; i++)); do
  rm -rf "$work/out"
  start=$(now)
  "$tool" relief "$root/data/chelsea.png" --width 100 --height 100 --pixel-size 0.1 \
    --only body --quiet --json --out "$work/out" >"$work/summary.json" 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; exit 1; }
  took=$(($(now) - start))
  ((best_tool == 0 || took < best_tool)) && best_tool=$took
  bytes=$(stat -c %s "$work/out/relief.stl")
  triangles=$(( (bytes - 84) / 50 ))

  rm -f "$work/copy"
  start=$(now)
  head -c "$bytes" /dev/zero >"$work/copy"
  took=$(($(now) - start))
  ((best_copy == 0 || took < best_copy)) && best_copy=$took
done

awk -v t="$best_tool" -v c="$best_copy" -v n="$triangles" -v b="$bytes" 'BEGIN {
  printf "single-body STL, 1000 x 1000 pixels: %d triangles, %.1f MB\n", n, b / 1e6
  printf "whole process: %.3f s (best of runs), %.3f s per million triangles\n", t / 1e9, t / 1e9 / (n / 1e6)
  printf "lower bound (writing %.1f MB to a fresh file): %.3f s; ratio %.1f\n", b / 1e6, c / 1e9, t / c
}'
