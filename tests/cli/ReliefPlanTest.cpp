// The single body, the swap list and the preview must agree level for level: a slicer cutting at
// layer middles prints, at every grey value, exactly the layers whose colour the preview shows.
#include <tuple>

#include <gtest/gtest.h>

#include "Colours.h"
#include "ReliefPlan.h"

using namespace orvane_cli;

namespace {

Orvanes::LayerEntry Colour(const char* entry) { return ParseColour(entry, 1.0f, "test"); }

}  // namespace

TEST(ReliefPlan, BodyTopsOutInTheLayerThePreviewShowsOnTop)
{
    struct Case {
        double greyMin, greyMax;
        int stackSize, baseCount;
        double first, layer;
    };
    // The last two are flat or narrow pictures: every level covers every pixel, one block as tall as the stack.
    for (const Case& c : {Case{0, 255, 18, 3, 0.2, 0.1}, Case{0, 255, 20, 0, 0.2, 0.1}, Case{12, 200, 7, 2, 0.16, 0.08},
                          Case{0, 255, 100, 4, 0.2, 0.1}, Case{0, 255, 256, 1, 0.3, 0.12}, Case{3, 250, 2, 1, 0.2, 0.2},
                          Case{128, 128, 10, 2, 0.2, 0.1}, Case{100, 104, 10, 2, 0.2, 0.1}}) {
        SCOPED_TRACE(testing::Message() << c.greyMin << "-" << c.greyMax << " stack " << c.stackSize << " base "
                                        << c.baseCount << " layers " << c.first << "/" << c.layer);
        const LayerGrid grid{c.first, c.layer};
        const int relief = c.stackSize - c.baseCount;
        const BodyLevels body = SingleBodyLevels(c.greyMin, c.greyMax, c.stackSize, c.baseCount, grid);
        const int step = GreyStep(c.greyMin, c.greyMax, relief);
        for (int grey = int(c.greyMin); grey <= int(c.greyMax); ++grey) {
            const double top = BodyTopHeight(body, grey, c.greyMin, c.greyMax);
            const int printed = grid.LayersBelow(static_cast<float>(top));  // the mesher stores floats
            const int level = TopLevelOfGrey(grey, c.greyMin, c.greyMax, relief);
            const bool belowTopThreshold = step == 0 || grey < c.greyMin + double(relief) * step;
            if (belowTopThreshold)
                ASSERT_EQ(printed, c.baseCount + level + 1) << "grey " << grey;
            else  // beyond the last threshold the surface keeps rising, in the last colour
                ASSERT_GE(printed, c.stackSize) << "grey " << grey;
        }
    }
}

TEST(ReliefPlan, LayerCountOfAHairThinLayerStaysInRange)
{
    EXPECT_GT(LayerGrid({0.2, 1e-300}).LayersBelow(5.0), 1000000);
}

TEST(ReliefPlan, SwapListNamesEachColourChangeWithItsLayerAndThreshold)
{
    const auto black = Colour("000000:1"), blue = Colour("2040a0:0.4"), white = Colour("ffffff:0.125");
    const std::vector<Orvanes::LayerEntry> stack = {black, black, black, black, blue, blue, white, white, white};
    const LayerGrid grid{0.2, 0.1};
    const std::vector<ColourSwap> swaps = SwapList(stack, 2, 0, 255, grid);  // 7 relief levels, step 36
    // Layer number, bottom, top, grey threshold (-1 for a base level), colour.
    const std::tuple<int, double, double, double, Orvanes::LayerEntry> expected[] = {
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
    const std::vector<Orvanes::LayerEntry> twoWhites = {white, Colour("ffffff:0.5")};
    EXPECT_EQ(SwapList(twoWhites, 0, 0, 255, grid).size(), 2u);
}

TEST(Colours, HexIsReadBlueFirstWithItsOpacityOrTheDefault)
{
    // Blue first, as the library keeps colours.
    EXPECT_TRUE(ParseColour("#ff8800:0.3", 0.25f, "x") == Orvanes::LayerEntry(0x00, 0x88, 0xff, 0.3f));
    EXPECT_TRUE(ParseColour("FF8800", 0.25f, "x") == Orvanes::LayerEntry(0x00, 0x88, 0xff, 0.25f));
}
