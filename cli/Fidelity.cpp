#include "Fidelity.h"

#include <algorithm>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace orvane_cli {

namespace {

// The error at which the heat map saturates: far beyond any difference a viewer would accept.
constexpr double kHottest = 40.0;

}  // namespace

ColourError MeasureColourError(const cv::Mat& errors, const cv::Mat& keep)
{
    std::vector<float> counted;
    for (int r = 0; r < errors.rows; ++r)
        for (int c = 0; c < errors.cols; ++c)
            if (keep.empty() || keep.at<uint8_t>(r, c) != 0) counted.push_back(errors.at<float>(r, c));
    ColourError error;
    if (counted.empty()) return error;
    double sum = 0.0;
    for (float e : counted) sum += e;
    error.mean = sum / static_cast<double>(counted.size());
    const auto at = counted.begin() + static_cast<long>((counted.size() - 1) * 95 / 100);
    std::nth_element(counted.begin(), at, counted.end());
    error.p95 = *at;
    return error;
}

cv::Mat FidelityImage(const cv::Mat& photo, const cv::Mat& preview, const cv::Mat& errors)
{
    cv::Mat scaled, heat, sideBySide;
    errors.convertTo(scaled, CV_8U, 255.0 / kHottest);
    cv::applyColorMap(scaled, heat, cv::COLORMAP_INFERNO);
    cv::hconcat(std::vector<cv::Mat>{photo, preview, heat}, sideBySide);
    return sideBySide;
}

}  // namespace orvane_cli
