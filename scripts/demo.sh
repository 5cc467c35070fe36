#!/usr/bin/env bash
# From a fresh checkout to printable files: installs what is missing, builds the library and the
# `orvane` tool, tests and benchmarks (Release, in ./build), and runs both roads on the built-in
# sample photo.
# usage: bash scripts/demo.sh [folder]   (default: orvane-demo in the checkout)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# A folder given on the command line is taken from where the script was started.
folder=$(realpath -m "${1:-$root/orvane-demo}")
cd "$root"
jobs=${ORVANE_JOBS:-2}

bash scripts/setup.sh
# The test script's configuration except warnings as errors, which belong to CI: a newer
# compiler's new warning must not stop a person from seeing the demo.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=OFF \
      -DORVANE_BUILD_BENCHMARKS=ON -DORVANE_REQUIRE_TEST_TOOLS=ON >/dev/null
cmake --build build -j"$jobs"
./build/cli/orvane demo "$folder"

cat <<TEXT

Everything went into $folder:
  photo.png                  the sample photo
  relief/preview.png         how the layered colour relief looks from above
  relief/relief-body.3mf     the relief as one body for one nozzle, with the filament changes of
                             relief/swaps.txt as the slicer's colour changes (relief.stl: the body alone)
  relief/relief.3mf          one part per colour for several nozzles (colour-*.stl: the same meshes)
  relief/stack.txt           the proposed colour stack (edit it and pass it back with --stack)
  card-simulated.png         a predicted photo of the colour card (orvane card prints the real one)
  translucent/preview.png    the translucent colour print matched against that card
  translucent/*.stl, .3mf    four material meshes, the body, and all five as parts of one 3MF
                             (it is read from below: the side printed on the bed faces the viewer)
Try your own photo:  ./build/cli/orvane relief PHOTO --width 120 --out my-relief
Options and units:   ./build/cli/orvane relief --help
TEXT
