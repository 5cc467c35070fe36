// Image conversions, the polynomial fit, colour quantization and the binary STL stream.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "MeshChecks.h"
#include "ColourDifference.h"
#include "ImageInput.h"
#include "ImageLimits.h"
#include "PhotosBase.h"
#include "StlFacets.h"
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
    array.reset(PhotosBase::MatToArray(cv::Mat(5, 0, CV_8UC3), width, height, length));  // rows without pixels
    EXPECT_EQ(cv::Vec3i(width, height, length), cv::Vec3i(0, 5, 0));
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
    EXPECT_THROW(PhotosBase().Polyfit({{1, 2}}, std::numeric_limits<int>::max()), std::invalid_argument);
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

    // In ranges, the same bytes; a range past the faces, or one holding a bad face, is refused.
    OrvaneMesh three = Triangle(Face(2, 0, 1));
    three.faces = {Face(2, 0, 1), Face(0, 1, 3), Face(3, 2, 1)};
    std::string pieces(84 + 150, '?');
    Orvanes::WriteStlHeader(3, pieces.data());
    Orvanes::WriteStlFacets(three, 2, 3, pieces.data() + 184);
    Orvanes::WriteStlFacets(three, 0, 2, pieces.data() + 84);
    EXPECT_EQ(pieces, Serialise(three));
    EXPECT_THROW(Orvanes::WriteStlFacets(three, 2, 4, pieces.data()), std::invalid_argument);
    three.faces[1] = Face(0, 1, 4);
    EXPECT_THROW(Orvanes::WriteStlFacets(three, 1, 3, pieces.data()), std::out_of_range);
}

TEST(StlStream, RefusesSizesBeyondTheSignedCountAndIndicesOutsideTheVertexList)
{
    int size = -1;
    for (const Face& face : {Face(0, 1, 4), Face(0, 4, 2), Face(-1, 1, 2)})
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

// The published CIEDE2000 test pairs (Sharma, Wu and Dalal 2005): L, a, b twice, then the difference.
TEST(ColourDifference, Ciede2000MeetsThePublishedPairsBothWaysRound)
{
    const double pairs[34][7] = {
        {50, 2.6772, -79.7751, 50, 0, -82.7485, 2.0425}, {50, 3.1571, -77.2803, 50, 0, -82.7485, 2.8615},
        {50, 2.8361, -74.02, 50, 0, -82.7485, 3.4412}, {50, -1.3802, -84.2814, 50, 0, -82.7485, 1},
        {50, -1.1848, -84.8006, 50, 0, -82.7485, 1}, {50, -0.9009, -85.5211, 50, 0, -82.7485, 1},
        {50, 0, 0, 50, -1, 2, 2.3669}, {50, -1, 2, 50, 0, 0, 2.3669}, {50, 2.49, -0.001, 50, -2.49, 0.0009, 7.1792},
        {50, 2.49, -0.001, 50, -2.49, 0.001, 7.1792}, {50, 2.49, -0.001, 50, -2.49, 0.0011, 7.2195},
        {50, 2.49, -0.001, 50, -2.49, 0.0012, 7.2195}, {50, -0.001, 2.49, 50, 0.0009, -2.49, 4.8045},
        {50, -0.001, 2.49, 50, 0.001, -2.49, 4.8045}, {50, -0.001, 2.49, 50, 0.0011, -2.49, 4.7461},
        {50, 2.5, 0, 50, 0, -2.5, 4.3065}, {50, 2.5, 0, 73, 25, -18, 27.1492}, {50, 2.5, 0, 61, -5, 29, 22.8977},
        {50, 2.5, 0, 56, -27, -3, 31.903}, {50, 2.5, 0, 58, 24, 15, 19.4535}, {50, 2.5, 0, 50, 3.1736, 0.5854, 1},
        {50, 2.5, 0, 50, 3.2972, 0, 1}, {50, 2.5, 0, 50, 1.8634, 0.5757, 1}, {50, 2.5, 0, 50, 3.2592, 0.335, 1},
        {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
        {63.0109, -31.0961, -5.8663, 62.8187, -29.7946, -4.0864, 1.263},
        {61.2901, 3.7196, -5.3901, 61.4292, 2.248, -4.962, 1.8731}, {35.0831, -44.1164, 3.7933, 35.0232, -40.0716, 1.5901, 1.8645},
        {22.7233, 20.0904, -46.694, 23.0331, 14.973, -42.5619, 2.0373}, {36.4612, 47.858, 18.3852, 36.2715, 50.5065, 21.2231, 1.4146},
        {90.8027, -2.0831, 1.441, 91.1528, -1.6435, 0.0447, 1.4441}, {90.9257, -0.5406, -0.9208, 88.6381, -0.8985, -0.7239, 1.5381},
        {6.7747, -0.2908, -2.4247, 5.8714, -0.0985, -2.2286, 0.6377}, {2.0776, 0.0795, -1.135, 0.9033, -0.0636, -0.5514, 0.9082}};
    for (const auto& p : pairs) {
        EXPECT_NEAR(Orvanes::Ciede2000({p[0], p[1], p[2]}, {p[3], p[4], p[5]}), p[6], 5e-5) << p[0] << " " << p[1];
        EXPECT_NEAR(Orvanes::Ciede2000({p[3], p[4], p[5]}, {p[0], p[1], p[2]}), p[6], 5e-5);
    }
    // sRGB to CIELAB: white is L 100 with no colour, pure red the textbook 53.24, 80.09, 67.20.
    const cv::Mat bgr = (cv::Mat_<cv::Vec3b>(1, 3) << cv::Vec3b::all(255), cv::Vec3b(0, 0, 255), cv::Vec3b::all(0));
    const cv::Mat lab = Orvanes::BgrToLab(bgr);
    EXPECT_LT(cv::norm(lab.at<cv::Vec3f>(0, 0) - cv::Vec3f(100, 0, 0)), 1e-3);
    EXPECT_LT(cv::norm(lab.at<cv::Vec3f>(0, 1) - cv::Vec3f(53.24f, 80.09f, 67.20f)), 0.02);
    cv::Mat reversed;
    cv::flip(bgr, reversed, 1);  // white against black both ways: 100; red against itself: 0
    EXPECT_LT(cv::norm(Orvanes::ColourErrorMap(bgr, reversed), cv::Mat((cv::Mat_<float>(1, 3) << 100, 0, 100))), 1e-3);
}

TEST(ImageLimits, HeadersGiveTheSizeBeforeDecodingAndBombsAreRefused)
{
    const cv::Mat image(5, 7, CV_8UC3, cv::Scalar(10, 200, 30));
    for (const char* format : {".png", ".jpg", ".bmp", ".tiff", ".webp", ".ppm"}) {
        std::vector<uchar> bytes;
        ASSERT_TRUE(cv::imencode(format, image, bytes));
        EXPECT_EQ(Orvanes::DeclaredImageSize(cv::Mat(bytes)), cv::Size(7, 5)) << format;
        EXPECT_TRUE(Orvanes::DeclaredImageSize(cv::Mat(bytes).rowRange(0, 4)).empty()) << format << " cut short";
    }
    // A JPEG cut inside its frame header: the size is not read past the end.
    std::vector<uchar> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", image, jpeg));
    const uchar frameMarker[] = {0xFF, 0xC0};
    const auto frame = std::search(jpeg.begin(), jpeg.end(), frameMarker, frameMarker + 2) - jpeg.begin();
    EXPECT_TRUE(Orvanes::DeclaredImageSize(cv::Mat(jpeg).rowRange(0, int(frame) + 8)).empty());
    EXPECT_EQ(Orvanes::DeclaredImageSize(cv::Mat(jpeg).rowRange(0, int(frame) + 9)), cv::Size(7, 5));
    // PNG headers claiming 30000 x 30000, 65536 x 65537 (wraps to 65536 in 32 bits), a side past 2^30.
    cv::Mat bomb = orvane_test::EncodePng(image).clone();
    const auto claim = [&bomb](uint32_t w, uint32_t h) {
        for (int k = 0; k < 4; ++k) bomb.at<uchar>(16 + k) = uchar(w >> (24 - 8 * k)), bomb.at<uchar>(20 + k) = uchar(h >> (24 - 8 * k));
        return bomb;
    };
    EXPECT_EQ(Orvanes::DeclaredImageSize(claim(30000, 30000)), cv::Size(30000, 30000));
    EXPECT_THROW(Orvanes::detail::DecodeColour(bomb, "test", "photo"), Orvanes::ImageTooLarge);
    EXPECT_THROW(Orvanes::detail::DecodeColour(claim(65536, 65537), "test", "photo"), Orvanes::ImageTooLarge);
    EXPECT_TRUE(Orvanes::DeclaredImageSize(claim((1u << 30) + 1, 5)).empty());
    Orvanes::SetMaxImagePixels(34);  // a host's own limit: 7 x 5 is one pixel too many
    EXPECT_THROW(Orvanes::detail::DecodeColour(orvane_test::EncodePng(image), "test", "photo"), Orvanes::ImageTooLarge);
    Orvanes::SetMaxImagePixels(35);
    EXPECT_EQ(Orvanes::detail::DecodeColour(orvane_test::EncodePng(image), "test", "photo").size(), image.size());
    Orvanes::SetMaxImagePixels(100'000'000);
}
