// How close a relief's preview comes to its photo: CIEDE2000 per pixel, summed up for the
// report and drawn as a heat map beside the photo and the preview.
#pragma once
#include <opencv2/core.hpp>

namespace orvane_cli {

struct ColourError {
    double mean = 0.0;
    double p95 = 0.0;  // 95th percentile
};

// Of a CIEDE2000 map, over the pixels keep marks (all when keep is empty); zeros for an empty map.
ColourError MeasureColourError(const cv::Mat& errors, const cv::Mat& keep);

// Photo, preview and heat map (0 black to 40 and more bright yellow) side by side.
cv::Mat FidelityImage(const cv::Mat& photo, const cv::Mat& preview, const cv::Mat& errors);

}  // namespace orvane_cli
