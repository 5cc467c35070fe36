#include <cstdlib>

#include <gtest/gtest.h>

#include "ReliefTestImages.h"

using Orvanes::LayerEntry;
using Orvanes::PhotosRelief;

namespace {

const LayerEntry kBlack(0, 0, 0, 1.0f);
const LayerEntry kWhite(255, 255, 255, 0.125f);

std::vector<LayerEntry> Propose(PhotosRelief& relief, int baseCount, int layerCount)
{
    std::vector<LayerEntry> stack{LayerEntry(1, 2, 3, 4)};
    testing::internal::CaptureStdout();
    relief.GetAutoLayerInfo(stack, baseCount, layerCount);
    testing::internal::GetCapturedStdout();
    return stack;
}

PhotosRelief FromImage(const cv::Mat& image, std::vector<LayerEntry> palette)
{
    return PhotosRelief(orvane_test::EncodePng(image), image.cols, image.rows, 1, nullptr, std::move(palette));
}

cv::Mat SamplePhoto()
{
    const char* dir = std::getenv("ORVANE_SAMPLE_DIR");
    return cv::imread(std::string(dir ? dir : "data") + "/chelsea.png", cv::IMREAD_COLOR);
}

}  // namespace

TEST(AutoLayer, SmallPalettesNeedNoAnalysis)
{
    PhotosRelief empty = FromImage(orvane_test::MakeRings(32, 32), {});
    EXPECT_TRUE(Propose(empty, 2, 12).empty());
    const LayerEntry red(0, 0, 255, 0.3f);
    PhotosRelief single = FromImage(orvane_test::MakeRings(32, 32), {red});
    const auto stack = Propose(single, 2, 12);
    ASSERT_EQ(stack.size(), 12u);
    for (const auto& entry : stack) EXPECT_EQ(entry, red);
}

TEST(AutoLayer, PicturesWithoutEdgesGetTheBlackThenWhiteFallback)
{
    PhotosRelief flat = FromImage(cv::Mat(20, 20, CV_8UC3, cv::Scalar(90, 90, 90)), {kWhite, LayerEntry(0, 0, 255, 0.3f)});
    const auto stack = Propose(flat, 0, 9);
    ASSERT_EQ(stack.size(), 9u);
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(stack[i], i < 4 ? kBlack : kWhite) << i;
    EXPECT_TRUE(Propose(flat, 0, 0).empty());
    EXPECT_TRUE(Propose(flat, 0, -3).empty());
}

TEST(AutoLayer, ProposalsAreBandsOfPaletteColoursFillingTheStack)
{
    const cv::Mat photo = SamplePhoto();
    ASSERT_FALSE(photo.empty()) << "sample photo missing";
    const std::vector<LayerEntry> palettes[] = {
        {kBlack, kWhite},
        {kBlack, LayerEntry(0, 0, 255, 0.3f), kWhite},
        {kBlack, LayerEntry(0, 0, 255, 0.3f), LayerEntry(120, 60, 0, 0.4f), kWhite},
    };
    for (const auto& palette : palettes) {
        PhotosRelief relief = FromImage(photo, palette);
        for (int baseCount : {0, 3}) {
            SCOPED_TRACE(testing::Message() << palette.size() << " colours, base " << baseCount);
            const auto stack = Propose(relief, baseCount, 20);
            ASSERT_GE(stack.size(), 20u);
            // Bands never interleave: each palette position appears as one run, in rising order.
            size_t position = 0;
            for (const auto& entry : stack) {
                while (position < relief.Palette().size() && relief.Palette()[position] != entry) ++position;
                ASSERT_LT(position, relief.Palette().size()) << "entry out of band order or not in palette";
            }
            EXPECT_EQ(stack.back(), relief.Palette().back());
            if (palette.size() == 2) {
                EXPECT_EQ(stack.size(), 20u);
            }
            EXPECT_EQ(Propose(relief, baseCount, 20), stack) << "the same picture gives the same proposal";
        }
    }
}

TEST(AutoLayer, FirstBandIsBoundedByTheBaseCount)
{
    const cv::Mat photo = SamplePhoto();
    ASSERT_FALSE(photo.empty());
    PhotosRelief relief = FromImage(photo, {kBlack, kWhite});
    const auto stack = Propose(relief, 3, 40);
    const auto blackCount = std::count(stack.begin(), stack.end(), kBlack);
    EXPECT_LE(blackCount, 13);
}

TEST(AutoLayer, PrintsTheFitToStandardOutput)
{
    PhotosRelief relief = FromImage(orvane_test::MakeRings(64, 64), {kBlack, kWhite});
    std::vector<LayerEntry> stack;
    testing::internal::CaptureStdout();
    relief.GetAutoLayerInfo(stack, 0, 10);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 6) << printed;
}
