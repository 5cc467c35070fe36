#include <stdexcept>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "PhotosBase.h"

namespace {

// Same size, type and bytes; cv::norm throws on a size or type mismatch.
bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return cv::norm(a, b, cv::NORM_INF) == 0.0;
}

class ColorQuantization : public testing::Test {
protected:
    void SetUp() override { cv::theRNG().state = 20240611; }
    Orvanes::PhotosBase base;
    cv::Mat centers;
};

TEST_F(ColorQuantization, AnImageOfKColoursComesBackAsItWasWithThoseColoursAsCentres)
{
    cv::Mat colour(6, 8, CV_8UC3, cv::Scalar(10, 200, 30)), grey(4, 5, CV_8UC1, cv::Scalar(40));
    colour(cv::Rect(0, 0, 3, 6)).setTo(cv::Scalar(250, 5, 90));
    grey.row(0).setTo(220);
    for (const cv::Mat& image : {colour, grey}) {
        SCOPED_TRACE(testing::Message() << image.channels() << " channels");
        EXPECT_TRUE(Same(base.ColorQuantization(image, 2, centers), image));
        ASSERT_TRUE(centers.type() == image.type() && centers.size() == cv::Size(1, 2));
        const cv::Mat first = image.row(0).col(0), last = image.row(image.rows - 1).col(image.cols - 1);
        EXPECT_TRUE((Same(centers.row(0), first) && Same(centers.row(1), last)) ||
                    (Same(centers.row(0), last) && Same(centers.row(1), first)));
    }
}

TEST_F(ColorQuantization, OneClusterPaintsTheRoundedMean)
{
    // Means 10.5 (halfway: rounds to even), 20.25 and 99.75.
    const cv::Mat image = (cv::Mat_<cv::Vec3b>(2, 2) << cv::Vec3b(10, 20, 99), cv::Vec3b(11, 20, 100),
                           cv::Vec3b(10, 21, 100), cv::Vec3b(11, 20, 100));
    EXPECT_TRUE(Same(base.ColorQuantization(image, 1, centers), cv::Mat(2, 2, CV_8UC3, cv::Scalar(10, 20, 100))));
}

TEST_F(ColorQuantization, OtherChannelCountsPaintNothingAndBadArgumentsThrow)
{
    // Four channels cluster but paint nothing: the repaint knows grey and BGR only.
    const cv::Mat fourChannels(3, 3, CV_8UC4, cv::Scalar(1, 2, 3, 4));
    EXPECT_TRUE(Same(base.ColorQuantization(fourChannels, 1, centers), cv::Mat::zeros(3, 3, CV_8UC4)));
    EXPECT_EQ(centers.at<cv::Vec4b>(0), cv::Vec4b(1, 2, 3, 4));
    // An empty image leaves the centres alone.
    centers = cv::Mat(1, 1, CV_8UC3, cv::Scalar(7, 8, 9));
    EXPECT_TRUE(base.ColorQuantization(cv::Mat(), 3, centers).empty());
    EXPECT_EQ(centers.at<cv::Vec3b>(0), cv::Vec3b(7, 8, 9));
    // Other depths, and more clusters than pixels or none, are refused.
    EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_16UC3, cv::Scalar::all(1)), 1, centers), std::invalid_argument);
    EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(1)), 5, centers), cv::Exception);
    EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(1)), 0, centers), cv::Exception);
}

}  // namespace
