// Pictures every suite builds in code: ramps, rings, a colour card and a photo-like gradient,
// their encoded bytes, and an exact image comparison.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace orvane_test {

// Column c has grey 255 * c / (cols - 1).
inline cv::Mat MakeRamp(int cols, int rows)
{
    cv::Mat ramp(rows, cols, CV_8UC1);
    ramp.forEach<uint8_t>([&](uint8_t& p, const int* yx) { p = static_cast<uint8_t>(255 * yx[1] / std::max(cols - 1, 1)); });
    return ramp;
}

// Concentric discs of grey 200, 120, 230, 90 (outermost first) on grey 60: strong edges at a
// few known grey levels.
inline cv::Mat MakeRings(int cols, int rows)
{
    cv::Mat image(rows, cols, CV_8UC3, cv::Scalar::all(60));
    const int greys[] = {200, 120, 230, 90};
    for (int i = 0; i < 4; ++i)
        cv::circle(image, {cols / 2, rows / 2}, std::min(cols, rows) / 2 * (4 - i) / 4, cv::Scalar::all(greys[i]), cv::FILLED);
    return image;
}

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

// A whole PNG file as one row of bytes, the form the models decode.
inline cv::Mat EncodePng(const cv::Mat& image)
{
    std::vector<uint8_t> bytes;
    cv::imencode(".png", image, bytes);
    return cv::Mat(bytes, true).reshape(1, 1);
}

// The same bytes as the flat facades take them.
inline std::vector<char> PngChars(const cv::Mat& image)
{
    const cv::Mat bytes = EncodePng(image);
    return {bytes.ptr<char>(), bytes.ptr<char>() + bytes.total()};
}

// Same size, type and every value.
inline bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0.0);
}

}  // namespace orvane_test
