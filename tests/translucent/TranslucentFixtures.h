// Cards, photographs and reporters the translucent tests build in code.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "OrvaneMesh.h"
#include "PhotosTranslucent.h"
#include "RecordingProgress.h"

namespace orvane_test {

// A distinct colour per card cell, spread over hue, saturation and value.
inline cv::Vec3b CellColour(int row, int column)
{
    return cv::Vec3b(static_cast<uint8_t>(4 * column + 2), static_cast<uint8_t>(16 * row + 5),
                     static_cast<uint8_t>(250 - 3 * column));
}

// A card of 16 x 64 cells of cellCols x cellRows pixels, each painted with CellColour.
inline cv::Mat MakeCard(int cellCols = 10, int cellRows = 10)
{
    cv::Mat card(16 * cellRows, 64 * cellCols, CV_8UC3);
    for (int y = 0; y < card.rows; ++y)
        for (int x = 0; x < card.cols; ++x)
            card.at<cv::Vec3b>(y, x) = CellColour(y / cellRows, x / cellCols);
    return card;
}

// Smooth colour gradients with a few flat patches: photo-like at any size.
inline cv::Mat MakePhoto(int cols, int rows)
{
    cv::Mat photo(rows, cols, CV_8UC3);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const int b = 255 * x / std::max(cols - 1, 1);
            const int g = 255 * y / std::max(rows - 1, 1);
            const int r = (b + g) / 2;
            photo.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(b), static_cast<uint8_t>(g),
                                                  static_cast<uint8_t>(255 - r));
        }
    cv::rectangle(photo, cv::Rect(0, 0, cols / 4, rows / 3), cv::Scalar(20, 20, 20), cv::FILLED);
    cv::rectangle(photo, cv::Rect(cols / 2, rows / 2, cols / 4, rows / 3), cv::Scalar(240, 245, 250), cv::FILLED);
    return photo;
}

inline cv::Mat Encode(const cv::Mat& image)
{
    std::vector<uint8_t> bytes;
    cv::imencode(".png", image, bytes);
    return cv::Mat(bytes, true).reshape(1, 1);
}

using RecordingReporter = RecordingProgress;

}  // namespace orvane_test
