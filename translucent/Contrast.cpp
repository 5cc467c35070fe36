#include "PhotosTranslucent.h"

#include "ContrastCurve.h"

namespace Orvanes {

cv::Mat PhotosTranslucent::SetContrastBGR(cv::Mat image, double contrastArg, double brightnessArg) const
{
    CV_Assert(image.type() == CV_8UC3);
    // Each channel turns about its own mean: the same as splitting, adjusting and merging.
    return detail::ApplyContrast(image, contrastArg, brightnessArg);
}

}  // namespace Orvanes
