// Voxel meshes of a relief: the per-colour meshes of a whole picture, and one label of a voxel
// grid alone, each against the work no voxel mesher can skip, measured in the same run.
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "PeakMemory.h"
#include "PhotoMeshCreater.h"
#include "PhotosRelief.h"

namespace {

using Clock = std::chrono::steady_clock;
using Orvanes::LayerEntry;

constexpr int kLevelCount = 20;
constexpr int kBaseCount = 2;
constexpr int kPaletteSize = 4;

// Smooth hills with grain, spanning 0..255 like a stretched photograph.
cv::Mat MakePhotoLikeGrey(int side)
{
    cv::Mat grey(side, side, CV_8UC1);
    cv::RNG rng(11);
    for (int r = 0; r < side; ++r) {
        uint8_t* row = grey.ptr<uint8_t>(r);
        for (int c = 0; c < side; ++c) {
            const double hills = std::sin(c * 0.021) * std::cos(r * 0.017) + 0.5 * std::sin((c + r) * 0.006);
            row[c] = cv::saturate_cast<uint8_t>(128.0 + 80.0 * hills + rng.uniform(-6, 6));
        }
    }
    grey.at<uint8_t>(0, 0) = 0;
    grey.at<uint8_t>(side - 1, side - 1) = 255;
    return grey;
}

std::vector<LayerEntry> MakePalette()
{
    return {LayerEntry(10, 200, 30, 0.3f), LayerEntry(40, 40, 220, 0.4f), LayerEntry(90, 90, 90, 0.5f),
            LayerEntry(250, 250, 250, 0.125f)};
}

// Bottom first, colours in bands of five levels, as an edge-driven proposal tends to come out.
std::vector<LayerEntry> MakeStack(const std::vector<LayerEntry>& palette)
{
    std::vector<LayerEntry> stack;
    for (int level = 0; level < kLevelCount; ++level) stack.push_back(palette[(level / 5) % palette.size()]);
    return stack;
}

// The relief's grid for the stack above, built directly: level channels top first, filled where
// grey reaches the level's threshold, empty label kPaletteSize + 1 elsewhere, base label 0.
cv::Mat MakeReliefGrid(const cv::Mat& grey)
{
    const int levels = kLevelCount - kBaseCount;
    const int step = 255 / levels;
    cv::Mat grid(grey.rows, grey.cols, CV_8UC(kLevelCount));
    for (int r = 0; r < grey.rows; ++r) {
        const uint8_t* g = grey.ptr<uint8_t>(r);
        uint8_t* v = grid.ptr<uint8_t>(r);
        for (int c = 0; c < grey.cols; ++c, v += kLevelCount)
            for (int k = 0; k < kLevelCount; ++k) {
                const int entry = kLevelCount - 1 - k;
                const bool filled = k >= levels || g[c] >= (levels - 1 - k) * step;
                v[k] = static_cast<uint8_t>(k >= levels ? 0 : filled ? (entry / 5) % kPaletteSize : kPaletteSize + 1);
            }
    }
    return grid;
}

// The floor: for each label one pass over the lattice testing the eight voxels around every
// point (what deciding which corners carry vertices takes), then the output mesh bytes
// written into freshly allocated memory.
struct BoundSeconds {
    double scan = 0.0, write = 0.0;
    double Total() const { return scan + write; }
};

BoundSeconds LowerBound(const cv::Mat& grid, int labelCount, size_t outputBytes)
{
    BoundSeconds bound;
    auto start = Clock::now();
    const int cn = grid.channels();
    size_t used = 0;
    for (int label = 0; label < labelCount; ++label)
        for (int j = 1; j < grid.rows; ++j) {
            const uint8_t* above = grid.ptr<uint8_t>(j - 1);
            const uint8_t* here = grid.ptr<uint8_t>(j);
            for (int i = 1; i < grid.cols; ++i) {
                const uint8_t* a0 = above + (i - 1) * cn;
                const uint8_t* a1 = above + i * cn;
                const uint8_t* h0 = here + (i - 1) * cn;
                const uint8_t* h1 = here + i * cn;
                for (int k = 1; k < cn; ++k)
                    used += (a0[k] == label) | (a0[k - 1] == label) | (a1[k] == label) | (a1[k - 1] == label) |
                            (h0[k] == label) | (h0[k - 1] == label) | (h1[k] == label) | (h1[k - 1] == label);
            }
        }
    benchmark::DoNotOptimize(used);
    bound.scan = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    std::unique_ptr<char[]> block(new char[outputBytes]);
    std::memset(block.get(), 0x5a, outputBytes);
    benchmark::DoNotOptimize(block.get());
    benchmark::ClobberMemory();
    bound.write = std::chrono::duration<double>(Clock::now() - start).count();
    return bound;
}

size_t MeshBytes(const Orvanes::OrvaneMesh& mesh)
{
    return mesh.vertices.size() * sizeof(mesh.vertices[0]) + mesh.faces.size() * sizeof(mesh.faces[0]);
}

double LatticePoints(const cv::Mat& grid)
{
    return double(grid.cols + 1) * double(grid.rows + 1) * double(grid.channels() + 1);
}

// labelCount: lattice passes per iteration, one per label meshed.
void SetCounters(benchmark::State& state, double latticePoints, int labelCount, double workSeconds,
                 const BoundSeconds& bound, double triangles, size_t peakBytes, size_t outputBytes)
{
    const double iterations = static_cast<double>(state.iterations());
    state.counters["lattice_points_per_s"] =
        benchmark::Counter(latticePoints * labelCount * iterations / workSeconds);
    state.counters["triangles_per_s"] = benchmark::Counter(triangles * iterations / workSeconds);
    state.counters["peak_MB"] = static_cast<double>(peakBytes) / 1e6;
    // Everything the operation held at its peak beyond the meshes it returns, per lattice point.
    state.counters["peak_B_per_point_beyond_output"] =
        (static_cast<double>(peakBytes) - static_cast<double>(outputBytes)) / latticePoints;
    state.counters["ratio_to_bound"] = workSeconds / bound.Total();
    // How much of the bound is the output write alone; page faults on fresh memory weigh in.
    state.counters["bound_write_share"] = bound.write / bound.Total();
}

void BM_ReliefVoxMeshes(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const cv::Mat grey = MakePhotoLikeGrey(side);
    cv::Mat bgr;
    cv::merge(std::vector<cv::Mat>{grey, grey, grey}, bgr);
    std::vector<uchar> png;
    cv::imencode(".png", bgr, png);
    const auto palette = MakePalette();
    Orvanes::PhotosRelief relief(cv::Mat(png, true).reshape(1, 1), side, side, 1.0, nullptr, palette);
    const auto stack = MakeStack(relief.Palette());
    const cv::Mat grid = MakeReliefGrid(relief.GreyImage());
    const double latticePoints = LatticePoints(grid);

    double workSeconds = 0.0, triangles = 0.0;
    BoundSeconds bound;
    size_t peakBytes = 0, outputBytes = 0;
    for (auto _ : state) {
        std::vector<Orvanes::OrvaneMesh> meshes;
        std::vector<LayerEntry> colours;
        orvane_bench::ResetHeapPeak();
        const size_t startBytes = orvane_bench::HeapBytes();
        const auto start = Clock::now();
        relief.GetVoxMeshes(stack, 0.1, 0.6, kBaseCount, 0.1, meshes, colours);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        peakBytes = orvane_bench::PeakHeapBytes() - startBytes;
        outputBytes = 0;
        triangles = 0.0;
        for (const auto& mesh : meshes) {
            outputBytes += MeshBytes(mesh);
            triangles += static_cast<double>(mesh.faces.size());
        }
        workSeconds += seconds;
        const BoundSeconds once = LowerBound(grid, kPaletteSize, outputBytes);
        bound.scan += once.scan;
        bound.write += once.write;
        state.SetIterationTime(seconds);
    }
    SetCounters(state, latticePoints, kPaletteSize, workSeconds, bound, triangles, peakBytes, outputBytes);
}
BENCHMARK(BM_ReliefVoxMeshes)->Arg(64)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_VoxelMeshOneLabel(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const cv::Mat grid = MakeReliefGrid(MakePhotoLikeGrey(side));
    const double latticePoints = LatticePoints(grid);
    double workSeconds = 0.0, triangles = 0.0;
    BoundSeconds bound;
    size_t peakBytes = 0, outputBytes = 0;
    for (auto _ : state) {
        orvane_bench::ResetHeapPeak();
        const size_t startBytes = orvane_bench::HeapBytes();
        const auto start = Clock::now();
        Orvanes::PhotoMeshCreater mesher(nullptr);
        // Label 0: the lowest colour band and both base levels, the largest mesh of the grid.
        Orvanes::OrvaneMesh mesh = mesher.CreateMeshFromVox(grid, 0.1, 0.1, 0.6, 0, 0, 100);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        peakBytes = orvane_bench::PeakHeapBytes() - startBytes;
        outputBytes = MeshBytes(mesh);
        triangles = static_cast<double>(mesh.faces.size());
        workSeconds += seconds;
        const BoundSeconds once = LowerBound(grid, 1, outputBytes);
        bound.scan += once.scan;
        bound.write += once.write;
        state.SetIterationTime(seconds);
    }
    SetCounters(state, latticePoints, 1, workSeconds, bound, triangles, peakBytes, outputBytes);
}
BENCHMARK(BM_VoxelMeshOneLabel)->Arg(64)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
