// Pictures and palettes shared by the relief tests, built in code.
#pragma once
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "PhotosRelief.h"

namespace orvane_test {

inline cv::Mat EncodePng(const cv::Mat& image)
{
    std::vector<uchar> bytes;
    cv::imencode(".png", image, bytes);
    return cv::Mat(bytes, true).reshape(1, 1);
}

// Concentric rings of grey on a mid background: strong edges at a few known grey levels.
inline cv::Mat MakeRings(int cols, int rows)
{
    cv::Mat image(rows, cols, CV_8UC3, cv::Scalar(60, 60, 60));
    const cv::Point centre(cols / 2, rows / 2);
    const int radius = std::min(cols, rows) / 2;
    const int greys[] = {200, 120, 230, 90};
    for (int i = 0; i < 4; ++i) {
        const int g = greys[i];
        cv::Mat mask = cv::Mat::zeros(rows, cols, CV_8U);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const int dx = c - centre.x, dy = r - centre.y;
                if (dx * dx + dy * dy <= (radius * (4 - i) / 4) * (radius * (4 - i) / 4)) mask.at<uchar>(r, c) = 255;
            }
        image.setTo(cv::Scalar(g, g, g), mask);
    }
    return image;
}

inline std::vector<Orvanes::LayerEntry> BlackRedWhite()
{
    return {Orvanes::LayerEntry(255, 255, 255, 0.125f), Orvanes::LayerEntry(0, 0, 0, 1.0f),
            Orvanes::LayerEntry(0, 0, 255, 0.3f)};
}

}  // namespace orvane_test
