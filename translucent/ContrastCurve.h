// The contrast curve of one 8-bit channel, the score that rates a contrast strength on a
// photograph, and the search over strengths that the automatic contrast runs.
#pragma once
#include <array>
#include <cstdint>
#include <functional>

#include <opencv2/core.hpp>

#include "OrvaneMesh.h"

namespace Orvanes::detail {

// Value v of a channel with mean m becomes (v - (1 - b) m) k + (1 + b) m with
// k = tan((44 c + 45) / 180 * 3.1416), evaluated in single precision, clamped to 0..255 and
// rounded to the nearest integer (halves to even), as a whole-image float pipeline would.
std::array<uint8_t, 256> ContrastTable(double mean, double contrast, double brightness);

// The curve applied to every channel of an 8-bit image (1 to 4 channels), each channel about
// its own mean. Returns a new image; the input is only read.
cv::Mat ApplyContrast(const cv::Mat& image, double contrast, double brightness);

// Rates contrast strengths on one BGR image: the pale, bright pixels the adjustment removes
// plus the pixels it makes clearly more saturated. What does not depend on the strength (the
// channel means, the input's pale count) is computed once at construction.
class ContrastScorer {
public:
    // image: 8-bit BGR, shared, not copied; it must outlive the scorer.
    explicit ContrastScorer(const cv::Mat& image);
    // paleBefore - paleAfter + vivid for the image adjusted with strength contrast and
    // brightness 0, counted in full-range HSV.
    double Score(double contrast) const;

private:
    cv::Mat image;
    cv::Mat saturationBefore;  // full-range HSV saturation of every input pixel
    cv::Scalar means;
    int64_t paleBefore = 0;
};

struct ContrastSearch {
    int bestStep = 0;        // strength bestStep * 0.05
    int evaluatedSteps = 0;  // scores computed before the search stopped
};

// Walks the strengths 0.05, 0.10, ... 1.00 while the score strictly rises and keeps the last
// rising step. Reports floor(i / 21 * 100) after each of the 20 steps, evaluated or not.
ContrastSearch SearchContrastStep(const std::function<double(double)>& score, PhotosProgressBar* progress);

}  // namespace Orvanes::detail
