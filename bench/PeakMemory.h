// Heap accounting for the benchmarks: every global operator new and every OpenCV matrix buffer
// of this executable is counted, so a benchmark can report the peak its operation reached.
#pragma once
#include <cstddef>

namespace orvane_bench {

// Bytes allocated and not yet freed (usable sizes, so allocator rounding is included).
size_t HeapBytes();

// Starts a new peak from the current level; PeakHeapBytes is the highest level since.
void ResetHeapPeak();
size_t PeakHeapBytes();

}  // namespace orvane_bench
