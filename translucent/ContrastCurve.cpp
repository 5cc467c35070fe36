#include "ContrastCurve.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "NULLProgressBar.h"

namespace Orvanes::detail {

namespace {

// A double beyond float's range would make the narrowing conversion undefined; it becomes the
// infinity a float pipeline would have reached anyway.
float ToFloat(double value)
{
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (value > kLargest) return std::numeric_limits<float>::infinity();
    if (value < -kLargest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// Full-range HSV saturation depends on a pixel's largest and smallest channel only (value is
// the largest). Asking the image library itself for every (largest, smallest) pair keeps the
// counts identical to converting the whole image, without computing a hue per pixel.
const std::array<uint8_t, 256 * 256>& SaturationTable()
{
    static const std::array<uint8_t, 256 * 256> table = [] {
        cv::Mat pairs(256, 256, CV_8UC3, cv::Scalar::all(0));
        for (int largest = 0; largest < 256; ++largest) {
            auto* row = pairs.ptr<cv::Vec3b>(largest);
            for (int smallest = 0; smallest <= largest; ++smallest)
                row[smallest] = cv::Vec3b(static_cast<uint8_t>(smallest), static_cast<uint8_t>(smallest),
                                          static_cast<uint8_t>(largest));
        }
        cv::Mat hsv;
        cv::cvtColor(pairs, hsv, cv::COLOR_BGR2HSV_FULL);
        std::array<uint8_t, 256 * 256> saturation{};
        for (int largest = 0; largest < 256; ++largest) {
            const auto* row = hsv.ptr<cv::Vec3b>(largest);
            for (int smallest = 0; smallest <= largest; ++smallest)
                saturation[static_cast<size_t>(largest) * 256 + static_cast<size_t>(smallest)] = row[smallest][1];
        }
        return saturation;
    }();
    return table;
}

}  // namespace

std::array<uint8_t, 256> ContrastTable(double mean, double contrast, double brightness)
{
    // 3.1416 rather than pi: the curve at strength 0 is then a hair steeper than identity,
    // far below one grey level.
    const double slope = std::tan((contrast * 44.0 + 45.0) / 180.0 * 3.1416);
    const float pivot = ToFloat((1.0 - brightness) * mean);
    const float k = ToFloat(slope);
    const float target = ToFloat((1.0 + brightness) * mean);
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        // One rounding per operation, as three whole-image float operations would give.
        const float shifted = static_cast<float>(v) - pivot;
        const float scaled = shifted * k;
        float value = scaled + target;
        // Clamping first also pins a value that overflowed to infinity or NaN.
        if (!(value >= 0.0f)) value = 0.0f;
        else if (value > 255.0f) value = 255.0f;
        table[static_cast<size_t>(v)] = cv::saturate_cast<uint8_t>(value);
    }
    return table;
}

cv::Mat ApplyContrast(const cv::Mat& image, double contrast, double brightness)
{
    CV_Assert(image.depth() == CV_8U && image.channels() <= 4 && image.dims <= 2);
    if (image.empty()) return cv::Mat(image.rows, image.cols, image.type());
    const int channels = image.channels();
    const cv::Scalar means = cv::mean(image);
    // Every channel has its own curve; one interleaved table turns them all in one pass.
    cv::Mat lut(1, 256, CV_8UC(channels));
    auto* entries = lut.ptr<uint8_t>();
    for (int ch = 0; ch < channels; ++ch) {
        const auto table = ContrastTable(means[ch], contrast, brightness);
        for (size_t v = 0; v < 256; ++v) entries[v * static_cast<size_t>(channels) + static_cast<size_t>(ch)] = table[v];
    }
    cv::Mat adjusted;
    cv::LUT(image, lut, adjusted);
    return adjusted;
}

ContrastScorer::ContrastScorer(const cv::Mat& bgr) : image(bgr)
{
    CV_Assert(image.type() == CV_8UC3 && image.dims <= 2);
    means = cv::mean(image);
    // The input's saturations serve every strength; keeping them costs a byte per pixel and
    // saves each step two thirds of its table work.
    saturationBefore.create(image.rows, image.cols, CV_8UC1);
    const auto& saturation = SaturationTable();
    for (int y = 0; y < image.rows; ++y) {
        const uint8_t* p = image.ptr<uint8_t>(y);
        uint8_t* out = saturationBefore.ptr<uint8_t>(y);
        for (int x = 0; x < image.cols; ++x, p += 3) {
            const int value = std::max({p[0], p[1], p[2]});
            const uint8_t s = saturation[static_cast<size_t>(value) * 256 + std::min({p[0], p[1], p[2]})];
            out[x] = s;
            paleBefore += (s < 40) & (value > 180);
        }
    }
}

double ContrastScorer::Score(double contrast) const
{
    const auto blue = ContrastTable(means[0], contrast, 0.0);
    const auto green = ContrastTable(means[1], contrast, 0.0);
    const auto red = ContrastTable(means[2], contrast, 0.0);
    const auto& saturation = SaturationTable();
    // Rows are scored in stripes on the image library's worker threads, as its own colour
    // conversions are; the counts are integers, so their sum does not depend on the split.
    std::atomic<int64_t> vividTotal{0}, paleAfterTotal{0};
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        int64_t vivid = 0, paleAfter = 0;
        for (int y = rows.start; y < rows.end; ++y) {
            const uint8_t* p = image.ptr<uint8_t>(y);
            const uint8_t* before = saturationBefore.ptr<uint8_t>(y);
            for (int x = 0; x < image.cols; ++x, p += 3) {
                const uint8_t b = blue[p[0]], g = green[p[1]], r = red[p[2]];
                const int value = std::max({b, g, r});
                const int s = saturation[static_cast<size_t>(value) * 256 + std::min({b, g, r})];
                // Only a gain in saturation counts, as an 8-bit difference saturating at 0 would.
                vivid += (s - before[x] > 20) & (s > 80) & (value > 80);
                paleAfter += (s < 25) & (value > 180);
            }
        }
        vividTotal += vivid;
        paleAfterTotal += paleAfter;
    });
    const int64_t vivid = vividTotal.load(), paleAfter = paleAfterTotal.load();
    return static_cast<double>(paleBefore - paleAfter + vivid);
}

ContrastSearch SearchContrastStep(const std::function<double(double)>& score, PhotosProgressBar* progress)
{
    ContrastSearch search;
    double best = -1.0;
    bool searching = true;
    for (int i = 1; i <= 20; ++i) {
        if (searching) {
            const double value = score(i * 0.05);
            ++search.evaluatedSteps;
            if (value > best) {
                best = value;
                search.bestStep = i;
            } else {
                searching = false;  // a tie ends the rising run too
            }
        }
        // The host sees the whole scale whether or not the search already stopped.
        Report(progress, static_cast<int>(std::floor(i / 21.0 * 100.0)));
    }
    return search;
}

}  // namespace Orvanes::detail
