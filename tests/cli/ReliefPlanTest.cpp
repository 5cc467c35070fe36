// The single body, the swap list and the library's preview must agree level for level: a
// slicer cutting at layer middles prints, at every grey value, exactly the layers whose colour
// the preview shows on top, and the swap list loads that colour for them.
#include <numeric>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Colours.h"
#include "ReliefPlan.h"

using namespace orvane_cli;
using Orvanes::LayerEntry;

namespace {

LayerEntry Colour(const char* entry) { return ParseColour(entry, 1.0f, "test"); }

// The relief level the swap list loads at grey value grey: that of the last change whose
// threshold the grey reaches (every level has its own colour here, so every level is a change).
int SwapLevelOfGrey(const std::vector<ColourSwap>& swaps, int baseCount, double grey)
{
    int level = 0;
    for (const ColourSwap& swap : swaps)
        if (swap.greyThreshold >= 0 && swap.greyThreshold <= grey) level = swap.stackIndex - baseCount;
    return level;
}

}  // namespace

TEST(ReliefPlan, BodySwapsAndPreviewShowTheSameLevelAtEveryGrey)
{
    struct Case {
        double greyMin, greyMax;
        int stackSize, baseCount;
        double first, layer;
    };
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

        // The library's own preview, where a photo can have this grey range: a ramp through
        // every grey value, or a uniform picture.
        cv::Mat preview;
        if (c.greyMax - c.greyMin == 255 || c.greyMax == c.greyMin) {
            std::vector<uint8_t> greys(256, static_cast<uint8_t>(c.greyMin));
            if (c.greyMax > c.greyMin) std::iota(greys.begin(), greys.end(), uint8_t(0));
            cv::Mat bgr;
            cv::cvtColor(cv::Mat(greys).reshape(1, 1), bgr, cv::COLOR_GRAY2BGR);
            std::vector<uint8_t> png;
            cv::imencode(".png", bgr, png);
            Orvanes::PhotosRelief model(cv::Mat(png).reshape(1, 1), 256, 1, 1, nullptr, {});
            ASSERT_EQ(model.GreyMin(), c.greyMin);
            ASSERT_EQ(model.GreyMax(), c.greyMax);
            preview = model.UpdatePreviewImage(stack, c.baseCount, 0, 0, 0);
        }

        const BodyLevels body = SingleBodyLevels(c.greyMin, c.greyMax, c.stackSize, c.baseCount, grid);
        const double topThreshold = Orvanes::PhotosRelief::LevelThreshold(c.greyMin, c.greyMax, relief, relief);
        for (int grey = int(c.greyMin); grey <= int(c.greyMax); ++grey) {
            const int level = SwapLevelOfGrey(swaps, c.baseCount, grey);
            if (!preview.empty()) {
                const int blue = preview.at<cv::Vec3b>(0, grey - int(c.greyMin))[0];
                ASSERT_EQ((blue - 1) / 2, level) << "grey " << grey << ": the preview shows another level";
            }
            const double top = BodyTopHeight(body, grey, c.greyMin, c.greyMax);
            const int printed = grid.LayersBelow(static_cast<float>(top));  // the mesher stores floats
            const bool flat = Orvanes::PhotosRelief::LevelGreyStep(c.greyMin, c.greyMax, relief) == 0;
            if (flat)
                ASSERT_EQ(printed, c.stackSize) << "grey " << grey;
            else if (grey < topThreshold)
                ASSERT_EQ(printed, c.baseCount + level + 1) << "grey " << grey;
            else  // beyond the last threshold the surface keeps rising, in the last colour
                ASSERT_GE(printed, c.stackSize) << "grey " << grey;
        }
    }
}

TEST(ReliefPlan, SwapListNamesEachColourChangeWithItsLayerAndThreshold)
{
    const auto black = Colour("000000:1"), blue = Colour("2040a0:0.4"), white = Colour("ffffff:0.125");
    const std::vector<LayerEntry> stack = {black, black, black, black, blue, blue, white, white, white};
    const LayerGrid grid{0.2, 0.1};
    const std::vector<ColourSwap> swaps = SwapList(stack, 2, 0, 255, grid);  // 7 relief levels, step 36
    // Layer number, bottom, top, grey threshold (-1 for a base level), colour.
    const std::tuple<int, double, double, double, LayerEntry> expected[] = {
        {1, 0.0, 0.2, -1, black}, {5, 0.5, 0.6, 2 * 36, blue}, {7, 0.7, 0.8, 4 * 36, white}};
    ASSERT_EQ(swaps.size(), 3u);
    for (size_t k = 0; k < swaps.size(); ++k) {
        SCOPED_TRACE(k);
        const auto& [layer, bottom, top, threshold, colour] = expected[k];
        EXPECT_EQ(swaps[k].layerNumber, layer);
        EXPECT_NEAR(swaps[k].bottom, bottom, 1e-12);
        EXPECT_NEAR(swaps[k].top, top, 1e-12);
        EXPECT_EQ(swaps[k].greyThreshold, threshold);
        EXPECT_TRUE(swaps[k].colour == colour);
    }
    // The same colour with another opacity is another filament setting: a swap.
    EXPECT_EQ(SwapList({white, Colour("ffffff:0.5")}, 0, 0, 255, grid).size(), 2u);
    EXPECT_GT(LayerGrid({0.2, 1e-300}).LayersBelow(5.0), 1000000) << "a hair-thin layer overflowed the count";
    // Blue first, as the library keeps colours.
    EXPECT_TRUE(ParseColour("#ff8800:0.3", 0.25f, "x") == LayerEntry(0x00, 0x88, 0xff, 0.3f));
    EXPECT_TRUE(ParseColour("FF8800", 0.25f, "x") == LayerEntry(0x00, 0x88, 0xff, 0.25f));
}
