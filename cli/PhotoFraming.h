// Which part of a photo is printed: the part --crop and --fit choose, less the pixels its
// transparency or a --mask leaves out. The library takes a plain picture, so a framed photo
// reaches it as a new PNG, and the pixels left out travel beside it as a keep mask.
#pragma once
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "Arguments.h"
#include "CommandSupport.h"

namespace orvane_cli {

struct FramedPhoto {
    ImageFile photo;  // the photo as given when nothing is framed or left out, else the framed picture
    cv::Mat keep;     // 8-bit, photo's size: 0 where nothing above the base is printed; empty keeps all
    std::string warning;  // one line for standard error once every check has passed, or empty
};

// --crop, --fit, --mask and --background, for the option tables of the photo commands.
std::vector<OptionSpec> FramingOptions();

// Applies those options to the photo. Throws UsageError for a crop outside the photo, a mask
// of another size, a mask with --background keep, nothing left to print, or a working image
// more than 16 times the photo's pixels either way; has a warning when
// the working image has more than four times the photo's pixels either way.
FramedPhoto FramePhoto(const Arguments& args, const ImageFile& photo, double defaultWidth, double defaultPixelSize);

// The keep mask at the working size (area-averaged, kept where at least half is kept); empty
// when every working pixel is kept.
cv::Mat WorkingKeep(const cv::Mat& keep, cv::Size working);

// The preview with the pixels keep leaves out painted as a grey and white checkerboard of
// 8-pixel squares; a copy, since the library keeps the preview it returned.
cv::Mat PaintLeftOut(const cv::Mat& preview, const cv::Mat& keep);

}  // namespace orvane_cli
