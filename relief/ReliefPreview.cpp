#include "PhotosRelief.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "ImageInput.h"

namespace Orvanes {
namespace {

// colour * opacity truncated toward zero. Host floats may be anything; beyond +-255 the
// saturating add gives the same pixels, and a NaN adds nothing instead of an undefined cast.
int TruncatedChannel(float value)
{
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::max(-255.0f, std::min(255.0f, std::trunc(value))));
}

}  // namespace

cv::Mat PhotosRelief::UpdatePreviewImage(const std::vector<LayerEntry>& stack, int baseCount, double width,
                                         double height, double newPixelSize)
{
    // The new size is worked out and the images re-sampled before anything is stored, so a
    // refused size leaves the object as it was.
    const double size = newPixelSize > 0.0 ? newPixelSize : pixelSize;
    const int cols = width != 0.0 ? detail::PixelCount(width, size, 1, "UpdatePreviewImage", "width") : widthPx;
    const int rows = height != 0.0 ? detail::PixelCount(height, size, 1, "UpdatePreviewImage", "height") : heightPx;
    // Re-sampling here keeps the grey image's own range: the stretch belongs to Init alone. A
    // new pixel count always re-samples, even when the three numbers sum to zero or less, so
    // the images never fall out of step with the working size.
    if (width + height + newPixelSize > 0.0 || cols != widthPx || rows != heightPx) Resample(cols, rows, false);
    pixelSize = size;

    const auto stackSize = static_cast<long long>(stack.size());
    // A negative base count is treated as larger than any stack: nothing to render.
    if (baseCount < 0 || stackSize <= baseCount) {
        previewImage = cv::Mat::zeros(heightPx, widthPx, CV_8UC3);
        return previewImage;
    }
    const int levelCount = static_cast<int>(stackSize - baseCount);

    cv::Mat preview = cv::Mat::zeros(heightPx, widthPx, CV_8UC3);
    cv::Mat covered = cv::Mat::zeros(heightPx, widthPx, CV_32F);
    cv::Mat levelMask, bandMask;
    cv::Mat blocked(heightPx, widthPx, CV_32F);
    for (int i = 0; i < levelCount; ++i) {
        const LayerEntry& entry = stack[static_cast<size_t>(stackSize - 1 - i)];
        const double threshold = LevelThreshold(greyMin, greyMax, levelCount, levelCount - 1 - i);
        cv::inRange(greyImage, cv::Scalar(threshold), cv::Scalar(255.0), levelMask);
        // Pixels outside the level read as 2.0, beyond any opacity sum that still lets light through.
        blocked.setTo(cv::Scalar(2.0));
        covered.copyTo(blocked, levelMask);
        cv::inRange(blocked, cv::Scalar(0.0), cv::Scalar(1.0), bandMask);
        const float opacity = entry[3];
        const cv::Scalar colour(TruncatedChannel(entry[0] * opacity), TruncatedChannel(entry[1] * opacity),
                                TruncatedChannel(entry[2] * opacity));
        cv::add(preview, colour, preview, bandMask);
        cv::add(covered, cv::Scalar(opacity), covered, bandMask);
    }
    previewImage = preview;
    return previewImage;
}

}  // namespace Orvanes
