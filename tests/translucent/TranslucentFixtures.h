// Cards, photographs and models the translucent tests build in code.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "PhotosTranslucent.h"
#include "RecordingProgress.h"

namespace orvane_test {

// 16 x 64 cells of 10 x 10 pixels, each a distinct colour spread over hue, saturation and value.
inline cv::Mat MakeCard()
{
    cv::Mat card(160, 640, CV_8UC3);
    card.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* yx) {
        const int row = yx[0] / 10, column = yx[1] / 10;
        p = cv::Vec3b(static_cast<uint8_t>(4 * column + 2), static_cast<uint8_t>(16 * row + 5),
                      static_cast<uint8_t>(250 - 3 * column));
    });
    return card;
}

// Smooth colour gradients with a dark and a pale patch: photo-like at any size.
inline cv::Mat MakePhoto(int cols, int rows)
{
    cv::Mat photo(rows, cols, CV_8UC3);
    photo.forEach<cv::Vec3b>([&](cv::Vec3b& p, const int* yx) {
        const int b = 255 * yx[1] / std::max(cols - 1, 1), g = 255 * yx[0] / std::max(rows - 1, 1);
        p = cv::Vec3b(static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(255 - (b + g) / 2));
    });
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

// A model of the test card and a photograph, built from encoded bytes.
inline Orvanes::PhotosTranslucent BuildModel(Orvanes::PhotosProgressBar* reporter = nullptr, double width = 40.0,
                                             double height = 30.0, const cv::Mat& photo = MakePhoto(40, 30),
                                             const cv::Mat& card = MakeCard())
{
    return Orvanes::PhotosTranslucent(Encode(card), Encode(photo), width, height, 1.0, reporter);
}

}  // namespace orvane_test
