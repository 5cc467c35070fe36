// Photo-to-STL road: height-map meshing followed by STL serialisation, against the cost of
// merely writing the same output bytes into fresh memory.
#include <chrono>
#include <cstring>
#include <memory>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include "PhotoMeshCreater.h"

namespace {

using Clock = std::chrono::steady_clock;

cv::Mat MakePhotoLikeHeights(int side)
{
    cv::Mat heights(side, side, CV_8UC1);
    cv::RNG rng(7);
    for (int r = 0; r < side; ++r) {
        uint8_t* row = heights.ptr<uint8_t>(r);
        for (int c = 0; c < side; ++c) row[c] = static_cast<uint8_t>((r * 3 + c * 5) / 8 + rng.uniform(0, 40));
    }
    return heights;
}

// The floor any implementation pays: the vertex array, the face array and the STL block,
// each allocated fresh and written once.
double LowerBoundSeconds(size_t vertexBytes, size_t faceBytes, size_t stlBytes)
{
    const auto start = Clock::now();
    for (size_t bytes : {vertexBytes, faceBytes, stlBytes}) {
        std::unique_ptr<char[]> block(new char[bytes]);
        std::memset(block.get(), 0x5a, bytes);
        benchmark::DoNotOptimize(block.get());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_HeightMapToStl(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const cv::Mat heights = MakePhotoLikeHeights(side);
    double workSeconds = 0.0, boundSeconds = 0.0;
    size_t faceCount = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        Orvanes::PhotoMeshCreater mesher(nullptr);
        Orvanes::OrvaneMesh mesh = mesher.CreateMeshByHeightMap(heights, 0.1, 0.2, 20, 0.6, 0.0, false);
        const size_t vertexBytes = mesh.vertices.size() * 12, faceBytes = mesh.faces.size() * 12;
        faceCount = mesh.faces.size();
        int size = 0;
        std::unique_ptr<const char[]> stl(mesher.GetSTLStream(std::move(mesh), size));
        benchmark::DoNotOptimize(stl.get());
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        workSeconds += seconds;
        boundSeconds += LowerBoundSeconds(vertexBytes, faceBytes, static_cast<size_t>(size));
        state.SetIterationTime(seconds);
    }
    state.counters["triangles_per_s"] =
        benchmark::Counter(static_cast<double>(faceCount) * static_cast<double>(state.iterations()) / workSeconds);
    state.counters["ratio_to_bound"] = workSeconds / boundSeconds;
}
BENCHMARK(BM_HeightMapToStl)->Arg(64)->Arg(1000)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
