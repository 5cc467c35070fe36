// How far apart two colours look: CIEDE2000 in CIELAB, for judging a preview against its photo.
#pragma once
#include <opencv2/core.hpp>

#include "OrvaneExport.h"

namespace Orvanes {

// CIEDE2000 colour difference of two CIELAB colours (L 0..100), with kL = kC = kH = 1.
ORVANE_EXPORT double Ciede2000(const cv::Vec3d& lab1, const cv::Vec3d& lab2);

// 8-bit BGR (sRGB, D65 white) to CIELAB as 32-bit floats, L 0..100.
ORVANE_EXPORT cv::Mat BgrToLab(const cv::Mat& bgr);

// The CIEDE2000 difference of every pixel of two 8-bit BGR images of one size, as 32-bit
// floats. Throws cv::Exception for images of different sizes or types.
ORVANE_EXPORT cv::Mat ColourErrorMap(const cv::Mat& bgr1, const cv::Mat& bgr2);

}  // namespace Orvanes
