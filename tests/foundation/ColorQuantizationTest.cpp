#include <stdexcept>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "PhotosBase.h"

namespace {

using Orvanes::PhotosBase;

class ColorQuantization : public testing::Test {
protected:
    void SetUp() override { cv::theRNG().state = 20240611; }
    PhotosBase base;
};

TEST_F(ColorQuantization, KeepsAnImageOfExactlyKColours)
{
    cv::Mat image(6, 8, CV_8UC3, cv::Scalar(10, 200, 30));
    image(cv::Rect(0, 0, 3, 6)).setTo(cv::Scalar(250, 5, 90));
    cv::Mat centers;
    const cv::Mat result = base.ColorQuantization(image, 2, centers);
    EXPECT_EQ(cv::norm(result, image, cv::NORM_INF), 0.0);
    ASSERT_EQ(centers.type(), CV_8UC3);
    ASSERT_EQ(centers.size(), cv::Size(1, 2));
    const cv::Vec3b a = centers.at<cv::Vec3b>(0), b = centers.at<cv::Vec3b>(1);
    EXPECT_TRUE((a == cv::Vec3b(10, 200, 30) && b == cv::Vec3b(250, 5, 90)) ||
                (b == cv::Vec3b(10, 200, 30) && a == cv::Vec3b(250, 5, 90)));
}

TEST_F(ColorQuantization, OneClusterPaintsTheRoundedMean)
{
    // Means 10.5 (halfway: rounds to even), 20.25 and 99.75.
    cv::Mat image(2, 2, CV_8UC3);
    image.at<cv::Vec3b>(0, 0) = cv::Vec3b(10, 20, 99);
    image.at<cv::Vec3b>(0, 1) = cv::Vec3b(11, 20, 100);
    image.at<cv::Vec3b>(1, 0) = cv::Vec3b(10, 21, 100);
    image.at<cv::Vec3b>(1, 1) = cv::Vec3b(11, 20, 100);
    cv::Mat centers;
    const cv::Mat result = base.ColorQuantization(image, 1, centers);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(result.at<cv::Vec3b>(y, x), cv::Vec3b(10, 20, 100));
}

TEST_F(ColorQuantization, GreyImagesGetGreyCentres)
{
    cv::Mat image(4, 5, CV_8UC1, cv::Scalar(40));
    image.row(0).setTo(220);
    cv::Mat centers;
    const cv::Mat result = base.ColorQuantization(image, 2, centers);
    EXPECT_EQ(centers.type(), CV_8UC1);
    EXPECT_EQ(result.type(), CV_8UC1);
    EXPECT_EQ(cv::norm(result, image, cv::NORM_INF), 0.0);
}

TEST_F(ColorQuantization, OtherChannelCountsClusterButPaintNothing)
{
    cv::Mat image(3, 3, CV_8UC4, cv::Scalar(1, 2, 3, 4));
    cv::Mat centers;
    const cv::Mat result = base.ColorQuantization(image, 1, centers);
    EXPECT_EQ(result.type(), CV_8UC4);
    EXPECT_EQ(result.size(), image.size());
    EXPECT_EQ(cv::countNonZero(result.reshape(1)), 0);
    EXPECT_EQ(centers.at<cv::Vec4b>(0), cv::Vec4b(1, 2, 3, 4));
}

TEST_F(ColorQuantization, EmptyImageLeavesCentresAlone)
{
    cv::Mat centers(1, 1, CV_8UC3, cv::Scalar(7, 8, 9));
    EXPECT_TRUE(base.ColorQuantization(cv::Mat(), 3, centers).empty());
    EXPECT_EQ(centers.at<cv::Vec3b>(0), cv::Vec3b(7, 8, 9));
}

TEST_F(ColorQuantization, RejectsWhatItCannotRepaint)
{
    cv::Mat centers;
    EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_16UC3, cv::Scalar::all(1)), 1, centers), std::invalid_argument);
    EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(1)), 5, centers), cv::Exception);
    EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(1)), 0, centers), cv::Exception);
}

}  // namespace
