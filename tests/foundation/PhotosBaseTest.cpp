// Image conversions, the polynomial fit, colour quantization and the binary STL stream.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "MeshChecks.h"
#include "PhotosBase.h"
#include "TestImages.h"

using Orvanes::OrvaneMesh;
using Orvanes::PhotosBase;
using orvane_test::Same;

TEST(ImageConversions, PackRegionsWithoutParentGapsKeepRowsAndColumnsAndRefuseWhatDoesNotFit)
{
    cv::Mat parent(5, 7, CV_8UC3);
    cv::randu(parent, 0, 256);
    const cv::Mat region = parent(cv::Rect(2, 1, 3, 2));
    int width = 0, height = 0, length = 0;
    std::unique_ptr<unsigned char[]> array(PhotosBase::MatToArray(region, width, height, length));
    EXPECT_EQ(cv::Vec3i(width, height, length), cv::Vec3i(3, 2, 18));
    EXPECT_EQ(cv::Vec3b(&array[9]), region.at<cv::Vec3b>(1, 0)) << "row 1 at byte 9";
    EXPECT_TRUE(Same(PhotosBase::ArrayToMat(array.get(), 3, 2, 18), region));
    array.reset(PhotosBase::MatToArray(cv::Mat(), width, height, length));
    EXPECT_EQ(length, 0);
    for (int type : {CV_8UC1, CV_16UC3})
        EXPECT_THROW(PhotosBase::MatToArray(cv::Mat(2, 2, type), width, height, length), std::invalid_argument);
    const unsigned char data[7] = {};
    EXPECT_THROW(PhotosBase::ArrayToMat(data, 2, 1, 7), std::invalid_argument);
    EXPECT_THROW(PhotosBase::ArrayToMat(nullptr, 2, 1, 6), std::invalid_argument);
    EXPECT_EQ(PhotosBase::ArrayToMat(nullptr, 2, 1, 0).cols, 2);
    // width * height * 3 overflows 32 bits here; the check must not wrap around.
    EXPECT_THROW(PhotosBase::ArrayToMat(data, 0x80000000u, 2, 7), std::invalid_argument);

    const cv::Mat image = (cv::Mat_<uchar>(2, 3) << 10, 11, 12, 13, 14, 15);
    const Eigen::MatrixXf m = PhotosBase::CVMatToEigenMtrix(image);
    ASSERT_EQ(cv::Size(int(m.cols()), int(m.rows())), image.size());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m(i / 3, i % 3), float(image.at<uchar>(i / 3, i % 3)));
    const auto tensor = PhotosBase::CVMatToEigenTensor(image.colRange(0, 2));  // 10 11 / 13 14
    ASSERT_EQ(cv::Vec3i(int(tensor.dimension(0)), int(tensor.dimension(1)), int(tensor.dimension(2))), cv::Vec3i(2, 2, 1));
    EXPECT_EQ(cv::Vec4d(tensor.data()[0], tensor.data()[1], tensor.data()[2], tensor.data()[3]), cv::Vec4d(10, 13, 11, 14));
    EXPECT_EQ(PhotosBase::CVMatToEigenMtrix(cv::Mat()).size() + PhotosBase::CVMatToEigenTensor(cv::Mat()).size(), 0);
    EXPECT_THROW(PhotosBase::CVMatToEigenTensor(cv::Mat(2, 2, CV_8UC3)), std::invalid_argument);
}

TEST(Polyfit, FitsExactPolynomialsGivesZeroForSingularSystemsAndPrintsEachFit)
{
    const std::pair<std::vector<cv::Point2d>, std::vector<double>> cases[] = {
        {{{0, 1}, {1, 6}, {2, 17}, {3, 34}}, {1, 2, 3}}, {{{0, 1}, {2, 5}, {4, 3}}, {3}}, {{{1, 3}, {3, 7}}, {1, 2}},
        {{}, std::vector<double>(6, 0.0)}, {{{20, 4}, {21, 5}}, std::vector<double>(6, 0.0)}};
    std::ostringstream expected;
    testing::internal::CaptureStdout();
    for (const auto& [points, coefficients] : cases) {
        const cv::Mat fit = PhotosBase().Polyfit(points, int(coefficients.size()) - 1);
        expected << fit << std::endl;
        ASSERT_TRUE(fit.type() == CV_64F && fit.size() == cv::Size(1, int(coefficients.size()))) << fit;
        // Normal equations lose a few digits to conditioning; 1e-9 is far above that, far below a wrong fit.
        for (int k = 0; k < fit.rows; ++k) EXPECT_NEAR(fit.at<double>(k), coefficients[size_t(k)], 1e-9) << k;
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected.str());
}

TEST(ColorQuantization, KeepsImagesOfKColoursPaintsRoundedMeansAndRefusesBadArguments)
{
    cv::theRNG().state = 20240611;
    PhotosBase base;
    cv::Mat centers, colour(6, 8, CV_8UC3, cv::Scalar(10, 200, 30)), grey(4, 5, CV_8UC1, cv::Scalar(40));
    colour(cv::Rect(0, 0, 3, 6)).setTo(cv::Scalar(250, 5, 90));
    grey.row(0).setTo(220);
    for (const cv::Mat& image : {colour, grey}) {
        EXPECT_TRUE(Same(base.ColorQuantization(image, 2, centers), image));
        const cv::Mat first = image.row(0).col(0), last = image.row(image.rows - 1).col(image.cols - 1);
        EXPECT_TRUE((Same(centers.row(0), first) && Same(centers.row(1), last)) ||
                    (Same(centers.row(0), last) && Same(centers.row(1), first))) << image.channels() << " channels";
    }
    // Means 10.5 (halfway: rounds to even), 20.25 and 99.75.
    const cv::Mat four = (cv::Mat_<cv::Vec3b>(2, 2) << cv::Vec3b(10, 20, 99), cv::Vec3b(11, 20, 100),
                          cv::Vec3b(10, 21, 100), cv::Vec3b(11, 20, 100));
    EXPECT_TRUE(Same(base.ColorQuantization(four, 1, centers), cv::Mat(2, 2, CV_8UC3, cv::Scalar(10, 20, 100))));
    const cv::Mat kept = centers.clone();
    EXPECT_TRUE(base.ColorQuantization(cv::Mat(), 3, centers).empty() && Same(centers, kept)) << "centres kept";
    EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_16UC3), 1, centers), std::invalid_argument);
    for (int k : {5, 0}) EXPECT_THROW(base.ColorQuantization(cv::Mat(2, 2, CV_8UC3), k, centers), cv::Exception);
}

namespace {

using Face = Eigen::Matrix<int32_t, 3, 1>;

// The stream as bytes, once it holds exactly the facets its count declares; a Triangle's 4th vertex is unused.
std::string Serialise(OrvaneMesh mesh)
{
    int size = 0;
    const std::unique_ptr<const char[]> bytes(PhotosBase().GetSTLStream(std::move(mesh), size));
    orvane_test::StlFacetCount(bytes.get(), size);
    return std::string(bytes.get(), size_t(std::max(size, 0)));
}

OrvaneMesh Triangle(const Face& face) { return OrvaneMesh{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {9, 9, 9}}, {face}}; }

}  // namespace

TEST(StlStream, HoldsTheHeaderThenPerFacetUnitNormalCornersInFaceOrderAndZeroAttribute)
{
    const auto facet = [](const std::string& bytes) {  // normal and corners of the first facet
        std::array<float, 12> floats{};
        if (bytes.size() >= 134) std::memcpy(floats.data(), bytes.data() + 84, 48);
        return floats;
    };
    const std::string bytes = Serialise(Triangle(Face(2, 0, 1)));
    ASSERT_EQ(bytes.size(), 134u);
    EXPECT_EQ(bytes.substr(0, 84), ' ' + std::string(2, '\0') + std::string(77, ' ') + std::string("\1\0\0\0", 4));
    EXPECT_EQ(facet(bytes), (std::array<float, 12>{0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(bytes.substr(132), std::string(2, '\0'));
    EXPECT_EQ(facet(Serialise(Triangle(Face(0, 2, 1))))[2], -1.0f) << "the normal follows the winding";
    EXPECT_EQ(cv::Vec3f(facet(Serialise(Triangle(Face(0, 1, 1)))).data()), cv::Vec3f()) << "a degenerate facet's normal";
    EXPECT_EQ(Serialise(OrvaneMesh()).size(), 84u);
}

TEST(StlStream, RefusesSizesBeyondTheSignedCountAndIndicesOutsideTheVertexList)
{
    int size = -1;
    for (const Face& face : {Face(0, 1, 4), Face(-1, 1, 2)})
        EXPECT_THROW(PhotosBase().GetSTLStream(Triangle(face), size), std::out_of_range);
    // (2^31 - 1 - 84) / 50 = 42949671 faces still fit; one more does not.
    OrvaneMesh mesh = Triangle(Face(0, 1, 2));
    mesh.faces.resize(42949672, mesh.faces[0]);
    try {
        PhotosBase().GetSTLStream(std::move(mesh), size);
        FAIL() << "expected std::length_error";
    } catch (const std::length_error& e) {
        EXPECT_NE(std::string(e.what()).find("42949672"), std::string::npos) << e.what();
    }
}
