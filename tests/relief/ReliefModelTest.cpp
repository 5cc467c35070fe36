#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "MeshChecks.h"
#include "PhotoMeshCreater.h"
#include "ReliefTestImages.h"

using Orvanes::LayerEntry;
using Orvanes::OrvaneMesh;
using Orvanes::PhotosRelief;
using orvane_test::EncodePng;

TEST(ReliefModel, DecodesAlphaAndGreyFilesToThreeChannels)
{
    cv::Mat rgba(10, 12, CV_8UC4, cv::Scalar(10, 20, 30, 128));
    const PhotosRelief fromRgba(EncodePng(rgba), 12, 10, 1, nullptr, {});
    EXPECT_EQ(fromRgba.SourceImage().type(), CV_8UC3);
    EXPECT_EQ(fromRgba.SourceImage().at<cv::Vec3b>(3, 3), cv::Vec3b(10, 20, 30));

    const PhotosRelief fromGrey(EncodePng(cv::Mat(10, 12, CV_8UC1, cv::Scalar(99))), 12, 10, 1, nullptr, {});
    EXPECT_EQ(fromGrey.SourceImage().at<cv::Vec3b>(0, 0), cv::Vec3b(99, 99, 99));
}

TEST(ReliefModel, WorkingSizeIsTheFlooredPixelCountAndGreyIsStretched)
{
    const cv::Mat bytes = EncodePng(orvane_test::MakeRings(64, 40));
    const PhotosRelief relief(bytes, 100.1, 50, 0.4, nullptr, orvane_test::BlackRedWhite());
    EXPECT_EQ(relief.WidthPx(), 250);
    EXPECT_EQ(relief.HeightPx(), 125);
    EXPECT_EQ(relief.GreyImage().size(), cv::Size(250, 125));
    EXPECT_EQ(relief.ColourImage().size(), cv::Size(250, 125));
    EXPECT_EQ(relief.GreyMin(), 0.0);
    EXPECT_EQ(relief.GreyMax(), 255.0);
}

TEST(ReliefModel, StretchMapsTheGreyRangeLinearlyOntoFullRange)
{
    cv::Mat image(1, 3, CV_8UC3);
    image.at<cv::Vec3b>(0, 0) = cv::Vec3b(50, 50, 50);
    image.at<cv::Vec3b>(0, 1) = cv::Vec3b(75, 75, 75);
    image.at<cv::Vec3b>(0, 2) = cv::Vec3b(150, 150, 150);
    const PhotosRelief relief(EncodePng(image), 3, 1, 1, nullptr, {});
    EXPECT_EQ(relief.GreyImage().at<uchar>(0, 0), 0);
    EXPECT_EQ(relief.GreyImage().at<uchar>(0, 1), 64);
    EXPECT_EQ(relief.GreyImage().at<uchar>(0, 2), 255);

    const PhotosRelief uniform(EncodePng(cv::Mat(4, 4, CV_8UC3, cv::Scalar(80, 80, 80))), 4, 4, 1, nullptr, {});
    EXPECT_EQ(uniform.GreyMin(), 80.0) << "a uniform picture keeps its grey";
    EXPECT_EQ(uniform.GreyMax(), 80.0);
}

TEST(ReliefModel, PaletteIsSortedByBlueGreenRed)
{
    const PhotosRelief relief(EncodePng(orvane_test::MakeRings(8, 8)), 8, 8, 1, nullptr, orvane_test::BlackRedWhite());
    ASSERT_EQ(relief.Palette().size(), 3u);
    EXPECT_EQ(relief.Palette()[0], LayerEntry(0, 0, 0, 1.0f));
    EXPECT_EQ(relief.Palette()[1], LayerEntry(0, 0, 255, 0.3f));
    EXPECT_EQ(relief.Palette()[2], LayerEntry(255, 255, 255, 0.125f));
}

TEST(ReliefModel, UnreadableInputsFailWithMessagesThatSaySo)
{
    const unsigned char junk[] = {1, 2, 3, 4, 5};
    try {
        PhotosRelief(cv::Mat(1, 5, CV_8U, const_cast<unsigned char*>(junk)), 10, 10, 1, nullptr, {});
        FAIL() << "junk decoded";
    } catch (const cv::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("could not be decoded"), std::string::npos) << e.what();
    }
    try {
        PhotosRelief(std::string("/nonexistent/photo.png"), 10, 10, 1, nullptr, {});
        FAIL() << "missing file read";
    } catch (const cv::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/photo.png"), std::string::npos) << e.what();
    }
    EXPECT_THROW(PhotosRelief(cv::Mat(), 10, 10, 1, nullptr, {}), cv::Exception);
}

TEST(ReliefModel, SizesWithoutPixelsAreRefusedBeforeAnyResampling)
{
    const cv::Mat bytes = EncodePng(orvane_test::MakeRings(8, 8));
    EXPECT_THROW(PhotosRelief(bytes, 0.5, 10, 1, nullptr, {}), std::invalid_argument);
    EXPECT_THROW(PhotosRelief(bytes, 10, 10, 0, nullptr, {}), std::invalid_argument);
    EXPECT_THROW(PhotosRelief(bytes, 10, 10, -1, nullptr, {}), std::invalid_argument);
    EXPECT_THROW(PhotosRelief(bytes, 1e300, 10, 1e-300, nullptr, {}), std::invalid_argument);
    EXPECT_THROW(PhotosRelief(bytes, std::nan(""), 10, 1, nullptr, {}), std::invalid_argument);
}

TEST(ReliefModel, GetMeshIsTheHeightMapOfTheGreyImageAtTheRequestedLevels)
{
    PhotosRelief relief(EncodePng(orvane_test::MakeRings(30, 20)), 30, 20, 1, nullptr, {});
    const OrvaneMesh mesh = relief.GetMesh(2, 10, 0.2, 0.6);
    const OrvaneMesh expected =
        Orvanes::PhotoMeshCreater(nullptr).CreateMeshByHeightMap(relief.GreyImage(), 0.2, 1.0, 8, 1.0, 0.0, false);
    ASSERT_EQ(mesh.vertices.size(), expected.vertices.size());
    EXPECT_EQ(std::memcmp(mesh.vertices.data(), expected.vertices.data(), mesh.vertices.size() * 12), 0);
    EXPECT_TRUE(mesh.faces == expected.faces);
    orvane_test::ExpectClosedAndOutward(mesh);
}

TEST(ReliefModel, CopiesKeepTheirPreviewWhenTheOriginalRendersAgain)
{
    PhotosRelief relief(EncodePng(orvane_test::MakeRings(16, 12)), 16, 12, 1, nullptr, orvane_test::BlackRedWhite());
    const std::vector<LayerEntry> stack(4, LayerEntry(0, 0, 255, 1.0f));
    relief.UpdatePreviewImage(stack, 0, 0, 0, 0);
    const PhotosRelief copy = relief;
    const cv::Mat before = copy.PreviewImage().clone();
    relief.UpdatePreviewImage(std::vector<LayerEntry>(4, LayerEntry(255, 0, 0, 1.0f)), 0, 0, 0, 0);
    EXPECT_EQ(cv::norm(copy.PreviewImage(), before, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(relief.PreviewImage(), before, cv::NORM_INF), 0.0);

    PhotosRelief moved = std::move(relief);
    EXPECT_TRUE(relief.Palette().empty());  // NOLINT(bugprone-use-after-move): moved-from state is specified
    EXPECT_EQ(moved.Palette().size(), 3u);
}

TEST(ReliefModel, PalettesWithNaNStillSortSafely)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<LayerEntry> palette;
    for (int k = 0; k < 40; ++k)  // every third blue is NaN: 26 numbers, then 14 NaN
        palette.emplace_back(k % 3 ? float(k) : nan, float(40 - k), nan, 0.5f);
    const PhotosRelief relief(EncodePng(orvane_test::MakeRings(8, 8)), 8, 8, 1, nullptr, palette);
    ASSERT_EQ(relief.Palette().size(), 40u);
    for (size_t k = 1; k < 26; ++k) EXPECT_LT(relief.Palette()[k - 1][0], relief.Palette()[k][0]);
    for (size_t k = 26; k < 40; ++k) EXPECT_TRUE(std::isnan(relief.Palette()[k][0]));
}
