// Decoding of host images and working-size arithmetic shared by both models.
#pragma once
#include <string>

#include <opencv2/core.hpp>

namespace Orvanes::detail {

// Decodes a whole image file held as bytes into 8-bit BGR (alpha dropped, grey expanded).
// Throws cv::Exception naming who and what when the bytes are not a decodable image, so hosts
// that catch the image library's errors keep working.
cv::Mat DecodeColour(const cv::Mat& bytes, const std::string& who, const std::string& what);

// Reads an image file into 8-bit BGR; throws cv::Exception naming the path when it cannot.
cv::Mat ReadColour(const std::string& path, const std::string& who, const std::string& what);

// floor(length / pixelSize) as a pixel count. Throws std::invalid_argument when the count is
// below minimum, not a number, or beyond what an image dimension can hold.
int PixelCount(double length, double pixelSize, int minimum, const char* who, const char* what);

// Throws a cv::Exception whose message is exactly text (no source location banner).
[[noreturn]] void ThrowImageError(const std::string& text);

}  // namespace Orvanes::detail
