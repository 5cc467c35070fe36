#!/usr/bin/env bash
# Builds everything with warnings as errors and runs the whole suite twice: in an optimised
# build and under AddressSanitizer + UndefinedBehaviorSanitizer. Benchmarks are smoke-run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
jobs=${ORVANE_JOBS:-2}

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
      -DORVANE_BUILD_BENCHMARKS=ON -DORVANE_REQUIRE_TEST_TOOLS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
bash scripts/check-install.sh build
# Smoke-run the benchmarks at their small sizes: they must run, their timings are not judged here.
./build/bench/orvane_bench --benchmark_min_time=0.01 --benchmark_filter='/(16|32|64)(/|$)' >/dev/null

san="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DORVANE_REQUIRE_TEST_TOOLS=ON \
      -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" -DCMAKE_SHARED_LINKER_FLAGS="$san" \
      >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")

# Every fuzz target for half a minute from its seeds (clang, AddressSanitizer + UndefinedBehaviorSanitizer).
bash scripts/fuzz.sh 30
