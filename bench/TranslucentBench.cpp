// The translucent model's heavy operations, each against a floor measured in the same run:
// the automatic contrast against one HSV conversion of the photograph per evaluated step, the
// sizing preview against the k-means it is bound to run, and the five meshes against one
// eight-voxel test per lattice point and label plus writing the output bytes; the card finder
// against one grey conversion of the photo it reads.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "CardFinder.h"
#include "CardMatching.h"
#include "ColourCard.h"
#include "ContrastCurve.h"
#include "PhotosTranslucent.h"

namespace {

using Clock = std::chrono::steady_clock;
using Orvanes::PhotosTranslucent;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Smooth colour fields, a pale bright sky band, a dark patch and sensor-like noise.
cv::Mat MakePhoto(int cols, int rows)
{
    cv::Mat photo(rows, cols, CV_8UC3);
    for (int y = 0; y < rows; ++y) {
        auto* row = photo.ptr<cv::Vec3b>(y);
        const double v = static_cast<double>(y) / rows;
        for (int x = 0; x < cols; ++x) {
            const double u = static_cast<double>(x) / cols;
            row[x] = cv::Vec3b(cv::saturate_cast<uint8_t>(110 + 70 * std::sin(6.0 * u + 2.0 * v)),
                               cv::saturate_cast<uint8_t>(100 + 60 * std::cos(5.0 * v - 3.0 * u)),
                               cv::saturate_cast<uint8_t>(90 + 80 * u * v + 40 * std::sin(9.0 * v)));
        }
    }
    photo(cv::Rect(0, 0, cols, rows / 5)).setTo(cv::Scalar(235, 225, 215));
    photo(cv::Rect(cols / 3, rows / 2, cols / 4, rows / 4)).setTo(cv::Scalar(25, 30, 35));
    cv::Mat noise(photo.size(), CV_16SC3), wide;
    cv::RNG(11).fill(noise, cv::RNG::NORMAL, 0, 6);
    photo.convertTo(wide, CV_16SC3);
    wide += noise;
    wide.convertTo(photo, CV_8UC3);
    return photo;
}

cv::Mat MakeCard()
{
    cv::Mat card(160, 640, CV_8UC3);
    for (int y = 0; y < card.rows; ++y)
        for (int x = 0; x < card.cols; ++x) {
            const int r = y / 10, c = x / 10;
            card.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(4 * c + 2), static_cast<uint8_t>(16 * r + 5),
                                                 static_cast<uint8_t>(250 - 3 * c));
        }
    return card;
}

cv::Mat Encode(const cv::Mat& image)
{
    std::vector<uint8_t> bytes;
    cv::imencode(".bmp", image, bytes);  // quick to write and read at photograph sizes
    return cv::Mat(bytes, true).reshape(1, 1);
}

PhotosTranslucent MakeModel(const cv::Mat& photo, double width, double height)
{
    cv::theRNG().state = 1;
    return PhotosTranslucent(Encode(MakeCard()), Encode(photo), width, height, 1.0, nullptr);
}

// Arguments: photograph columns and rows, then the working columns and rows.
void BM_AutoContrast(benchmark::State& state)
{
    const cv::Mat photo = MakePhoto(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    PhotosTranslucent model = MakeModel(photo, static_cast<double>(state.range(2)), static_cast<double>(state.range(3)));
    const Orvanes::detail::ContrastScorer scorer(model.SourceImage());
    const int steps =
        Orvanes::detail::SearchContrastStep([&](double s) { return scorer.Score(s); }, nullptr).evaluatedSteps;

    // The conversion writes into a warm buffer: the floor should not pay for page faults.
    cv::Mat hsv;
    cv::cvtColor(model.SourceImage(), hsv, cv::COLOR_BGR2HSV_FULL);
    double workSeconds = 0.0, conversionSeconds = 0.0;
    for (auto _ : state) {
        auto start = Clock::now();
        cv::cvtColor(model.SourceImage(), hsv, cv::COLOR_BGR2HSV_FULL);
        benchmark::DoNotOptimize(hsv.data);
        conversionSeconds += SecondsSince(start);

        start = Clock::now();
        float contrast = 0.0f, brightness = 0.0f;
        const cv::Mat preview = model.AutoContrast(contrast, brightness);
        benchmark::DoNotOptimize(preview.data);
        const double seconds = SecondsSince(start);
        workSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["steps"] = steps;
    state.counters["conversions_per_step"] = workSeconds / conversionSeconds / steps;
}
BENCHMARK(BM_AutoContrast)->Args({128, 96, 64, 48})->Args({4000, 3000, 200, 150})->UseManualTime()->Unit(benchmark::kMillisecond);

// Arguments as for BM_AutoContrast.
void BM_PreviewAtNewSize(benchmark::State& state)
{
    const cv::Mat photo = MakePhoto(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int cols = static_cast<int>(state.range(2)), rows = static_cast<int>(state.range(3));
    PhotosTranslucent model = MakeModel(photo, cols, rows);
    // The floor: the k-means the palette is bound to come from, on the same samples.
    cv::Mat working, samples;
    cv::resize(model.SourceImage(), working, cv::Size(cols, rows), 0.0, 0.0, cv::INTER_LINEAR);
    working.reshape(1, static_cast<int>(working.total())).convertTo(samples, CV_32F);

    double workSeconds = 0.0, boundSeconds = 0.0;
    for (auto _ : state) {
        cv::theRNG().state = 3;
        auto start = Clock::now();
        const cv::Mat preview = model.UpdatePreviewImage(cols, rows, 1.0);
        benchmark::DoNotOptimize(preview.data);
        const double seconds = SecondsSince(start);
        workSeconds += seconds;
        state.SetIterationTime(seconds);

        cv::theRNG().state = 3;
        start = Clock::now();
        cv::Mat labels, centers;
        cv::kmeans(samples, 256, labels, cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 5, 5.0), 3,
                   cv::KMEANS_PP_CENTERS, centers);
        benchmark::DoNotOptimize(labels.data);
        boundSeconds += SecondsSince(start);
    }
    state.counters["ratio_to_kmeans"] = workSeconds / boundSeconds;
}
BENCHMARK(BM_PreviewAtNewSize)->Args({128, 96, 64, 48})->Args({4000, 3000, 200, 150})->UseManualTime()->Unit(benchmark::kMillisecond);

// The material grid as the model derives it from its last preview.
cv::Mat MaterialGrid(const PhotosTranslucent& model)
{
    cv::Mat grid(model.MatchedImage().size(), CV_8UC(6));
    std::memset(grid.data, 255, grid.total() * grid.elemSize());
    const Orvanes::detail::PaletteLookup lookup(model.MatchedColours());
    for (int y = 0; y < grid.rows; ++y)
        for (int x = 0; x < grid.cols; ++x) {
            const int entry = lookup.Find(model.MatchedImage().ptr<uint8_t>(y) + 3 * x);
            if (entry < 0) continue;
            const auto stack = PhotosTranslucent::CellLayers(model.CardMatches()[static_cast<size_t>(entry)]);
            std::memcpy(grid.ptr<uint8_t>(y) + 6 * x, stack.data(), 6);
        }
    return grid;
}

// Which lattice points touch a voxel of label: the eight voxels around each point, clamped
// to the grid, visited in memory order.
int64_t LatticePass(const cv::Mat& grid, int label)
{
    const int rows = grid.rows, cols = grid.cols, layers = grid.channels();
    int64_t used = 0;
    for (int j = 0; j <= rows; ++j) {
        const uint8_t* above = grid.ptr<uint8_t>(std::max(j - 1, 0));
        const uint8_t* below = grid.ptr<uint8_t>(std::min(j, rows - 1));
        for (int i = 0; i <= cols; ++i) {
            const int left = std::max(i - 1, 0) * layers, right = std::min(i, cols - 1) * layers;
            const uint8_t* around[4] = {above + left, above + right, below + left, below + right};
            for (int k = 0; k <= layers; ++k) {
                const int lower = std::max(k - 1, 0), upper = std::min(k, layers - 1);
                bool hit = false;
                for (const uint8_t* v : around) hit |= (v[lower] == label) | (v[upper] == label);
                used += hit;
            }
        }
    }
    return used;
}

double MeshFloorSeconds(const cv::Mat& grid, const std::vector<Orvanes::OrvaneMesh>& meshes)
{
    const auto start = Clock::now();
    int64_t used = 0;
    for (int label = 0; label < 4; ++label) used += LatticePass(grid, label);
    benchmark::DoNotOptimize(used);
    // All five outputs live at once, as the returned list does, so each lands on fresh pages.
    std::vector<std::unique_ptr<char[]>> outputs;
    for (const auto& mesh : meshes) {
        const size_t vertexBytes = mesh.vertices.size() * 12, faceBytes = mesh.faces.size() * 12;
        outputs.emplace_back(new char[vertexBytes]);
        std::memcpy(outputs.back().get(), mesh.vertices.data(), vertexBytes);
        outputs.emplace_back(new char[faceBytes]);
        std::memcpy(outputs.back().get(), mesh.faces.data(), faceBytes);
        benchmark::ClobberMemory();
    }
    const double seconds = SecondsSince(start);
    outputs.clear();
    return seconds;
}

void BM_GetMeshes(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    PhotosTranslucent model = MakeModel(MakePhoto(side, side), side, side);
    model.UpdatePreviewImage(0.3, 0.0);
    const cv::Mat grid = MaterialGrid(model);
    double workSeconds = 0.0, boundSeconds = 0.0;
    size_t faceCount = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const std::vector<Orvanes::OrvaneMesh> meshes = model.GetMeshes(7, 12, 0.1, 0.2);
        const double seconds = SecondsSince(start);
        workSeconds += seconds;
        state.SetIterationTime(seconds);
        faceCount = 0;
        for (const auto& mesh : meshes) faceCount += mesh.faces.size();
        boundSeconds += MeshFloorSeconds(grid, meshes);
    }
    state.counters["triangles"] = static_cast<double>(faceCount);
    state.counters["ratio_to_bound"] = workSeconds / boundSeconds;
}
BENCHMARK(BM_GetMeshes)->Arg(64)->Arg(500)->UseManualTime()->Unit(benchmark::kMillisecond);

// Argument: pixels a cell at the card's centre; 39 makes a photo of 4000 x 3000 pixels.
void BM_FindCard(benchmark::State& state)
{
    Orvanes::CardPhotoSettings settings;
    settings.cellPixels = static_cast<double>(state.range(0));
    settings.tiltDegrees = 20.0, settings.tiltAxisDegrees = 60.0, settings.spinDegrees = 7.0, settings.margin = 0.3;
    settings.falloff = 0.3, settings.light = {0.9, 0.85, 0.8}, settings.noiseSigma = 2.0, settings.jpegQuality = 90;
    const Orvanes::CardMaterials materials = {Orvanes::LayerEntry(255, 255, 0, 0.3f), Orvanes::LayerEntry(255, 0, 255, 0.3f),
                                              Orvanes::LayerEntry(0, 255, 255, 0.3f), Orvanes::LayerEntry(255, 255, 255, 0.1f)};
    const cv::Mat photo = Orvanes::SimulateCardPhoto(materials, settings).photo;
    cv::Mat grey;
    cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);  // warm: the floor should not pay for page faults
    double workSeconds = 0.0, floorSeconds = 0.0;
    for (auto _ : state) {
        auto start = Clock::now();
        const Orvanes::FoundCard found = Orvanes::FindCard(photo);
        benchmark::DoNotOptimize(found.card.data);
        const double seconds = SecondsSince(start);
        workSeconds += seconds;
        state.SetIterationTime(seconds);

        start = Clock::now();
        cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
        benchmark::DoNotOptimize(grey.data);
        floorSeconds += SecondsSince(start);
    }
    state.counters["megapixels"] = photo.total() / 1e6;
    state.counters["ratio_to_grey"] = workSeconds / floorSeconds;
}
BENCHMARK(BM_FindCard)->Arg(16)->Arg(39)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
