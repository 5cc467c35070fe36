#include <gtest/gtest.h>

#include "PhotosBase.h"

using Orvanes::PhotosBase;

TEST(Polyfit, RecoversExactPolynomialAndPrintsTheColumn)
{
    std::vector<cv::Point_<double>> points;
    for (double x : {0.0, 1.0, 2.0, 3.0}) points.emplace_back(x, 1 + 2 * x + 3 * x * x);
    testing::internal::CaptureStdout();
    const cv::Mat c = PhotosBase().Polyfit(points, 2);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(c.rows, 3);
    ASSERT_EQ(c.type(), CV_64F);
    // Normal equations lose a few digits to conditioning; 1e-9 is far above that, far below a wrong fit.
    EXPECT_NEAR(c.at<double>(0), 1.0, 1e-9);
    EXPECT_NEAR(c.at<double>(1), 2.0, 1e-9);
    EXPECT_NEAR(c.at<double>(2), 3.0, 1e-9);
    std::ostringstream expected;
    expected << c << std::endl;
    EXPECT_EQ(printed, expected.str());
}

TEST(Polyfit, LowDegreesGiveMeanAndLine)
{
    testing::internal::CaptureStdout();
    const std::vector<cv::Point_<double>> points{{0, 1}, {2, 5}, {4, 3}};
    EXPECT_NEAR(PhotosBase().Polyfit(points, 0).at<double>(0), 3.0, 1e-12);
    const cv::Mat line = PhotosBase().Polyfit({{1, 3}, {3, 7}}, 1);
    EXPECT_NEAR(line.at<double>(0), 1.0, 1e-12);
    EXPECT_NEAR(line.at<double>(1), 2.0, 1e-12);
    testing::internal::GetCapturedStdout();
}

TEST(Polyfit, SingularOrEmptySystemsGiveTheZeroPolynomial)
{
    testing::internal::CaptureStdout();
    const cv::Mat none = PhotosBase().Polyfit({}, 5);
    const cv::Mat few = PhotosBase().Polyfit({{20, 4}, {21, 5}}, 5);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(none.rows, 6);
    ASSERT_EQ(few.rows, 6);
    EXPECT_EQ(cv::countNonZero(none), 0);
    EXPECT_EQ(cv::countNonZero(few), 0);
}
