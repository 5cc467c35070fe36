#include "PhotosTranslucent.h"

#include "ContrastCurve.h"

namespace Orvanes {

cv::Mat PhotosTranslucent::SetContrastGray(cv::Mat channel, double contrastArg, double brightnessArg) const
{
    CV_Assert(channel.type() == CV_8UC1);
    return detail::ApplyContrast(channel, contrastArg, brightnessArg);
}

cv::Mat PhotosTranslucent::SetContrastBGR(cv::Mat image, double contrastArg, double brightnessArg) const
{
    CV_Assert(image.type() == CV_8UC3);
    // Each channel turns about its own mean: the same as splitting, adjusting and merging.
    return detail::ApplyContrast(image, contrastArg, brightnessArg);
}

cv::Mat PhotosTranslucent::GetContrastResult(cv::Mat image, double contrastArg, double& score) const
{
    cv::Mat adjusted = SetContrastBGR(image, contrastArg, 0.0);
    score = detail::ContrastScorer(image).Score(contrastArg);
    return score >= 0.0 ? adjusted : image;
}

}  // namespace Orvanes
