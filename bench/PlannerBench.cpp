// Colour planning of a relief against the work of judging one stack: a preview of the whole
// picture and its CIEDE2000 error map, measured in the same run. The planner tries thousands
// of partial stacks, so the ratio says how well its per-level bins and memo pay off.
#include <chrono>
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "ColourDifference.h"
#include "PhotosRelief.h"
#include "StackPlanner.h"

namespace {

using Clock = std::chrono::steady_clock;
using Orvanes::LayerEntry;

// Colourful hills with grain: a photograph's spread of hues and greys.
cv::Mat MakeColourPhoto(int cols, int rows)
{
    cv::Mat photo(rows, cols, CV_8UC3);
    cv::RNG rng(5);
    photo.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* yx) {
        const double r = yx[0], c = yx[1];
        p = cv::Vec3b(cv::saturate_cast<uint8_t>(128 + 100 * std::sin(c * 0.013)),
                      cv::saturate_cast<uint8_t>(128 + 100 * std::cos(r * 0.017 + c * 0.004)),
                      cv::saturate_cast<uint8_t>(128 + 120 * std::sin((r + c) * 0.009)));
    });
    for (int k = 0; k < cols * rows / 20; ++k)
        photo.at<cv::Vec3b>(rng.uniform(0, rows), rng.uniform(0, cols)) = cv::Vec3b::all(uint8_t(rng.uniform(0, 256)));
    return photo;
}

void BM_PlanStack(benchmark::State& state)
{
    const int cols = static_cast<int>(state.range(0)), rows = cols * 2 / 3;
    std::vector<unsigned char> png;
    cv::imencode(".png", MakeColourPhoto(cols, rows), png);
    const std::vector<LayerEntry> six = {{0, 0, 0, 1.0f},        {46, 77, 26, 0.4f},     {34, 34, 178, 0.35f},
                                         {0, 140, 255, 0.3f},    {0, 215, 255, 0.25f},   {255, 255, 255, 0.125f}};
    Orvanes::PhotosRelief relief(cv::Mat(png, true).reshape(1, 1), cols, rows, 1.0, nullptr, six);
    double planSeconds = 0.0, judgeSeconds = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const std::vector<LayerEntry> stack = Orvanes::PlanStack(relief, 3, 20);
        const auto planned = Clock::now();
        const cv::Mat preview = relief.UpdatePreviewImage(stack, 3, 0, 0, 0);
        benchmark::DoNotOptimize(Orvanes::ColourErrorMap(relief.ColourImage(), preview).data);
        const double seconds = std::chrono::duration<double>(planned - start).count();
        planSeconds += seconds;
        judgeSeconds += std::chrono::duration<double>(Clock::now() - planned).count();
        state.SetIterationTime(seconds);
    }
    state.counters["ratio_to_judging_one_stack"] = planSeconds / judgeSeconds;
}
BENCHMARK(BM_PlanStack)->Arg(64)->Arg(600)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
