#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "PhotosBase.h"

namespace Orvanes {

cv::Mat PhotosBase::ColorQuantization(cv::Mat image, int k, cv::Mat& centers) const
{
    if (image.empty()) return image;
    // The repaint copies centre bytes into pixels; any other depth would come back as garbage.
    if (image.dims > 2 || image.depth() != CV_8U)
        throw std::invalid_argument("ColorQuantization: expects an 8-bit image, got type " +
                                    std::to_string(image.type()));
    const size_t pixelCount = image.total();
    if (pixelCount > static_cast<size_t>(std::numeric_limits<int>::max()))
        throw std::length_error("ColorQuantization: " + std::to_string(pixelCount) +
                                " pixels exceed the sample count k-means takes");
    const int channels = image.channels();
    const int rows = image.rows, cols = image.cols;

    // One sample per pixel in row-major order, one float column per channel.
    cv::Mat samples;
    image.clone().reshape(1, static_cast<int>(pixelCount)).convertTo(samples, CV_32F);

    cv::Mat labels;
    cv::kmeans(samples, k, labels, cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 5, 5.0), 3,
               cv::KMEANS_PP_CENTERS, centers);
    // Rounded to the nearest integer and saturated, as the image library converts.
    centers.reshape(channels, centers.rows).convertTo(centers, CV_8U);

    cv::Mat result = cv::Mat::zeros(rows, cols, image.type());
    if (channels != 1 && channels != 3) return result;
    const int* label = labels.ptr<int>();
    const uint8_t* palette = centers.ptr<uint8_t>();
    const size_t pixelBytes = static_cast<size_t>(channels);
    for (int y = 0; y < rows; ++y) {
        uint8_t* out = result.ptr<uint8_t>(y);
        for (int x = 0; x < cols; ++x, ++label, out += pixelBytes)
            std::memcpy(out, palette + static_cast<size_t>(*label) * pixelBytes, pixelBytes);
    }
    return result;
}

}  // namespace Orvanes
