#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "FlatBuffers.h"
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
    OrvaneReliefProxy proxy{png.data(), pngLength, 200, 100, 1, kHostRed, 4, nullptr};
};

cv::Vec3b Pixel(const unsigned char* rgb, int width, int r, int c)
{
    const unsigned char* p = rgb + 3 * (r * width + c);
    return cv::Vec3b(p[0], p[1], p[2]);
}

}  // namespace

TEST(FlatLayerList, ReordersGroupsBlueFirstDropsTheIncompleteTailAndReadsNothingItMustNot)
{
    const float colours[10] = {255, 0, 0, 1, 10, 20, 30, 0.5f, 99, 99};
    EXPECT_EQ(detail::LayerListFromFloats(colours, 10),
              (std::vector<LayerEntry>{LayerEntry(0, 0, 255, 1), LayerEntry(30, 20, 10, 0.5f)}));
    for (int count : {3, 0, -8}) EXPECT_TRUE(detail::LayerListFromFloats(colours, count).empty()) << count;
    EXPECT_TRUE(detail::LayerListFromFloats(nullptr, 400).empty());  // a count with no array
}

TEST_F(ReliefProxyResults, LayerProposalComesBackInStoredBlueFirstOrder)
{
    // A one-colour palette proposes that colour on every level, so the floats show how the
    // host's red-first colour was stored.
    int count = -1;
    const float* floats = proxy.GetAutoLayerInfo(count, 1, 3);
    ASSERT_EQ(count, 12);
    EXPECT_EQ(std::vector<float>(floats, floats + 12), (std::vector<float>{0, 0, 255, 1, 0, 0, 255, 1, 0, 0, 255, 1}));

    // Colours the proxy must not read leave the model without a palette, hence no proposal.
    OrvaneReliefProxy withoutPalette(png.data(), pngLength, 200, 100, 1, nullptr, 40, nullptr);
    withoutPalette.GetAutoLayerInfo(count, 0, 3);
    EXPECT_EQ(count, 0);
}

TEST_F(ReliefProxyResults, MeshIsTheModelsStlStreamAndFollowsEachCall)
{
    PhotosRelief model(cv::Mat(1, pngLength, CV_8UC1, png.data()), 200, 100, 1, nullptr, {LayerEntry(0, 0, 255, 1)});
    for (const int end : {4, 10}) {
        SCOPED_TRACE(end);
        const MeshProxy stream = proxy.GetMesh(end / 5, end, 0.2, 0.6);
        int size = 0;
        const std::unique_ptr<const char[]> expected(
            model.GetSTLStream(model.GetMesh(end / 5, end, 0.2, 0.6), size));
        ASSERT_NE(stream.data, nullptr);
        ASSERT_EQ(stream.size, size);
        EXPECT_EQ(static_cast<int64_t>(stream.size), 84 + 50 * int64_t(StlFacetCount(stream)));
        EXPECT_GT(StlFacetCount(stream), 0u);
        EXPECT_EQ(std::memcmp(stream.data, expected.get(), static_cast<size_t>(size)), 0);
    }
}

TEST_F(ReliefProxyResults, PreviewIsPackedRgbOfTheWorkingSize)
{
    // Bottom level blue, top level red, host order. Every pixel reaches the bottom level; the
    // brightest reach the top one too and show both added.
    const float stack[8] = {0, 0, 255, 1, 255, 0, 0, 1};
    int width = 0, height = 0, size = 0;
    const unsigned char* rgb = proxy.UpdatePreviewImage(stack, 8, width, height, size, 0, 0, 0, 0);
    ASSERT_EQ(cv::Vec3i(width, height, size), cv::Vec3i(200, 100, 60000));
    EXPECT_EQ(Pixel(rgb, width, 0, 0), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(Pixel(rgb, width, 99, 199), cv::Vec3b(255, 0, 255));

    rgb = proxy.UpdatePreviewImage(stack, 8, width, height, size, 0, 100, 50, 1);
    ASSERT_EQ(cv::Vec3i(width, height, size), cv::Vec3i(100, 50, 15000));
    EXPECT_EQ(Pixel(rgb, width, 0, 0), cv::Vec3b(0, 0, 255));
}
