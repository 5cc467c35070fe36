#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "OrvaneReliefProxy.h"
#include "PhotosRelief.h"
#include "ProxyFixtures.h"

using namespace Orvanes;
using namespace orvane_test;

namespace {

const float kHostRed[4] = {255, 0, 0, 1};  // red, green, blue, opacity as hosts send it

class ReliefProxyResults : public testing::Test {
protected:
    std::vector<char> png = EncodePng(ColourRamp(200, 100));
    int pngLength = static_cast<int>(png.size());
};

}  // namespace

TEST_F(ReliefProxyResults, LayerProposalComesBackInStoredBlueFirstOrder)
{
    // A one-colour palette proposes that colour on every level, so the floats show how the
    // host's red-first colour was stored.
    OrvaneReliefProxy proxy(png.data(), pngLength, 200, 100, 1, kHostRed, 4, nullptr);
    int count = -1;
    const float* floats = proxy.GetAutoLayerInfo(count, 1, 3);
    ASSERT_EQ(count, 12);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(floats[4 * i + 0], 0.0f);
        EXPECT_EQ(floats[4 * i + 1], 0.0f);
        EXPECT_EQ(floats[4 * i + 2], 255.0f);
        EXPECT_EQ(floats[4 * i + 3], 1.0f);
    }

    // Colours the proxy must not read leave the model without a palette, hence no proposal.
    OrvaneReliefProxy withoutPalette(png.data(), pngLength, 200, 100, 1, nullptr, 40, nullptr);
    withoutPalette.GetAutoLayerInfo(count, 0, 3);
    EXPECT_EQ(count, 0);
}

TEST_F(ReliefProxyResults, MeshIsTheModelsStlStreamAndFollowsEachCall)
{
    OrvaneReliefProxy proxy(png.data(), pngLength, 200, 100, 1, kHostRed, 4, nullptr);
    PhotosRelief model(cv::Mat(1, pngLength, CV_8UC1, png.data()), 200, 100, 1, nullptr,
                       {LayerEntry(0, 0, 255, 1)});
    struct Levels { int start, end; } const calls[] = {{0, 4}, {2, 10}};
    for (const Levels& levels : calls) {
        SCOPED_TRACE(levels.end);
        const MeshProxy stream = proxy.GetMesh(levels.start, levels.end, 0.2, 0.6);
        int size = 0;
        const std::unique_ptr<const char[]> expected(
            model.GetSTLStream(model.GetMesh(levels.start, levels.end, 0.2, 0.6), size));
        ASSERT_NE(stream.data, nullptr);
        ASSERT_EQ(stream.size, size);
        EXPECT_EQ(static_cast<int64_t>(stream.size), 84 + 50 * int64_t(StlFacetCount(stream)));
        EXPECT_GT(StlFacetCount(stream), 0u);
        EXPECT_EQ(std::memcmp(stream.data, expected.get(), static_cast<size_t>(size)), 0);
    }
}

TEST_F(ReliefProxyResults, PreviewIsPackedRgbOfTheWorkingSize)
{
    OrvaneReliefProxy proxy(png.data(), pngLength, 200, 100, 1, kHostRed, 4, nullptr);
    // Bottom level blue, top level red, host order. Every pixel reaches the bottom level; the
    // brightest reach the top one too and show both added.
    const float stack[8] = {0, 0, 255, 1, 255, 0, 0, 1};
    int width = 0, height = 0, size = 0;
    const unsigned char* rgb = proxy.UpdatePreviewImage(stack, 8, width, height, size, 0, 0, 0, 0);
    ASSERT_EQ(width, 200);
    ASSERT_EQ(height, 100);
    ASSERT_EQ(size, 60000);
    const unsigned char* darkest = rgb;  // row 0, column 0
    EXPECT_EQ(cv::Vec3b(darkest[0], darkest[1], darkest[2]), cv::Vec3b(0, 0, 255));
    const unsigned char* brightest = rgb + 3 * (99 * 200 + 199);
    EXPECT_EQ(cv::Vec3b(brightest[0], brightest[1], brightest[2]), cv::Vec3b(255, 0, 255));

    rgb = proxy.UpdatePreviewImage(stack, 8, width, height, size, 0, 100, 50, 1);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 50);
    EXPECT_EQ(size, 15000);
    EXPECT_EQ(cv::Vec3b(rgb[0], rgb[1], rgb[2]), cv::Vec3b(0, 0, 255));
}
