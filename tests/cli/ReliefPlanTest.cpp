// The single body, the swap list and the library's preview agree level for level: at every grey a
// slicer cutting at layer middles prints the layers whose colour the preview shows on top.
#include <numeric>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "Colours.h"
#include "ReliefPlan.h"

using namespace orvane_cli;
using Orvanes::LayerEntry;
using Orvanes::PhotosRelief;

TEST(ReliefPlan, BodySwapsAndPreviewShowTheSameLevelAtEveryGrey)
{
    struct Case { double greyMin, greyMax; int stackSize, baseCount; double first, layer; };
    // A uniform photo (128) and a narrow grey span: every level covers every pixel, one block as
    // tall as the stack.
    for (const Case& c : {Case{0, 255, 18, 3, 0.2, 0.1}, Case{0, 255, 20, 0, 0.2, 0.1}, Case{12, 200, 7, 2, 0.16, 0.08},
                          Case{0, 255, 100, 4, 0.2, 0.1}, Case{0, 255, 121, 1, 0.3, 0.12}, Case{3, 250, 2, 1, 0.2, 0.2},
                          Case{128, 128, 10, 2, 0.2, 0.1}, Case{100, 104, 10, 2, 0.2, 0.1}}) {
        SCOPED_TRACE(testing::Message() << c.greyMin << "-" << c.greyMax << " stack " << c.stackSize << " base "
                                        << c.baseCount << " layers " << c.first << "/" << c.layer);
        const LayerGrid grid{c.first, c.layer};
        const int relief = c.stackSize - c.baseCount;
        // Relief level l in blue l + 1, opaque: the cover reaches exactly 1 under the top level,
        // so the preview adds the level below it too and shows blue 2l + 1 (l > 0) or 1.
        std::vector<LayerEntry> stack(size_t(c.baseCount), LayerEntry(0, 0, 0, 1));
        for (int l = 0; l < relief; ++l) stack.emplace_back(float(l + 1), 0, 0, 1);
        const std::vector<ColourSwap> swaps = SwapList(stack, c.baseCount, c.greyMin, c.greyMax, grid);
        ASSERT_EQ(swaps.size(), size_t(relief + (c.baseCount > 0)));
        // The library's own preview, where a photo has this grey range: a ramp through every grey, or one grey.
        cv::Mat preview;
        if (c.greyMax - c.greyMin == 255 || c.greyMax == c.greyMin) {
            std::vector<uint8_t> greys(256, static_cast<uint8_t>(c.greyMin)), png;
            if (c.greyMax > c.greyMin) std::iota(greys.begin(), greys.end(), uint8_t(0));
            cv::imencode(".png", cv::Mat(greys).reshape(1, 1), png);
            PhotosRelief model(cv::Mat(png).reshape(1, 1), 256, 1, 1, nullptr, {});
            ASSERT_EQ(cv::Vec2d(model.GreyMin(), model.GreyMax()), cv::Vec2d(c.greyMin, c.greyMax));
            preview = model.UpdatePreviewImage(stack, c.baseCount, 0, 0, 0);
        }
        const BodyLevels body = SingleBodyLevels(c.greyMin, c.greyMax, c.stackSize, c.baseCount, grid);
        const bool flat = PhotosRelief::LevelGreyStep(c.greyMin, c.greyMax, relief) == 0;
        for (int grey = int(c.greyMin); grey <= int(c.greyMax); ++grey) {
            int level = 0;  // of the last change whose threshold this grey reaches
            for (const ColourSwap& swap : swaps)
                if (swap.greyThreshold >= 0 && swap.greyThreshold <= grey) level = swap.stackIndex - c.baseCount;
            if (!preview.empty()) {
                ASSERT_EQ((preview.at<cv::Vec3b>(0, grey - int(c.greyMin))[0] - 1) / 2, level) << "grey " << grey;
            }
            // The mesher stores floats.
            const int printed = grid.LayersBelow(static_cast<float>(BodyTopHeight(body, grey, c.greyMin, c.greyMax)));
            if (flat)
                ASSERT_EQ(printed, c.stackSize) << "grey " << grey;
            else if (grey < PhotosRelief::LevelThreshold(c.greyMin, c.greyMax, relief, relief))
                ASSERT_EQ(printed, c.baseCount + level + 1) << "grey " << grey;
            else  // beyond the last threshold the surface keeps rising, in the last colour
                ASSERT_GE(printed, c.stackSize) << "grey " << grey;
        }
    }
}

TEST(ReliefPlan, SwapListNamesEachColourChangeWithItsLayerAndThreshold)
{
    const auto colour = [](const char* text) { return ParseColour(text, 1.0f, "test"); };
    const LayerEntry black = colour("000000:1"), blue = colour("2040a0:0.4"), white = colour("ffffff:0.125");
    const LayerGrid grid{0.2, 0.1};
    // 7 relief levels over 0..255: a grey step of 36.
    const std::vector<ColourSwap> swaps =
        SwapList({black, black, black, black, blue, blue, white, white, white}, 2, 0, 255, grid);
    // Layer number, bottom, top, grey threshold (-1 for a base level), colour.
    const std::tuple<int, double, double, double, LayerEntry> expected[] = {
        {1, 0.0, 0.2, -1, black}, {5, 0.5, 0.6, 2 * 36, blue}, {7, 0.7, 0.8, 4 * 36, white}};
    ASSERT_EQ(swaps.size(), 3u);
    for (size_t k = 0; k < swaps.size(); ++k) {
        const auto& [layer, bottom, top, threshold, entry] = expected[k];
        EXPECT_EQ(swaps[k].layerNumber, layer) << k;
        EXPECT_NEAR(swaps[k].bottom, bottom, 1e-12) << k;
        EXPECT_NEAR(swaps[k].top, top, 1e-12) << k;
        EXPECT_EQ(swaps[k].greyThreshold, threshold) << k;
        EXPECT_TRUE(swaps[k].colour == entry) << k;
    }
    // Only a body taller than the stack has brightest pixels to mention.
    for (int printed : {9, 10})
        EXPECT_EQ(SwapListText(swaps, grid, 9, printed, {}).find("layers above 9") != std::string::npos, printed > 9);
    // The same colour with another opacity is another filament setting: a swap.
    EXPECT_EQ(SwapList({white, colour("ffffff:0.5")}, 0, 0, 255, grid).size(), 2u);
    EXPECT_GT(LayerGrid({0.2, 1e-300}).LayersBelow(5.0), 1000000) << "a hair-thin layer overflowed the count";
    EXPECT_EQ(cv::Vec2i(grid.LayersBelow(0.09), grid.LayersBelow(0.11)), cv::Vec2i(0, 1)) << "the first layer's middle";
    // Blue first, as the library keeps colours.
    EXPECT_TRUE(ParseColour("#FF8800", 0.25f, "x") == LayerEntry(0x00, 0x88, 0xff, 0.25f));
}
