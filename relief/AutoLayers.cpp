#include "PhotosRelief.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include <opencv2/imgproc.hpp>

namespace Orvanes {
namespace {

const LayerEntry kBlack(0.0f, 0.0f, 0.0f, 1.0f);
const LayerEntry kWhite(255.0f, 255.0f, 255.0f, 0.125f);

constexpr int kDegree = 5;
constexpr int kCandidateCount = 6;

// Counts derived from real-valued band edges may be NaN or far out of range for degenerate
// pictures; saturate instead of converting out of range, which would be undefined.
int SaturatedInt(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

void Append(std::vector<LayerEntry>& stack, long long count, const LayerEntry& entry)
{
    if (count > 0) stack.insert(stack.end(), static_cast<size_t>(count), entry);
}

void FallbackStack(std::vector<LayerEntry>& stack, int layerCount)
{
    stack.clear();
    const int blackCount = layerCount / 2;
    Append(stack, blackCount, kBlack);
    Append(stack, static_cast<long long>(layerCount) - blackCount, kWhite);
}

struct Peak {
    double grey = 0.0;
    double value = 0.0;
    int index = 0;
    bool present = false;
};

// Edge strength per pixel: |gx| where the signed horizontal derivative exceeds the signed
// vertical one, |gy| elsewhere, stretched so the strongest edge reads 255.
cv::Mat NormalisedGradient(const cv::Mat& grey)
{
    cv::Mat gx, gy, absX, absY, larger;
    cv::Sobel(grey, gx, CV_64F, 1, 0, 3, 1.0, 0.0, cv::BORDER_DEFAULT);
    cv::Sobel(grey, gy, CV_64F, 0, 1, 3, 1.0, 0.0, cv::BORDER_DEFAULT);
    cv::convertScaleAbs(gx, absX);
    cv::convertScaleAbs(gy, absY);
    cv::compare(gx, gy, larger, cv::CMP_GT);
    cv::Mat gradient = absY;
    absX.copyTo(gradient, larger);

    double largest = 0.0;
    cv::minMaxLoc(gradient, nullptr, &largest);
    cv::Mat normalised(gradient.size(), CV_8U, cv::Scalar(0));
    // A flat picture has no edges at all; 0 / 0 would only say so less plainly.
    if (largest <= 0.0) return normalised;
    const float divisor = static_cast<float>(largest);
    for (int r = 0; r < gradient.rows; ++r) {
        const uint8_t* in = gradient.ptr<uint8_t>(r);
        uint8_t* out = normalised.ptr<uint8_t>(r);
        for (int c = 0; c < gradient.cols; ++c) {
            float v = static_cast<float>(in[c]) / divisor;
            v = v * 255.0f;
            out[c] = cv::saturate_cast<uint8_t>(v);
        }
    }
    return normalised;
}

}  // namespace

void PhotosRelief::GetAutoLayerInfo(std::vector<LayerEntry>& stack, int baseCount, int layerCount)
{
    // The stack is allocated whole: an absurd count would ask for gigabytes before any check.
    // The base levels are laid before the relief's, so an absurd base count would do the same.
    if (layerCount > kMaxProposedLevels || baseCount > kMaxProposedLevels)
        throw std::invalid_argument("GetAutoLayerInfo: " + std::to_string(std::max(layerCount, baseCount)) +
                                    " levels exceed " + std::to_string(kMaxProposedLevels));
    stack.clear();
    const size_t paletteSize = palette.size();
    if (paletteSize == 0) return;
    if (paletteSize == 1) {
        Append(stack, layerCount, palette[0]);
        return;
    }
    const double span = greyMax - greyMin;
    const double reliefLevels = static_cast<double>(layerCount) - baseCount;

    const cv::Mat edges = NormalisedGradient(greyImage.clone());
    cv::Mat edgeMask;
    cv::inRange(edges, cv::Scalar(100), cv::Scalar(255), edgeMask);
    cv::Mat edgeGrey(greyImage.size(), greyImage.type(), cv::Scalar(255));
    greyImage.copyTo(edgeGrey, edgeMask);

    cv::Mat histogram;
    const int channels[] = {0};
    const int binCount[] = {256};
    const float binRange[] = {0.0f, 256.0f};
    const float* ranges[] = {binRange};
    cv::calcHist(&edgeGrey, 1, channels, cv::Mat(), histogram, 1, binCount, ranges, true, false);

    // Bin 255 collects every non-edge pixel, and the extremes carry clipping noise: only the
    // middle of the range speaks about where edges cluster.
    std::vector<cv::Point_<double>> samples;
    double smallestCount = 2147483647.0, largestCount = -2147483648.0;
    for (int g = 20; g <= 235; ++g) {
        const float count = histogram.at<float>(g);
        if (count > 0.0f) {
            samples.emplace_back(g, static_cast<double>(static_cast<int>(count)));
            smallestCount = std::min(smallestCount, static_cast<double>(count));
            largestCount = std::max(largestCount, static_cast<double>(count));
        }
    }
    const double countRange = largestCount - smallestCount;

    const cv::Mat coefficients = Polyfit(samples, kDegree);

    // Extrema of the fit: roots of its derivative, bracketed by the ends of the grey range.
    cv::Mat derivative(1, kDegree, CV_64F);
    for (int j = 1; j <= kDegree; ++j) derivative.at<double>(j - 1) = j * coefficients.at<double>(j);
    cv::Mat roots;
    cv::solvePoly(derivative, roots, 300);
    std::vector<double> candidates{1.0, 255.0};
    for (int r = 0; r < roots.rows * roots.cols; ++r) candidates.push_back(roots.at<cv::Vec2d>(r)[0]);
    candidates.resize(kCandidateCount, std::numeric_limits<double>::quiet_NaN());
    // A constant fit has no roots (NaN): order those last so the sort stays a strict ordering;
    // they never compare as a maximum.
    std::sort(candidates.begin(), candidates.end(), [](double a, double b) {
        if (std::isnan(a)) return false;
        if (std::isnan(b)) return true;
        return a < b;
    });

    cv::Mat powers(kCandidateCount, kDegree + 1, CV_64F);
    for (int i = 0; i < kCandidateCount; ++i)
        for (int j = 0; j <= kDegree; ++j) powers.at<double>(i, j) = std::pow(candidates[static_cast<size_t>(i)], static_cast<double>(j));
    const cv::Mat valueColumn = powers * coefficients;
    auto value = [&](int i) { return valueColumn.at<double>(i); };
    auto grey = [&](int i) { return candidates[static_cast<size_t>(i)]; };

    Peak best, second;
    for (int i = 1; i < kCandidateCount - 1; ++i) {
        if (!(value(i) + 1e-5 >= value(i - 1) && value(i) + 1e-5 >= value(i + 1))) continue;
        const Peak peak{grey(i), value(i), i, true};
        if (peak.value > best.value) {
            second = best;
            best = peak;
        } else if (peak.value > second.value) {
            second = peak;
        }
    }

    auto isolated = [&](const Peak& p) {
        return std::abs(grey(p.index) - grey(p.index - 1)) >= 2.0 &&
               std::abs(grey(p.index + 1) - grey(p.index)) >= 2.0;
    };
    if (best.present && second.present && best.grey > 0.0 && second.grey > 0.0) {
        if (!isolated(best) && isolated(second)) {
            best = second;
            second = Peak();
        }
        if (second.present) {
            const int i = second.index;
            const double right = std::abs((value(i + 1) - value(i)) / (grey(i) - grey(i + 1))) / countRange;
            const double left = std::abs((value(i - 1) - value(i)) / (grey(i) - grey(i - 1))) / countRange;
            const double steep = 0.000784313725490196;
            if (!(isolated(second) && right > steep && left > steep)) second = Peak();
        }
    }
    if (best.grey < 1.0 && second.grey < 1.0) {
        FallbackStack(stack, layerCount);
        return;
    }

    double lower = 0.0, upper = 0.0;
    if (best.grey > 0.0) {
        if (second.present) {
            lower = std::min(best.grey, second.grey);
            upper = std::max(best.grey, second.grey);
        } else {
            lower = best.grey;
        }
    }

    const int firstBand = SaturatedInt(std::round((lower - greyMin) / span * reliefLevels));
    const long long k1 = std::min(static_cast<long long>(firstBand) + baseCount, static_cast<long long>(baseCount) + 10);
    Append(stack, k1, palette[0]);

    if (upper > 0.0 && upper < 200.0 && paletteSize >= 3) {
        const double thirdBlue = palette[2][0];
        LayerEntry middle = palette[1];
        long long k2 = 0;
        if (lower > 85.0 && upper > thirdBlue) {
            double bound = upper;
            if (paletteSize >= 4) {
                middle = palette[2];
                bound = thirdBlue;
            }
            k2 = SaturatedInt(std::floor((bound - lower) / span * reliefLevels));
        } else if (upper > 128.0) {
            const long long filled = static_cast<long long>(stack.size());
            k2 = filled < layerCount ? (layerCount - filled) / 2 : 0;
        } else {
            k2 = SaturatedInt(std::floor((upper - lower) / span * reliefLevels));
        }
        Append(stack, k2, middle);
    }
    if (static_cast<long long>(stack.size()) < layerCount)
        Append(stack, layerCount - static_cast<long long>(stack.size()), palette.back());
}

}  // namespace Orvanes
