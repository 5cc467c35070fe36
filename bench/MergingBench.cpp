// Merging the faces of the voxel meshes of a photograph's relief, and of its height-map body:
// input triangles per second, how many fewer triangles come out, and the time against reading the input mesh once and
// writing the merged mesh's bytes into fresh memory, measured in the same run.
#include <chrono>
#include <stdexcept>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "MeshMerging.h"
#include "PhotoMeshCreater.h"

namespace {

using Clock = std::chrono::steady_clock;

// The sample photo's grey, width pixels wide, as a relief of 20 levels over 2 base levels: one
// label per band of five levels, the background above the surface.
cv::Mat SampleReliefGrid(int width)
{
    cv::Mat photo = cv::imread(std::string(ORVANE_SOURCE_DIR) + "/data/chelsea.png", cv::IMREAD_GRAYSCALE);
    if (photo.empty()) throw std::runtime_error("the sample photo is missing");
    cv::resize(photo, photo, cv::Size(width, photo.rows * width / photo.cols), 0, 0, cv::INTER_AREA);
    constexpr int kLevels = 20, kBase = 2;
    cv::Mat grid(photo.rows, photo.cols, CV_8UC(kLevels));
    for (int r = 0; r < photo.rows; ++r)
        for (int c = 0; c < photo.cols; ++c) {
            uint8_t* v = grid.ptr<uint8_t>(r) + c * kLevels;
            const int height = kBase + photo.at<uint8_t>(r, c) * (kLevels - kBase) / 256;
            for (int k = 0; k < kLevels; ++k) v[k] = uint8_t(kLevels - 1 - k < height ? (kLevels - 1 - k) / 5 : 9);
        }
    return grid;
}

// Merges the meshes each iteration and reports the rates and the ratio to the floor.
void MergeAndReport(benchmark::State& state, const std::vector<Orvanes::OrvaneMesh>& meshes)
{
    double inputTriangles = 0, outputTriangles = 0, workSeconds = 0, boundSeconds = 0;
    for (auto _ : state) {
        inputTriangles = outputTriangles = 0;
        size_t outputBytes = 0;
        for (const Orvanes::OrvaneMesh& mesh : meshes) {
            const auto start = Clock::now();
            const Orvanes::OrvaneMesh merged = Orvanes::MergeCoplanarFaces(mesh);
            workSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            inputTriangles += double(mesh.faces.size());
            outputTriangles += double(merged.faces.size());
            outputBytes += merged.faces.size() * sizeof(merged.faces[0]) + merged.vertices.size() * sizeof(merged.vertices[0]);
        }
        // The floor: every input vertex of every face read once, the output written once.
        const auto start = Clock::now();
        float sum = 0;
        for (const Orvanes::OrvaneMesh& mesh : meshes)
            for (const auto& f : mesh.faces) sum += mesh.vertices[size_t(f[0])][0] + mesh.vertices[size_t(f[1])][1] + mesh.vertices[size_t(f[2])][2];
        benchmark::DoNotOptimize(sum);
        std::unique_ptr<char[]> block(new char[outputBytes]);
        std::memset(block.get(), 0x5a, outputBytes);
        benchmark::DoNotOptimize(block.get());
        benchmark::ClobberMemory();
        boundSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double iterations = double(state.iterations());
    state.counters["input_Mtriangles_per_s"] = inputTriangles * iterations / workSeconds / 1e6;
    state.counters["input_triangles"] = inputTriangles;
    state.counters["fewer_triangles_times"] = inputTriangles / outputTriangles;
    state.counters["ratio_to_bound"] = workSeconds / boundSeconds;
}

void BM_MergeReliefColours(benchmark::State& state)
{
    const cv::Mat grid = SampleReliefGrid(int(state.range(0)));
    std::vector<Orvanes::OrvaneMesh> meshes;
    for (int label = 0; label < 4; ++label)
        meshes.push_back(Orvanes::PhotoMeshCreater(nullptr).CreateMeshFromVox(grid, 0.2, 0.1, 0.1, label, 0, 100));
    MergeAndReport(state, meshes);
}
BENCHMARK(BM_MergeReliefColours)->Arg(600)->Unit(benchmark::kMillisecond);

// The single body of the sample photo, width pixels wide: a height map whose slopes are kept.
void BM_MergeHeightMapBody(benchmark::State& state)
{
    cv::Mat photo = cv::imread(std::string(ORVANE_SOURCE_DIR) + "/data/chelsea.png", cv::IMREAD_GRAYSCALE);
    if (photo.empty()) throw std::runtime_error("the sample photo is missing");
    const int width = int(state.range(0));
    cv::resize(photo, photo, cv::Size(width, photo.rows * width / photo.cols), 0, 0, cv::INTER_LINEAR);
    MergeAndReport(state, {Orvanes::PhotoMeshCreater(nullptr).CreateMeshByHeightMap(photo, 0.1, 0.1, 20, 0.6, 0.0, false)});
}
BENCHMARK(BM_MergeHeightMapBody)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
