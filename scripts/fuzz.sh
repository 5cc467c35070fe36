#!/usr/bin/env bash
# Builds the fuzz targets with clang under AddressSanitizer + UndefinedBehaviorSanitizer and
# runs each (or the TARGETs named) for SECONDS (default 30) from the seeds plus what earlier runs found. Exits non-zero
# on the first target that crashes, leaks, trips a sanitizer or breaks a checked property; the
# input that did it is left in build-fuzz/crashes/.
set -euo pipefail
seconds=${1:-30}
[[ $seconds =~ ^[0-9]+$ && $seconds -gt 0 ]] || { echo "usage: scripts/fuzz.sh [SECONDS [TARGET...]]" >&2; exit 2; }
shift $(($# > 0 ? 1 : 0))
targets=("$@")
((${#targets[@]})) || targets=(decode_relief decode_translucent relief_proxy translucent_proxy mesh_streams meshers colour_files find_card)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
jobs=${ORVANE_JOBS:-2}

flags="-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_FUZZERS=ON \
  -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_CLI=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build build-fuzz -j"$jobs"

seeds=build-fuzz/seeds
rm -rf "$seeds" && ./build-fuzz/fuzz/make_seeds "$seeds"
mkdir -p build-fuzz/crashes
for target in "${targets[@]}"; do
  [[ -x build-fuzz/fuzz/fuzz_$target ]] || { echo "fuzz: no target '$target'" >&2; exit 2; }
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds} s"
  # Two megabytes of a few-byte input is a bomb; half a second per input is a hang.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ./build-fuzz/fuzz/fuzz_"$target" "$corpus" "$seeds/$target" -max_total_time="$seconds" \
      -rss_limit_mb=2048 -timeout=10 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix=build-fuzz/crashes/"$target"- >build-fuzz/"$target".log 2>&1 \
    || { tail -n 40 build-fuzz/"$target".log >&2; echo "fuzz: $target failed" >&2; exit 1; }
  sed -n "s/^stat::number_of_executed_units: */fuzz: $target ran /p" build-fuzz/"$target".log
done
