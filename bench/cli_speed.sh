#!/usr/bin/env bash
# Side by side, as whole processes: a photo to a closed single-body STL of 1000 x 1000 pixels,
#   - the tool (`orvane relief --only body`: decoding, resampling, meshing, merging, writing),
#   - the tool with --exact-meshes (the library's mesh, unmerged),
#   - the floor: a plain single-threaded C++ program built here that reads raw grey (decoded
#     and resized beforehand, outside the timing), makes the same body and writes it,
#   - numpy + numpy-stl doing the floor's job, when Debian's python3-stl is installed.
# Rounds are interleaved so that the machine's load falls on all alike; medians and ratios are
# printed. A lower bound measured in the same run: writing the floor's bytes to a fresh file.
# usage: bash bench/cli_speed.sh [build-dir] [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rounds=${2:-5}
tool=$build/cli/orvane
[ -x "$tool" ] || { echo "cli_speed: no tool at $tool (build first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo=$root/data/chelsea.png

floor=$work/height_map_floor
# shellcheck disable=SC2046
g++ -O2 -std=c++17 -o "$floor" "$root/bench/floor/HeightMapFloor.cpp" $(pkg-config --cflags --libs opencv4)
"$floor" prepare "$photo" 1000 "$work/grey.pgm"
numpy=
if /usr/bin/python3 -c 'import numpy, stl' 2>/dev/null; then numpy=1; fi

now() { date +%s%N; }
declare -A times
run() {  # name command...
  local start took
  start=$(now)
  "${@:2}" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
  took=$(($(now) - start))
  times[$1]+="$took "
}
relief=(relief "$photo" --width 100 --height 100 --pixel-size 0.1 --only body --quiet)
for ((i = 0; i < rounds; i++)); do
  rm -rf "$work/out" "$work/exact"
  run tool "$tool" "${relief[@]}" --out "$work/out"
  run exact "$tool" "${relief[@]}" --exact-meshes --out "$work/exact"
  run floor "$floor" mesh "$work/grey.pgm" "$work/floor.stl"
  [ -z "$numpy" ] || run numpy /usr/bin/python3 "$root/bench/floor/height_map_numpy_stl.py" "$work/grey.pgm" "$work/numpy.stl"
  bytes=$(stat -c %s "$work/floor.stl")
  rm -f "$work/copy"
  run write sh -c "head -c $bytes /dev/zero >'$work/copy'"
done

median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)] / 1e9}'; }
triangles() { echo $(( ($(stat -c %s "$1") - 84) / 50 )); }
printf "photo to a closed single-body STL, 1000 x 1000 pixels, %d interleaved rounds, medians:\n" "$rounds"
printf "  %-34s %8.3f s  %9d triangles\n" "orvane relief --only body" "$(median "${times[tool]}")" "$(triangles "$work/out/relief.stl")"
printf "  %-34s %8.3f s  %9d triangles\n" "orvane ... --exact-meshes" "$(median "${times[exact]}")" "$(triangles "$work/exact/relief.stl")"
printf "  %-34s %8.3f s  %9d triangles\n" "single-threaded C++ floor" "$(median "${times[floor]}")" "$(triangles "$work/floor.stl")"
[ -z "$numpy" ] || printf "  %-34s %8.3f s  %9d triangles\n" "numpy + numpy-stl" "$(median "${times[numpy]}")" "$(triangles "$work/numpy.stl")"
printf "  %-34s %8.3f s\n" "writing the floor's bytes" "$(median "${times[write]}")"
awk -v t="$(median "${times[tool]}")" -v e="$(median "${times[exact]}")" -v f="$(median "${times[floor]}")" \
    -v n="${numpy:+$(median "${times[numpy]}")}" 'BEGIN {
  printf "ratios: tool / floor %.2f, exact / floor %.2f", t / f, e / f
  if (n != "") printf ", numpy-stl / tool %.2f, numpy-stl / exact %.2f", n / t, n / e
  printf "\n"
}'
