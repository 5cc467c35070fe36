#include <limits>

#include <gtest/gtest.h>

#include "ReliefTestImages.h"

using Orvanes::LayerEntry;
using Orvanes::PhotosRelief;

namespace {

// Left half black, right half white: one pixel reaches every level, the other only the lowest.
PhotosRelief HalfAndHalf()
{
    cv::Mat image(4, 8, CV_8UC3, cv::Scalar(0, 0, 0));
    image(cv::Rect(4, 0, 4, 4)).setTo(cv::Scalar(255, 255, 255));
    return PhotosRelief(orvane_test::EncodePng(image), 8, 4, 1, nullptr, {});
}

}  // namespace

TEST(ReliefPreview, StacksWithoutReliefLevelsRenderBlack)
{
    PhotosRelief relief = HalfAndHalf();
    const std::vector<LayerEntry> two(2, LayerEntry(255, 255, 255, 1.0f));
    for (int baseCount : {2, 3, -1}) {
        const cv::Mat preview = relief.UpdatePreviewImage(two, baseCount, 0, 0, 0);
        EXPECT_EQ(preview.size(), cv::Size(8, 4));
        EXPECT_EQ(preview.type(), CV_8UC3);
        EXPECT_EQ(cv::countNonZero(preview.reshape(1)), 0) << "baseCount " << baseCount;
    }
    EXPECT_EQ(cv::countNonZero(relief.UpdatePreviewImage({}, 0, 0, 0, 0).reshape(1)), 0);
}

TEST(ReliefPreview, OpaqueTopLevelStillLetsTheNextPaintAtExactlyFullCover)
{
    PhotosRelief relief = HalfAndHalf();
    const std::vector<LayerEntry> stack{LayerEntry(255, 0, 0, 1.0f), LayerEntry(0, 0, 255, 1.0f)};
    const cv::Mat preview = relief.UpdatePreviewImage(stack, 0, 0, 0, 0);
    EXPECT_EQ(preview.at<cv::Vec3b>(1, 6), cv::Vec3b(255, 0, 255)) << "reaches both levels";
    EXPECT_EQ(preview.at<cv::Vec3b>(1, 1), cv::Vec3b(255, 0, 0)) << "reaches only the lower level";
    EXPECT_EQ(relief.PreviewImage().data, preview.data);
}

TEST(ReliefPreview, TranslucentLevelsAddUntilTheLightIsUsedUp)
{
    PhotosRelief relief = HalfAndHalf();
    const std::vector<LayerEntry> nineWhite(9, LayerEntry(255, 255, 255, 0.125f));
    EXPECT_EQ(relief.UpdatePreviewImage(nineWhite, 0, 0, 0, 0).at<cv::Vec3b>(0, 7), cv::Vec3b(255, 255, 255));
    const std::vector<LayerEntry> fourWhite(4, LayerEntry(255, 255, 255, 0.125f));
    EXPECT_EQ(relief.UpdatePreviewImage(fourWhite, 0, 0, 0, 0).at<cv::Vec3b>(0, 7), cv::Vec3b(124, 124, 124));
    const std::vector<LayerEntry> faint{LayerEntry(7, 200, 3, 0.125f)};
    EXPECT_EQ(relief.UpdatePreviewImage(faint, 0, 0, 0, 0).at<cv::Vec3b>(0, 0), cv::Vec3b(0, 25, 0));
}

TEST(ReliefPreview, MoreLevelsThanGreyStepsCoverEveryPixel)
{
    cv::Mat image(3, 3, CV_8UC3, cv::Scalar(100, 100, 100));
    image.at<cv::Vec3b>(0, 0) = cv::Vec3b(102, 102, 102);
    PhotosRelief relief(orvane_test::EncodePng(image), 3, 3, 1, nullptr, {});
    relief.UpdatePreviewImage({}, 0, 0, 0, 0.5);  // re-sampling drops the stretch: grey spans 2
    const std::vector<LayerEntry> stack(5, LayerEntry(40, 40, 40, 0.1f));
    const cv::Mat preview = relief.UpdatePreviewImage(stack, 0, 0, 0, 0);
    EXPECT_EQ(cv::countNonZero(preview.reshape(1) != 20), 0) << "5 x floor(40 x 0.1) everywhere";
}

TEST(ReliefPreview, ResolutionChangesResampleWithoutTheStretch)
{
    PhotosRelief relief(orvane_test::EncodePng(orvane_test::MakeRings(40, 20)), 40, 20, 1, nullptr, {});
    relief.UpdatePreviewImage({}, 0, 0, 0, 0);
    EXPECT_EQ(relief.PixelSize(), 1.0);
    EXPECT_EQ(relief.WidthPx(), 40);

    relief.UpdatePreviewImage({}, 0, 0, 0, 0.5);
    EXPECT_EQ(relief.PixelSize(), 0.5);
    EXPECT_EQ(relief.WidthPx(), 40) << "pixel counts stay; only the pixel size and re-sampling change";
    EXPECT_EQ(relief.GreyMin(), 60.0);
    EXPECT_EQ(relief.GreyMax(), 230.0);

    const cv::Mat preview = relief.UpdatePreviewImage({LayerEntry(1, 1, 1, 1)}, 0, 30, 0, 0);
    EXPECT_EQ(relief.WidthPx(), 60);
    EXPECT_EQ(relief.HeightPx(), 20);
    EXPECT_EQ(preview.size(), cv::Size(60, 20));
    EXPECT_EQ(relief.GreyImage().size(), cv::Size(60, 20));
}

TEST(ReliefPreview, ColoursBeyondTheByteRangeSaturateAndNaNAddsNothing)
{
    PhotosRelief relief = HalfAndHalf();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<LayerEntry> stack{LayerEntry(1e30f, -1e30f, nan, 1.0f)};
    EXPECT_EQ(relief.UpdatePreviewImage(stack, 0, 0, 0, 0).at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 0));
}

TEST(ReliefPreview, RefusedSizesLeaveTheWorkingStateAsItWas)
{
    PhotosRelief relief = HalfAndHalf();
    const cv::Mat grey = relief.GreyImage();
    EXPECT_THROW(relief.UpdatePreviewImage({}, 0, 40, 1e-9, 0.5), std::invalid_argument);
    EXPECT_EQ(relief.PixelSize(), 1.0);
    EXPECT_EQ(relief.WidthPx(), 8);
    EXPECT_EQ(relief.GreyImage().data, grey.data);
    // Sizes that sum to zero or less still re-sample when they change the pixel count.
    relief.UpdatePreviewImage({}, 0, 12, 0, -20);
    EXPECT_EQ(relief.GreyImage().size(), cv::Size(12, 4));
    EXPECT_THROW(relief.GetMesh(std::numeric_limits<int>::min(), 1, 0.1, 0.0), std::invalid_argument);
}
