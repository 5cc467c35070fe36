#include <memory>
#include <numeric>
#include <stdexcept>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "PhotosBase.h"

using Orvanes::PhotosBase;

TEST(ImageConversions, ArrayToMatCopiesPackedPixelsInOrder)
{
    const unsigned char data[6] = {1, 2, 3, 4, 5, 6};
    const cv::Mat image = PhotosBase::ArrayToMat(data, 2, 1, 6);
    ASSERT_EQ(image.rows, 1);
    ASSERT_EQ(image.cols, 2);
    ASSERT_EQ(image.type(), CV_8UC3);
    EXPECT_EQ(image.at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
    EXPECT_EQ(image.at<cv::Vec3b>(0, 1), cv::Vec3b(4, 5, 6));
}

TEST(ImageConversions, ArrayToMatRefusesLengthsBeyondTheImageAndNullData)
{
    const unsigned char data[7] = {};
    EXPECT_THROW(PhotosBase::ArrayToMat(data, 2, 1, 7), std::invalid_argument);
    EXPECT_THROW(PhotosBase::ArrayToMat(nullptr, 2, 1, 6), std::invalid_argument);
    EXPECT_EQ(PhotosBase::ArrayToMat(nullptr, 2, 1, 0).cols, 2);
    // width * height * 3 overflows 32 bits here; the check must not wrap around.
    EXPECT_THROW(PhotosBase::ArrayToMat(data, 0x80000000u, 2, 7), std::invalid_argument);
}

TEST(ImageConversions, MatToArrayPacksRegionsWithoutParentGapsAndRoundTrips)
{
    cv::Mat parent(5, 7, CV_8UC3);
    cv::randu(parent, 0, 256);
    const cv::Mat region = parent(cv::Rect(2, 1, 3, 2));
    ASSERT_FALSE(region.isContinuous());
    int width = 0, height = 0, length = 0;
    std::unique_ptr<unsigned char[]> array(PhotosBase::MatToArray(region, width, height, length));
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(length, 18);
    const cv::Vec3b rowOneColumnZero = region.at<cv::Vec3b>(1, 0);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(array[9 + size_t(k)], rowOneColumnZero[k]);

    const cv::Mat back = PhotosBase::ArrayToMat(array.get(), unsigned(width), unsigned(height), unsigned(length));
    EXPECT_EQ(cv::norm(back, region, cv::NORM_INF), 0.0);
}

TEST(ImageConversions, MatToArrayOfAnEmptyImageIsEmptyAndOtherTypesAreRefused)
{
    int width = -1, height = -1, length = -1;
    for (const cv::Mat& empty : {cv::Mat(0, 0, CV_8UC3), cv::Mat()}) {
        std::unique_ptr<unsigned char[]> array(PhotosBase::MatToArray(empty, width, height, length));
        EXPECT_EQ(length, 0);
    }
    EXPECT_THROW(PhotosBase::MatToArray(cv::Mat(2, 2, CV_8UC1), width, height, length), std::invalid_argument);
    EXPECT_THROW(PhotosBase::MatToArray(cv::Mat(2, 2, CV_16UC3), width, height, length), std::invalid_argument);
}

TEST(ImageConversions, EigenMatrixEntryIsPixelAtSameRowAndColumn)
{
    cv::Mat image(3, 3, CV_8UC1);
    std::iota(image.begin<uchar>(), image.end<uchar>(), uchar(10));
    const Eigen::MatrixXf m = PhotosBase::CVMatToEigenMtrix(image);
    ASSERT_EQ(m.rows(), 3);
    ASSERT_EQ(m.cols(), 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(m(i, j), float(image.at<uchar>(i, j)));
    EXPECT_EQ(PhotosBase::CVMatToEigenMtrix(cv::Mat()).size(), 0);
    const Eigen::MatrixXf wide = PhotosBase::CVMatToEigenMtrix(cv::Mat(2, 3, CV_8UC1, cv::Scalar(7)));
    EXPECT_EQ(wide.rows(), 2);
    EXPECT_EQ(wide(1, 2), 7.0f);
}

TEST(ImageConversions, TensorIsColumnMajorAndRefusesOtherTypes)
{
    const cv::Mat image = (cv::Mat_<uchar>(2, 2) << 1, 2, 3, 4);
    const auto tensor = PhotosBase::CVMatToEigenTensor(image);
    ASSERT_EQ(tensor.dimension(0), 2);
    ASSERT_EQ(tensor.dimension(1), 2);
    ASSERT_EQ(tensor.dimension(2), 1);
    const double expected[4] = {1, 3, 2, 4};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tensor.data()[i], expected[i]);
    EXPECT_EQ(PhotosBase::CVMatToEigenTensor(cv::Mat()).size(), 0);
    EXPECT_THROW(PhotosBase::CVMatToEigenTensor(cv::Mat(2, 2, CV_8UC3)), std::invalid_argument);
}
